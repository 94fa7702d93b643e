// The driver calls spoken as a "++" adapter's commands: setting it up, addressing, escaping data,
// reading replies to the end-of-transmission byte, and NI's status words for what came of it.
#include "adapterdriver.h"

#include "gpibconstants.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace ktq::bus {

namespace {

using std::chrono::milliseconds;

constexpr char esc = 0x1b;
constexpr int highestPrimary = 30;
constexpr int lowestSecondary = 0x60;
constexpr int highestSecondary = 0x7e;
// A "++ver" answer takes an AR488 on an Arduino up to about 2 s (it resets when its port opens).
constexpr milliseconds identifyWait{3000};
// The driver's wait beyond the adapter's own read timeout: a USB serial chip holds a short reply
// up to 16 ms, a busy host takes its time to pass it on.
constexpr milliseconds replyMargin{1000};
// The most a Prologix takes for "++read_tmo_ms"; T3s, the program's timeout, needs no more.
constexpr int longestReadTimeoutMs = 3000;
// The Prologix listener search polls each address with this read timeout: a unit answers a
// serial poll within microseconds, so an absent one costs no more than this.
constexpr int searchReadTimeoutMs = 30;
// Something on a link that answers with a stream of bytes or lines is not an adapter.
constexpr std::size_t longestIdentifyAnswer = 4096;
constexpr int mostIdentifyLines = 8;
// What a drain or a reply takes at most before it stops looking: a unit or a device that never
// stops sending must not hold the bus thread or fill memory.
constexpr std::size_t longestStaleInput = 65536;

// Bus commands SendCmds can stand for with the adapter's own commands.
constexpr unsigned char unlisten = 0x3f;
constexpr unsigned char untalk = 0x5f;
constexpr unsigned char groupExecuteTrigger = 0x08;
constexpr unsigned char firstListen = 0x20;

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// Reads what has come, until the link is quiet or a stream that never ends has had its share;
// false when the link is gone.
bool drain(AdapterLink& link) {
    bool gone = false;
    std::size_t drained = 0;
    for (std::string got; drained < longestStaleInput && !gone;) {
        got = link.read(milliseconds(0), gone);
        if (got.empty())
            break;
        drained += got.size();
    }
    return !gone;
}

// One line from the adapter, without its line end; nullopt after `wait` of silence or when the
// link is gone (then `gone` is set). `pending` keeps what came after the line.
std::optional<std::string> readLine(AdapterLink& link, milliseconds wait, std::string& pending, bool& gone) {
    for (;;) {
        const auto end = pending.find('\n');
        if (end != std::string::npos) {
            std::string line = withoutLineEnd(pending.substr(0, end));
            pending.erase(0, end + 1);
            return line;
        }
        if (pending.size() > longestIdentifyAnswer)
            return std::nullopt;
        const std::string more = link.read(wait, gone);
        if (gone || more.empty())
            return std::nullopt;
        pending += more;
    }
}

// "Prologix GPIB-USB Controller version 6.107": the model between the maker and "Controller".
std::optional<AdapterIdentity> prologixIdentity(const std::string& answer) {
    const std::string maker = "Prologix ";
    const std::string version = " Controller version ";
    const auto at = answer.find(version);
    if (answer.rfind(maker, 0) != 0 || at == std::string::npos || at <= maker.size())
        return std::nullopt;
    const std::string model = answer.substr(maker.size(), at - maker.size());
    const std::string number = answer.substr(at + version.size());
    if (number.empty() || number.find(' ') != std::string::npos)
        return std::nullopt;
    return AdapterIdentity{AdapterIdentity::Kind::Prologix, answer, "Prologix " + model + " " + number};
}

// "AR488 GPIB controller, ver. 0.51.09, 20/06/2022": the version after "ver. ", up to a comma.
std::optional<AdapterIdentity> ar488Identity(const std::string& answer) {
    const std::string version = "ver. ";
    const auto at = answer.find(version);
    if (answer.rfind("AR488", 0) != 0 || at == std::string::npos)
        return std::nullopt;
    const auto start = at + version.size();
    const auto stop = answer.find(',', start);
    const std::string number = answer.substr(start, stop == std::string::npos ? stop : stop - start);
    if (number.empty())
        return std::nullopt;
    return AdapterIdentity{AdapterIdentity::Kind::Ar488, answer, "AR488 " + number};
}

// The address word's parts: PAD in the low byte, SAD 0x60..0x7E in the high byte (0: none).
struct BusAddress {
    int primary = 0;
    int secondary = 0; // as sent, 96..126; 0 for none
};

std::optional<BusAddress> busAddress(std::uint16_t word) {
    const BusAddress address{word & 0xff, word >> 8};
    // The adapter is the controller at 0: an AR488 ignores "++addr 0" and would keep talking to
    // the unit addressed before.
    if (address.primary < 1 || address.primary > highestPrimary)
        return std::nullopt;
    if (address.secondary != 0 &&
        (address.secondary < lowestSecondary || address.secondary > highestSecondary))
        return std::nullopt;
    return address;
}

std::string addressText(const BusAddress& address) {
    return std::to_string(address.primary) +
           (address.secondary != 0 ? " " + std::to_string(address.secondary) : std::string());
}

// Data for the adapter: CR, LF, ESC and "+" would end the line or start a command, so each goes
// behind an ESC and reaches the unit as it is.
std::string escaped(const char* bytes, long count) {
    std::string out;
    out.reserve(static_cast<std::size_t>(count) + 8);
    for (long k = 0; k < count; ++k) {
        const char ch = bytes[k];
        if (ch == '\r' || ch == '\n' || ch == esc || ch == '+')
            out += esc;
        out += ch;
    }
    return out;
}

std::string joined(const std::vector<std::string>& items, const char* separator = " ") {
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : separator) + item;
    return out;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> items;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto stop = text.find(separator, at);
        const std::string item = text.substr(at, stop == std::string::npos ? stop : stop - at);
        if (!item.empty())
            items.push_back(item);
        at = stop == std::string::npos ? text.size() : stop + 1;
    }
    return items;
}

