// The simulated bus at the level of driver calls: statuses, failures, timing and the trace.
#include "sim/simbus.h"

#include "src/bus/calltext.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace ktq::sim {

namespace {

constexpr int boardIndex = 0;
// linux-gpib hands out descriptors 16 to 4095 on ibfind, beside board index 0.
constexpr int firstDescriptor = 16;
constexpr int descriptorSlots = 0x1000;
constexpr int highestPrimary = 30;

// The calls failNext can make fail: those that act, not the status reads.
const char* const driverFunctions[] = {KTQ_GPIB_ACTIONS(KTQ_GPIB_NAME)};

struct Address {
    int primary = 0;
    int secondary = -1; // none
};

// Low byte primary 0..30, high byte 0 or 0x60 + secondary 0..30.
std::optional<Address> decode(Addr4882 word) {
    const int primary = word & 0xff;
    const int high = word >> 8;
    if (primary > highestPrimary)
        return std::nullopt;
    if (high == 0)
        return Address{primary, -1};
    if (high >= lg::SAD && high <= lg::SAD + highestPrimary)
        return Address{primary, high - lg::SAD};
    return std::nullopt;
}

// Microseconds of linux-gpib's timeout codes TNONE .. T1000s.
std::chrono::microseconds timeoutOf(int code) {
    static const long long table[] = {0,       10,       30,       100,       300,       1000,
                                      3000,    10000,    30000,    100000,    300000,    1000000,
                                      3000000, 10000000, 30000000, 100000000, 300000000, 1000000000};
    return std::chrono::microseconds(code >= 0 && code < 18 ? table[code] : 0);
}

std::string addressCommand(const Address& target) {
    std::string bytes(1, static_cast<char>(lg::LAD + target.primary));
    if (target.secondary >= 0)
        bytes += static_cast<char>(lg::SAD + target.secondary);
    return bytes;
}

CallStatus failure(int iberr, long count = 0) {
    return CallStatus{lg::ERR | (iberr == lg::EABO ? lg::TIMO : 0), iberr, count};
}

} // namespace

SimBus::SimBus() = default;
SimBus::~SimBus() = default;

std::unique_ptr<SimBus> SimBus::fromBenchLayout(std::string_view layout) {
    auto bench = std::make_unique<SimBus>();
    if (trimBlanks(layout).empty()) {
        bench->addUnit(5, "demo");
        return bench;
    }
    while (!layout.empty()) {
        const auto separator = layout.find(';');
        const std::string_view entry = trimBlanks(layout.substr(0, separator));
        layout = separator == std::string_view::npos ? std::string_view() : layout.substr(separator + 1);
        if (entry.empty())
            continue;
        const auto equals = entry.find('=');
        const auto address =
            equals == std::string_view::npos
                ? std::nullopt
                : acceptValue(integerRange(0, highestPrimary), trimBlanks(entry.substr(0, equals)));
        if (!address ||
            trimBlanks(entry.substr(0, equals)).find_first_not_of("0123456789") != std::string_view::npos)
            throw std::invalid_argument("bench entry \"" + std::string(entry) +
                                        "\": expected address=model, address 0 to 30");
        try {
            bench->addUnit(std::stoi(*address), trimBlanks(entry.substr(equals + 1)));
        } catch (const std::invalid_argument& error) {
            throw std::invalid_argument("bench entry \"" + std::string(entry) + "\": " + error.what());
        }
    }
    return bench;
}

SimUnit& SimBus::addUnit(int primary, std::string_view model) {
    if (primary < 0 || primary > highestPrimary)
        throw std::invalid_argument("address " + std::to_string(primary) + " outside 0 to 30");
    if (unitAt(primary))
        throw std::invalid_argument("address " + std::to_string(primary) + " already taken");
    const ModelFacts* facts = findModel(model);
    if (!facts)
        throw std::invalid_argument("unknown model \"" + std::string(model) + "\"");
    return m_wire.addUnit(primary, *facts);
}

