// Choosing between the library's board and a "++" adapter, and passing the calls to the one chosen.
#include "adapterfinder.h"

#include "adapterdriver.h"
#include "bus/driverbases.h"
#include "bus/gpibconstants.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ostream>
#include <utility>

namespace ktq::bus {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool isComName(std::string_view text) {
    if (text.starts_with(R"(\\.\)")) {
        text.remove_prefix(4);
    }
    if (text.size() < 4) {
        return false;
    }
    const auto upper = [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); };
    if (upper(text[0]) != 'C' || upper(text[1]) != 'O' || upper(text[2]) != 'M') {
        return false;
    }
    return std::all_of(text.begin() + 3, text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

std::optional<int> portNumber(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || port < 1 ||
        port > 65535) {
        return std::nullopt;
    }
    return port;
}

constexpr int ftdiVendor = 0x0403;
constexpr int ftdiFt232r = 0x6001; // the Prologix GPIB-USB's chip
constexpr int arduinoVendor = 0x2341;

bool knownAdapterIdentity(const SerialPortInfo& port) {
    return (port.vendorId == ftdiVendor && port.productId == ftdiFt232r) || port.vendorId == arduinoVendor;
}

std::string whereOf(const AdapterAddress& address) {
    if (!address.serialPort.empty()) {
        return address.serialPort;
    }
    const bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

} // namespace

std::optional<AdapterAddress> parseAdapterAddress(std::string_view setting, std::string& error) {
    const std::string_view text = trimmed(setting);
    AdapterAddress address;
    if (text.starts_with('/') || isComName(text)) {
        address.serialPort = std::string(text);
        return address;
    }
    std::string_view host = text;
    std::optional<std::string_view> port;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            error = "an IPv6 address in brackets lacks its \"]\"";
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (!rest.starts_with(':')) {
                error = "after \"]\" only \":port\" may follow";
                return std::nullopt;
            }
            port = rest.substr(1);
        }
    } else if (const std::size_t colon = text.find(':');
               colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty()) {
        error = "no host, device path or COM port is named";
        return std::nullopt;
    }
    address.host = std::string(host);
    if (port) {
        const std::optional<int> number = portNumber(*port);
        if (!number) {
            error = "the port must be a number from 1 to 65535";
            return std::nullopt;
        }
        address.port = *number;
    }
    return address;
}

std::vector<SerialPortInfo> portsToProbe(std::vector<SerialPortInfo> ports, bool usbPortsOnly) {
    if (usbPortsOnly) {
        std::erase_if(ports, [](const SerialPortInfo& port) { return port.vendorId < 0; });
    }
    std::stable_partition(ports.begin(), ports.end(), knownAdapterIdentity);
    return ports;
}

AdapterFinder::AdapterFinder(std::unique_ptr<GpibDriver> library, std::unique_ptr<LinkOpener> opener,
                             AdapterSearch search, std::ostream& log)
    : m_library(std::move(library)), m_opener(std::move(opener)), m_search(std::move(search)), m_log(log),
      m_unreachable(std::make_unique<FailingDriver>(adapterFamily, ni::EDVR, 0)), m_current(m_library.get()) {
}

AdapterFinder::~AdapterFinder() = default;

std::string_view AdapterFinder::family() const {
    return target().family();
}

std::string AdapterFinder::linkDescription() const {
    const std::lock_guard lock(m_choiceMutex);
    return m_description;
}

DriverPlan AdapterFinder::plan() const {
    DriverPlan plan = m_library->plan();
    plan.namedAdapter = m_search.setting;
    plan.asksPorts = m_search.setting.empty();
    return plan;
}

std::string AdapterFinder::unreachableReason() const {
    const std::lock_guard lock(m_choiceMutex);
    return m_unreachableReason;
}

GpibDriver& AdapterFinder::target() const {
    const std::lock_guard lock(m_choiceMutex);
    return *m_current;
}

void AdapterFinder::choose(GpibDriver* current, std::string description, std::string unreachable) {
    const std::lock_guard lock(m_choiceMutex);
    m_current = current;
    m_description = std::move(description);
    m_unreachableReason = std::move(unreachable);
}

int AdapterFinder::ibfind(const char* name) {
    if (!m_search.setting.empty()) {
        return findNamedAdapter(name);
    }
    const int board = m_library->ibfind(name);
    if (board >= 0) {
        choose(m_library.get(), {});
        m_adapter.reset();
        return board;
    }
    return findAdapterOnPorts(name);
}