std::optional<int> whole(const std::string& text, int lowest, int highest) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int value = std::stoi(text);
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<AdapterIdentity> adapterIdentity(std::string_view versionAnswer) {
    const std::string answer = withoutLineEnd(std::string(versionAnswer));
    if (auto prologix = prologixIdentity(answer))
        return prologix;
    return ar488Identity(answer);
}

std::optional<AdapterIdentity> identifyAdapter(AdapterLink& link) {
    if (!drain(link) || !link.write("++ver\n"))
        return std::nullopt;
    std::string pending;
    bool gone = false;
    // Whatever else the link says first (an echo, a boot message) is passed over.
    for (int k = 0; k < mostIdentifyLines; ++k) {
        const auto line = readLine(link, identifyWait, pending, gone);
        if (!line)
            break;
        if (auto identity = adapterIdentity(*line))
            return identity;
    }
    return std::nullopt;
}

// What the driver keeps between calls, and the steps every call is made of. Each step that can
// fail sets the status and returns false, so that a call stops at the first failing one.
struct AdapterDriver::State {
    State(AdapterLink& link, const AdapterIdentity& identity) : link(link), identity(identity) {}

    AdapterLink& link;
    const AdapterIdentity& identity;
    int ibsta = 0;
    int iberr = 0;
    long ibcnt = 0;
    bool gone = false;
    // The address last sent with "++addr"; none until one was, or after ibfind.
    std::optional<std::uint16_t> addressed;
    // The listeners bus commands named since the last unlisten, as "++trg" takes them.
    std::vector<std::string> listeners;
    int readTimeoutMs = longestReadTimeoutMs; // until ibtmo sets it: the longest the program uses
    std::string pending;                      // read past what the last read looked for

    milliseconds replyWait() const { return milliseconds(readTimeoutMs) + replyMargin; }
    bool prologix() const { return identity.kind == AdapterIdentity::Kind::Prologix; }