SimUnit* SimBus::unitAt(int primary) {
    return m_wire.unitAt(primary);
}

const SimUnit* SimBus::unitAt(int primary) const {
    return const_cast<SimBus*>(this)->unitAt(primary);
}

void SimBus::removeUnit(int primary) {
    m_wire.removeUnit(primary);
}

std::vector<SimUnit*> SimBus::units() {
    return m_wire.units();
}

void SimBus::failNext(std::string_view function, int iberr, int times) {
    const bool known = std::any_of(std::begin(driverFunctions), std::end(driverFunctions),
                                   [&](const char* name) { return function == name; });
    if (!known)
        throw std::invalid_argument("no driver function \"" + std::string(function) + "\"");
    if (times < 1)
        throw std::invalid_argument("failNext needs at least one call");
    auto& queue = m_failures[std::string(function)];
    queue.insert(queue.end(), times, iberr);
}

void SimBus::queueReply(int primary, std::string bytes) {
    m_wire.queueReply(primary, std::move(bytes));
}

void SimBus::silence(int primary, bool silent) {
    m_wire.silence(primary, silent);
}

void SimBus::note(std::string line) {
    const std::lock_guard guard(m_traceLock);
    if (m_traceFile.is_open())
        m_traceFile << line << '\n' << std::flush;
    m_trace.push_back(std::move(line));
}

std::vector<std::string> SimBus::trace() const {
    const std::lock_guard guard(m_traceLock);
    return m_trace;
}

void SimBus::clearTrace() {
    const std::lock_guard guard(m_traceLock);
    m_trace.clear();
}

void SimBus::setTraceFile(std::string path) {
    const std::lock_guard guard(m_traceLock);
    m_traceFile.close();
    if (!path.empty())
        m_traceFile.open(path, std::ios::app | std::ios::binary); // "\n" alone on every platform
}

bool SimBus::takeFailure(const char* function) {
    const auto it = m_failures.find(function);
    if (it == m_failures.end() || it->second.empty())
        return false;
    m_status = failure(it->second.front());
    it->second.pop_front();
    return true;
}

// An injected failure comes first, then an absent board, then a board index that is not ours.
bool SimBus::boardFails(int board, bool boardCall) {
    if (!m_boardPresent) {
        m_status = absentBoard(boardCall);
        return true;
    }
    m_boardOpened = true;
    // Like linux-gpib: the board index and every descriptor ibfind handed out are valid.
    if (board != boardIndex && m_openDescriptors.count(board) == 0) {
        m_status = failure(lg::EARG);
        return true;
    }
    return false;
}

// As linux-gpib reports a board whose device cannot be used: an operating system error with the
// system's error number as the count: ENODEV once the board was open, EBADF before (the library's
// status read on the descriptor it never got overwrites the failed open's ENODEV); no board state,
// but END as the library kept it.
CallStatus SimBus::absentBoard(bool boardCall) const {
    return CallStatus{lg::ERR | (boardCall && m_end ? lg::END : 0), lg::EDVR, m_boardOpened ? ENODEV : EBADF};
}

void SimBus::finish(std::string line) {
    noteCall(line, m_status);
}

void SimBus::noteCall(const std::string& call, const CallStatus& status) {
    note(bus::calltext::line(call, status));
}

Timing Timing::fromSettings(const char* mode, const char* delayMs) {
    Timing timing;
    if (mode != nullptr && std::strcmp(mode, "real") == 0)
        timing = Timing{realTransfer, true};
    if (delayMs != nullptr && *delayMs != '\0')
        timing.transfer = std::chrono::milliseconds(std::max(0L, std::strtol(delayMs, nullptr, 10)));
    return timing;
}

void SimBus::sleep(std::chrono::milliseconds duration) const {
    if (duration.count() <= 0)
        return;
    if (m_sleeper)
        m_sleeper->sleep(duration);
    else
        std::this_thread::sleep_for(duration);
}

void SimBus::pause() const {
    sleep(m_timing.transfer);
}