// An adapter in use that still sets up is kept: asking every port again would reset an AR488's
// Arduino and take seconds. One that fails is let go (its port closed) and looked for anew, as
// after it was unplugged and plugged back in.
int AdapterFinder::findNamedAdapter(const char* name) {
    if (const std::optional<int> again = setUpAgain(name)) {
        return *again;
    }
    if (m_adapter) {
        // Its port is let go first: a serial port opens for one program, and one link, at a time.
        choose(m_unreachable.get(), {});
        m_adapter.reset();
    }
    std::string error;
    const std::optional<AdapterAddress> address = parseAdapterAddress(m_search.setting, error);
    if (!address) {
        return failWith("KTQ_GPIB_ADAPTER=" + m_search.setting + " names no adapter: " + error);
    }
    const std::string where = whereOf(*address);
    std::unique_ptr<AdapterLink> link = openNamed(*address, error);
    if (!link) {
        return failWith(where + " (KTQ_GPIB_ADAPTER) cannot be opened: " + error);
    }
    const std::optional<AdapterIdentity> identity = identify(*link);
    if (!identity) {
        return failWith("nothing on " + where + " (KTQ_GPIB_ADAPTER) answers \"++ver\" as a GPIB adapter");
    }
    auto adapter = std::make_unique<AdapterDriver>(std::move(link), *identity);
    adapter->setLinkListener(m_listener);
    std::string description = adapter->description();
    return useAdapter(std::move(adapter), std::move(description), name);
}

std::optional<int> AdapterFinder::setUpAgain(const char* name) {
    if (!m_adapter) {
        return std::nullopt;
    }
    const int again = m_adapter->ibfind(name);
    return again >= 0 ? std::optional<int>(again) : std::nullopt;
}

std::unique_ptr<AdapterLink> AdapterFinder::openNamed(const AdapterAddress& address, std::string& error) {
    if (!address.serialPort.empty()) {
        return m_opener->openSerial(address.serialPort, error);
    }
    return m_opener->openTcp(address.host, address.port, error);
}

// The identification is heard as the driver's calls are, under the ibfind that asked.
std::optional<AdapterIdentity> AdapterFinder::identify(AdapterLink& link) {
    ListenedLink heard(link, m_listener);
    return identifyAdapter(heard);
}

void AdapterFinder::setLinkListener(LinkListener* listener) {
    m_listener = listener;
    if (m_adapter)
        m_adapter->setLinkListener(listener);
}

int AdapterFinder::findAdapterOnPorts(const char* name) {
    if (const std::optional<int> again = setUpAgain(name)) {
        return *again;
    }
    // Until an adapter answers, the library's failed ibfind is what the status reads tell.
    choose(m_library.get(), {});
    m_adapter.reset();
    if (const std::string why = m_opener->whyUnusable(); !why.empty()) {
        return failWith("no \"++\" adapter can be looked for: " + why, m_library.get());
    }

    std::unique_ptr<AdapterDriver> first;
    std::vector<std::string> others;
    std::vector<std::string> asked;
    for (const SerialPortInfo& port : portsToProbe(m_opener->serialPorts(), m_search.usbPortsOnly)) {
        std::string error;
        std::unique_ptr<AdapterLink> link = m_opener->openSerial(port.name, error);
        if (!link) {
            continue; // in use by another program, or not ours to open: not where to look
        }
        asked.push_back(port.name);
        const std::optional<AdapterIdentity> identity = identify(*link);
        if (!identity) {
            continue;
        }
        auto adapter = std::make_unique<AdapterDriver>(std::move(link), *identity);
        adapter->setLinkListener(m_listener);
        if (!first) {
            first = std::move(adapter);
        } else {
            others.push_back(adapter->description());
        }
    }
    if (!first) {
        std::string line = "ktqconfig: GPIB adapter: none found";
        if (asked.empty()) {
            line += " (no USB serial port could be opened)";
        } else {
            line += " (asked";
            for (const std::string& port : asked) {
                line += " " + port;
            }
            line += ")";
        }
        m_log << line << '\n' << std::flush;
        return -1;
    }
    std::string description = first->description();
    if (!others.empty()) {
        description += "; answering too:";
        for (std::size_t k = 0; k < others.size(); ++k) {
            description += (k == 0 ? " " : ", ") + others[k];
        }
        description += " (set KTQ_GPIB_ADAPTER to choose another)";
    }
    return useAdapter(std::move(first), std::move(description), name);
}

int AdapterFinder::useAdapter(std::unique_ptr<GpibDriver> adapter, std::string description,
                              const char* name) {
    m_log << "ktqconfig: GPIB adapter: " << description << '\n' << std::flush;
    choose(adapter.get(), std::move(description));
    m_adapter = std::move(adapter);
    return m_adapter->ibfind(name);
}

// Standard error is not read on Windows: the reason is kept for the status line too.
int AdapterFinder::failWith(const std::string& reason, GpibDriver* answering) {
    m_log << "ktqconfig: GPIB adapter: " << reason << '\n' << std::flush;
    choose(answering ? answering : m_unreachable.get(), {}, reason);
    m_adapter.reset();
    return -1;
}

} // namespace ktq::bus