    void succeed(long count = 0, bool end = false) {
        ibsta = ni::CMPL | ni::CIC | (end ? ni::END : 0);
        iberr = 0;
        ibcnt = count;
    }
    // A failure on the bus: the adapter is still the controller in charge.
    bool fail(int code, long count = 0) {
        ibsta = ni::ERR | ni::CIC | (code == ni::EABO ? ni::TIMO : 0);
        iberr = code;
        ibcnt = count;
        return false;
    }
    // A failure of the driver itself: the adapter is out of reach or stopped making sense.
    bool driverFails() {
        ibsta = ni::ERR;
        iberr = ni::EDVR;
        ibcnt = 0;
        return false;
    }
    bool lost() {
        gone = true;
        return driverFails();
    }
    bool usable(int descriptor) {
        if (gone)
            return driverFails();
        return descriptor == 0 || driverFails();
    }
    // Writes the lines after what was left on the link is drained.
    bool exchange(const std::string& lines) {
        pending.clear();
        if (!drain(link) || !link.write(lines))
            return lost();
        return true;
    }
    std::optional<std::string> line(milliseconds wait) {
        bool lostLink = false;
        auto text = readLine(link, wait, pending, lostLink);
        if (lostLink)
            lost();
        return text;
    }
    // "++addr" for the address word, where it is not the one the adapter was told last.
    bool addressLine(std::uint16_t word, std::string& lines) {
        const auto address = busAddress(word);
        if (!address)
            return fail(ni::EARG);
        if (addressed != word)
            lines += "++addr " + addressText(*address) + "\n";
        return true;
    }
    bool sendAddressed(std::uint16_t word, const std::string& lines) {
        std::string all;
        if (!addressLine(word, all) || !exchange(all + lines))
            return false;
        addressed = word;
        return true;
    }
};

AdapterDriver::AdapterDriver(std::unique_ptr<AdapterLink> link, AdapterIdentity identity)
    : m_link(std::move(link)), m_identity(std::move(identity)),
      m_state(std::make_unique<State>(*m_link, m_identity)) {}

AdapterDriver::~AdapterDriver() = default;

std::string_view AdapterDriver::family() const {
    return adapterFamily;
}

std::string AdapterDriver::description() const {
    return m_identity.name + " on " + m_link->where();
}

int AdapterDriver::ibfind(const char* name) {
    State& s = *m_state;
    if (!s.usable(0))
        return -1;
    if (name == nullptr || std::string_view(name) != "GPIB0") {
        s.driverFails();
        return -1;
    }
    // "++savecfg 0" first, so that none of what follows is written to a Prologix's memory.
    const std::string setup = std::string(s.prologix() ? "++savecfg 0\n" : "") +
                              "++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++eot_enable 1\n++eot_char 0\n++ver\n";
    if (!s.exchange(setup))
        return -1;
    s.addressed.reset();
    s.listeners.clear();
    while (const auto line = s.line(s.replyWait()))
        if (adapterIdentity(*line)) {
            s.succeed();
            return 0;
        }
    if (!s.gone)
        s.driverFails();
    return -1;
}

int AdapterDriver::ibask(int ud, int option, int* value) {
    State& s = *m_state;
    if (!s.usable(ud))
        return s.ibsta;
    if (option != ni::IbaPAD || value == nullptr) {
        s.fail(ni::EARG);
        return s.ibsta;
    }
    *value = 0; // the adapter's own address as controller
    s.succeed();
    return s.ibsta;
}

int AdapterDriver::ibsre(int ud, int v) {
    State& s = *m_state;
    if (!s.usable(ud))
        return s.ibsta;
    if (!s.prologix()) {
        if (s.exchange(v != 0 ? "++ren 1\n" : "++ren 0\n"))
            s.succeed();
    } else if (v != 0) {
        s.succeed(); // a Prologix asserts REN itself as controller
    } else {
        s.fail(ni::ECAP);
    }
    return s.ibsta;
}

int AdapterDriver::ibtmo(int ud, int v) {
    State& s = *m_state;
    if (!s.usable(ud))
        return s.ibsta;
    if (v < 0 || v >= static_cast<int>(ni::timeoutDurations.size())) {
        s.fail(ni::EARG);
        return s.ibsta;
    }
    // No limit (code 0) and anything longer both get the longest a Prologix takes.
    const long wanted =
        v == 0
            ? longestReadTimeoutMs
            : static_cast<long>(
                  std::chrono::ceil<milliseconds>(ni::timeoutDurations[static_cast<std::size_t>(v)]).count());
    const int ms = static_cast<int>(std::clamp<long>(wanted, 1, longestReadTimeoutMs));
    if (s.exchange("++read_tmo_ms " + std::to_string(ms) + "\n")) {
        s.readTimeoutMs = ms;
        s.succeed();
    }
    return s.ibsta;
}

int AdapterDriver::ibonl(int ud, int v) {
    State& s = *m_state;
    (void)v; // the adapter stays as it is either way; nothing to give back
    if (s.usable(ud))
        s.succeed();
    return s.ibsta;
}