// A listener that never talks holds the controller for the whole timeout of the transfer; with
// no timeout at all a real one would wait for ever, which a demo never wants.
void SimBus::setTiming(Timing timing) {
    m_timing = timing;
    if (timing.timeouts)
        m_wire.setTimeoutWait([this](std::chrono::microseconds timeout) {
            sleep(std::chrono::ceil<std::chrono::milliseconds>(timeout));
        });
    else
        m_wire.setTimeoutWait(nullptr);
}

// Success as linux-gpib reports it: the board's state, and END while the last transfer on the
// board ended with EOI (the library keeps that flag with board index 0 until the next transfer;
// a descriptor from ibfind has its own, never set).
CallStatus SimBus::ok(bool boardCall, long count) const {
    return CallStatus{m_wire.controllerStatus() | (boardCall && m_end ? lg::END : 0), 0, count};
}

CallStatus SimBus::busError(int iberr, bool boardCall, long count) const {
    return CallStatus{lg::ERR | (iberr == lg::EABO ? lg::TIMO : 0) | ok(boardCall).ibsta, iberr, count};
}

std::string SimBus::talkAddress() const {
    return std::string(1, static_cast<char>(lg::TAD + m_wire.controllerPrimary()));
}

int SimBus::ibfind(const char* name) {
    int descriptor = -1;
    if (!takeFailure("ibfind")) {
        if (!m_boardPresent)
            m_status = absentBoard(false);
        else if (name == nullptr || std::string_view(name) != "GPIB0")
            m_status = failure(lg::EDVR);
        else {
            m_boardOpened = true;
            int free = firstDescriptor;
            while (free < descriptorSlots && m_openDescriptors.count(free) != 0)
                ++free;
            if (free == descriptorSlots) {
                // linux-gpib: "out of room in ibConfigs[]"
                m_status = failure(lg::ENEB);
            } else {
                m_openDescriptors.insert(free);
                m_status = ok(false);
                descriptor = free;
            }
        }
    }
    finish(bus::calltext::ibfind(name));
    return descriptor;
}

int SimBus::ibask(int ud, int option, int* value) {
    if (!takeFailure("ibask") && !boardFails(ud, ud == boardIndex)) {
        int answer = 0;
        bool known = true;
        switch (option) {
        case lg::IbaPAD:
            answer = m_wire.controllerPrimary();
            break;
        case lg::IbaSAD:
            answer = 0;
            break;
        case lg::IbaTMO:
            answer = m_timeoutCode;
            break;
        default:
            known = false;
        }
        if (!known || value == nullptr) {
            m_status = busError(lg::EARG, ud == boardIndex);
        } else {
            *value = answer;
            m_status = ok(ud == boardIndex);
        }
    }
    finish(bus::calltext::ibask(ud, option, value, m_status));
    return m_status.ibsta;
}

int SimBus::ibsre(int ud, int enable) {
    if (!takeFailure("ibsre") && !boardFails(ud, ud == boardIndex)) {
        m_wire.remoteEnable(enable != 0);
        m_status = ok(ud == boardIndex);
    }
    finish(bus::calltext::setting("ibsre", ud, enable));
    return m_status.ibsta;
}

int SimBus::ibtmo(int ud, int code) {
    if (!takeFailure("ibtmo") && !boardFails(ud, ud == boardIndex)) {
        if (code < lg::TNONE || code > lg::T1000s) {
            m_status = busError(lg::EARG, ud == boardIndex);
        } else {
            m_timeoutCode = code;
            m_status = ok(ud == boardIndex);
        }
    }
    finish(bus::calltext::setting("ibtmo", ud, code));
    return m_status.ibsta;
}

// Going offline frees a descriptor from ibfind; the board index stays (linux-gpib only closes its
// handle, which the next call opens again). Going online keeps everything as it is.
int SimBus::ibonl(int ud, int online) {
    if (!takeFailure("ibonl") && !boardFails(ud, ud == boardIndex)) {
        m_status = ok(ud == boardIndex);
        if (online == 0 && ud != boardIndex)
            m_openDescriptors.erase(ud);
    }
    finish(bus::calltext::setting("ibonl", ud, online));
    return m_status.ibsta;
}