void AdapterDriver::SendIFC(int board) {
    State& s = *m_state;
    if (!s.usable(board) || !s.exchange("++ifc\n"))
        return;
    s.listeners.clear();
    s.succeed();
}

void AdapterDriver::DevClear(int board, std::uint16_t address) {
    State& s = *m_state;
    if (!s.usable(board))
        return;
    if (address == ni::NOADDR) {
        // Device Clear to every unit: the AR488 has a command for it, a Prologix none.
        if (s.prologix())
            s.fail(ni::ECAP);
        else if (s.exchange("++dcl\n"))
            s.succeed();
        return;
    }
    if (!s.sendAddressed(address, "++clr\n"))
        return;
    s.listeners = {addressText(*busAddress(address))};
    s.succeed();
}

void AdapterDriver::Send(int board, std::uint16_t address, const void* buffer, long count, int eotMode) {
    State& s = *m_state;
    if (!s.usable(board))
        return;
    if (count < 0 || (buffer == nullptr && count > 0) ||
        (eotMode != ni::NULLend && eotMode != ni::NLend && eotMode != ni::DABend)) {
        s.fail(ni::EARG);
        return;
    }
    // The adapter sends EOI with the line's last byte ("++eoi 1") and appends nothing ("++eos 3").
    std::string line = escaped(static_cast<const char*>(buffer), count);
    if (eotMode == ni::NLend)
        line += std::string{esc, '\n'};
    line += '\n';
    if (eotMode == ni::NULLend)
        line = "++eoi 0\n" + line + "++eoi 1\n";
    if (!s.sendAddressed(address, line))
        return;
    s.listeners = {addressText(*busAddress(address))};
    // Whether anyone listened the adapter cannot tell.
    s.succeed(count + (eotMode == ni::NLend ? 1 : 0), eotMode != ni::NULLend);
}

void AdapterDriver::Receive(int board, std::uint16_t address, void* buffer, long count, int termination) {
    State& s = *m_state;
    (void)termination; // the adapter reads to EOI; the program asks for no end byte
    if (!s.usable(board))
        return;
    if (count < 0 || (buffer == nullptr && count > 0)) {
        s.fail(ni::EARG);
        return;
    }
    if (!s.sendAddressed(address, "++read eoi\n"))
        return;
    s.listeners.clear();
    // The adapter follows a message ended by EOI with the "++eot_char" byte, NUL.
    bool lostLink = false;
    std::size_t end = std::string::npos;
    const std::size_t longest = static_cast<std::size_t>(count) + longestStaleInput;
    while ((end = s.pending.find('\0')) == std::string::npos && s.pending.size() < longest) {
        const std::string more = s.link.read(s.replyWait(), lostLink);
        if (lostLink) {
            s.lost();
            return;
        }
        if (more.empty())
            break;
        s.pending += more;
    }
    const std::string reply = s.pending.substr(0, end);
    const auto taken = std::min<std::size_t>(reply.size(), static_cast<std::size_t>(count));
    if (taken > 0)
        std::memcpy(buffer, reply.data(), taken);
    s.pending.clear(); // what did not fit is dropped, as the next exchange would drain it
    if (end == std::string::npos)
        s.fail(ni::EABO, static_cast<long>(taken));
    else
        s.succeed(static_cast<long>(taken), true);
}