void SimBus::SendIFC(int board) {
    if (!takeFailure("SendIFC") && !boardFails(board)) {
        m_wire.interfaceClear();
        m_status = ok(true);
    }
    finish(bus::calltext::SendIFC(board));
}

void SimBus::DevClear(int board, Addr4882 address) {
    if (!takeFailure("DevClear") && !boardFails(board)) {
        const auto target = decode(address);
        if (!target) {
            // linux-gpib leaves the error in iberr but reports the call's status without ERR.
            m_status = CallStatus{ok(true).ibsta, lg::EARG, 0};
        } else {
            // The board talks, the unit listens, Selected Device Clear: it stays addressed. Commands
            // alone, as linux-gpib sends them: nobody has to be listening there.
            m_wire.command(talkAddress() + static_cast<char>(lg::UNL) + addressCommand(*target) +
                           static_cast<char>(lg::SDC));
            m_status = ok(true);
        }
    }
    finish(bus::calltext::DevClear(board, address));
}

// Probes each primary address, then its secondaries; `report` takes each listener's address word
// and is false once the result list is full. True when it filled.
bool SimBus::probeListeners(const std::vector<int>& probed, const std::function<bool(int)>& report) {
    const auto listenerFound = [this](const std::string& addresses) {
        m_wire.command(static_cast<char>(lg::UNL) + addresses);
        m_wire.setAttention(false);
        return m_wire.ndacHeld();
    };
    const bool reportsSecondaries = m_family == DriverFamily::Ni;
    m_wire.command(talkAddress());
    bool full = false;
    for (int primary : probed) {
        const std::string listen(1, static_cast<char>(lg::LAD + primary));
        if (listenerFound(listen)) {
            full = !report(primary);
            if (full)
                break;
            continue;
        }
        std::string everySecondary;
        for (int secondary = 0; secondary <= highestPrimary; ++secondary)
            everySecondary += listen + static_cast<char>(lg::SAD + secondary);
        if (!listenerFound(everySecondary))
            continue;
        for (int secondary = 0; secondary <= highestPrimary && !full; ++secondary) {
            const char secondaryCommand = static_cast<char>(lg::SAD + secondary);
            if (listenerFound(listen + secondaryCommand) && reportsSecondaries)
                full = !report(primary | (lg::SAD + secondary) << 8);
        }
        if (full)
            break;
    }
    return full;
}

// The search as both drivers probe: with the board as talker, each primary address alone is made
// listener and NDAC read in standby; where nobody holds it, the primary's 31 secondary addresses
// together, and where one of them does, each in turn. What is reported differs: NI's FindLstn
// writes each secondary listener's address word; linux-gpib's keeps only a probe's answer above 1,
// which its probe never gives, and so reports none.
void SimBus::FindLstn(int board, const Addr4882* padList, Addr4882* resultList, int limit) {
    std::vector<int> probed;
    std::vector<int> written;
    // A list without its NOADDR end must not run away: 31 primaries is all a bus has, allow slack.
    constexpr int longestList = 256;
    bool badList = padList == nullptr;
    for (int i = 0; padList && i < longestList && padList[i] != lg::NOADDR; ++i) {
        probed.push_back(padList[i]);
        if (padList[i] > highestPrimary)
            badList = true;
        if (i + 1 == longestList)
            badList = true;
    }
    if (!takeFailure("FindLstn") && !boardFails(board)) {
        if (badList || resultList == nullptr || limit < 1) {
            m_status = busError(lg::EARG, true);
        } else {
            // False once the result list is full and another listener answers.
            const auto report = [&](int word) {
                if (static_cast<int>(written.size()) == limit)
                    return false;
                resultList[written.size()] = static_cast<Addr4882>(word);
                written.push_back(word);
                return true;
            };
            const bool full = probeListeners(probed, report);
            const long count = static_cast<long>(written.size());
            if (full) {
                m_status = busError(lg::ETAB, true, count);
            } else {
                m_wire.command(std::string{static_cast<char>(lg::UNL), static_cast<char>(lg::UNT)});
                m_status = ok(true, count);
            }
        }
    }
    finish(bus::calltext::FindLstn(board, padList, resultList, limit, m_status));
}

void SimBus::Send(int board, Addr4882 address, const void* buffer, long count, int callerEotMode) {
    // NI swaps linux-gpib's NLend and DABend; any other number stays invalid.
    const int eotMode = m_family != DriverFamily::Ni  ? callerEotMode
                        : callerEotMode == lg::NLend  ? lg::DABend
                        : callerEotMode == lg::DABend ? lg::NLend
                                                      : callerEotMode;
    if (!takeFailure("Send") && !boardFails(board)) {
        const auto target = decode(address);
        if (!target || count < 0 || (count > 0 && buffer == nullptr) ||
            (eotMode != lg::NULLend && eotMode != lg::DABend && eotMode != lg::NLend)) {
            m_status = busError(lg::EARG, true);
        } else {
            std::string bytes(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
            if (eotMode == lg::NLend)
                bytes.push_back('\n');
            m_wire.command(talkAddress() + static_cast<char>(lg::UNL) + addressCommand(*target));
            if (!m_wire.write(bytes, eotMode != lg::NULLend)) {
                m_end = false;
                m_status = busError(lg::ENOL, true);
            } else {
                pause();
                m_end = eotMode != lg::NULLend;
                m_status = ok(true, static_cast<long>(bytes.size()));
            }
        }
    }
    const auto numbering =
        m_family == DriverFamily::Ni ? bus::calltext::EndModes::Ni : bus::calltext::EndModes::LinuxGpib;
    finish(bus::calltext::Send(board, address, buffer, count,
                               bus::calltext::endModeName(callerEotMode, numbering)));
}

void SimBus::Receive(int board, Addr4882 address, void* buffer, long count, int termination) {
    if (!takeFailure("Receive") && !boardFails(board)) {
        const auto target = decode(address);
        if (!target || count < 0 || (count > 0 && buffer == nullptr) || termination < 0) {
            m_status = busError(lg::EARG, true);
        } else {
            // The board listens and the unit talks: no unit listens afterwards.
            std::string talk = addressCommand(*target);
            talk[0] = static_cast<char>(lg::TAD + target->primary);
            m_wire.command(std::string{static_cast<char>(lg::UNL),
                                       static_cast<char>(lg::LAD + m_wire.controllerPrimary())} +
                           talk);
            const WireBus::Read read =
                m_wire.read(static_cast<std::size_t>(count), termination < lg::STOPend ? termination : -1,
                            true, timeoutOf(m_timeoutCode));
            m_end = read.end;
            if (read.timedOut) {
                // Nobody talks: the timeout, as the wire-level bus lets it pass.
                m_status = busError(lg::EABO, true);
            } else {
                if (count > 0)
                    pause();
                std::copy(read.bytes.begin(), read.bytes.end(), static_cast<char*>(buffer));
                m_status = ok(true, static_cast<long>(read.bytes.size()));
            }
        }
    }
    finish(bus::calltext::Receive(board, address, buffer, count, termination, m_status));
}

// The count stays 0, as linux-gpib leaves it after commands.
void SimBus::SendCmds(int board, const void* commands, long count) {
    if (!takeFailure("SendCmds") && !boardFails(board)) {
        if (count < 0 || (count > 0 && commands == nullptr)) {
            m_status = busError(lg::EARG, true);
        } else {
            pause();
            m_wire.command(
                std::string_view(static_cast<const char*>(commands), static_cast<std::size_t>(count)));
            m_status = ok(true);
        }
    }
    finish(bus::calltext::SendCmds(board, commands, count));
}

} // namespace ktq::sim