// An adapter puts no byte of the host's own on the bus with ATN: the listeners the commands name
// are kept, and Group Execute Trigger becomes "++trg" for them. Whatever else they hold the
// adapter cannot send, so nothing of such a call is sent.
void AdapterDriver::SendCmds(int board, const void* commands, long count) {
    State& s = *m_state;
    if (!s.usable(board))
        return;
    if (count < 0 || (commands == nullptr && count > 0)) {
        s.fail(ni::EARG);
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(commands);
    std::vector<std::string> listeners = s.listeners;
    std::string lines;
    bool afterListen = false; // a secondary address extends the listen address just before it
    for (long k = 0; k < count; ++k) {
        const unsigned char b = bytes[k];
        const bool secondary = b >= lowestSecondary && b <= highestSecondary;
        if (b == unlisten) {
            listeners.clear();
        } else if (b >= firstListen && b < unlisten) {
            listeners.push_back(std::to_string(b - firstListen));
        } else if (secondary && afterListen) {
            listeners.back() += " " + std::to_string(b);
        } else if (b == groupExecuteTrigger) {
            if (!listeners.empty()) // a trigger nobody listens to reaches nobody
                lines += "++trg " + joined(listeners) + "\n";
        } else if (b != untalk) {
            s.fail(ni::ECAP);
            return;
        }
        afterListen = b >= firstListen && b < unlisten;
    }
    if (!lines.empty() && !s.exchange(lines))
        return;
    s.listeners = std::move(listeners);
    s.succeed(count);
}

void AdapterDriver::FindLstn(int board, const std::uint16_t* padList, std::uint16_t* resultList, int limit) {
    State& s = *m_state;
    if (!s.usable(board))
        return;
    // A list without its NOADDR end must not run away: 31 primaries is all a bus has.
    constexpr int longestList = 256;
    std::vector<int> primaries;
    for (int k = 0; padList != nullptr && k < longestList && padList[k] != ni::NOADDR; ++k) {
        if (padList[k] > highestPrimary || k + 1 == longestList) {
            s.fail(ni::EARG);
            return;
        }
        if (padList[k] != 0) // the adapter's own address
            primaries.push_back(padList[k]);
    }
    if (padList == nullptr || resultList == nullptr || limit < 1) {
        s.fail(ni::EARG);
        return;
    }
    std::vector<std::uint16_t> found;
    if (!(s.prologix() ? pollEach(primaries, found) : searchListeners(primaries, found)))
        return;
    const auto written = std::min<std::size_t>(found.size(), static_cast<std::size_t>(limit));
    std::copy_n(found.begin(), written, resultList);
    if (found.size() > written)
        s.fail(ni::ETAB, static_cast<long>(written));
    else
        s.succeed(static_cast<long>(written));
}

// A Prologix has no listener search: a unit that answers a serial poll at an address is there.
// "++ver" after each poll marks its end, so an address nobody answers costs the short read timeout
// and no wait of the driver's own.
bool AdapterDriver::pollEach(const std::vector<int>& primaries, std::vector<std::uint16_t>& found) {
    State& s = *m_state;
    std::string lines = "++read_tmo_ms " + std::to_string(searchReadTimeoutMs) + "\n";
    for (const int primary : primaries)
        lines += "++spoll " + std::to_string(primary) + "\n++ver\n";
    lines += "++read_tmo_ms " + std::to_string(s.readTimeoutMs) + "\n";
    if (!s.exchange(lines))
        return false;
    const milliseconds wait = milliseconds(searchReadTimeoutMs) + replyMargin;
    for (const int primary : primaries) {
        bool answered = false;
        for (;;) {
            const auto line = s.line(wait);
            if (!line)
                return s.gone ? false : s.driverFails(); // the adapter stopped answering
            if (*line == s.identity.version)
                break;
            // A status byte; an empty line is no unit's answer.
            answered = answered || whole(*line, 0, 255).has_value();
        }
        if (answered)
            found.push_back(static_cast<std::uint16_t>(primary));
    }
    return true;
}

// The AR488's own search: "5,9:11" for a listener at 5 and one at 9, secondary 11.
bool AdapterDriver::searchListeners(const std::vector<int>& primaries, std::vector<std::uint16_t>& found) {
    State& s = *m_state;
    if (primaries.empty())
        return true;
    std::vector<std::string> names;
    for (const int primary : primaries)
        names.push_back(std::to_string(primary));
    if (!s.exchange("++fndl " + joined(names, ",") + "\n"))
        return false;
    const auto answer = s.line(s.replyWait());
    if (!answer)
        return s.gone ? false : s.driverFails();
    for (const std::string& item : split(*answer, ',')) {
        const auto colon = item.find(':');
        const auto primary = whole(item.substr(0, colon), 0, highestPrimary);
        const auto secondary = colon == std::string::npos ? std::optional<int>(-1)
                                                          : whole(item.substr(colon + 1), 0, highestPrimary);
        if (!primary || !secondary)
            return s.driverFails(); // not the answer of a listener search
        found.push_back(static_cast<std::uint16_t>(
            *primary | (*secondary < 0 ? 0 : (lowestSecondary + *secondary) << 8)));
    }
    return true;
}

int AdapterDriver::ThreadIbsta() {
    return m_state->ibsta;
}

int AdapterDriver::ThreadIberr() {
    return m_state->iberr;
}

int AdapterDriver::ThreadIbcnt() {
    return static_cast<int>(m_state->ibcnt);
}

long AdapterDriver::ThreadIbcntl() {
    return m_state->ibcnt;
}

} // namespace ktq::bus
