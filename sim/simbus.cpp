#include "sim/simbus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace ktq::sim {

namespace {

constexpr int boardIndex = 0;
constexpr int boardDescriptor = 0;
constexpr int highestPrimary = 30;
constexpr int success = lg::CMPL | lg::CIC;

const char* const driverFunctions[] = {"ibfind",   "ibask",    "ibsre", "ibtmo",   "SendIFC",
                                       "DevClear", "FindLstn", "Send",  "Receive", "SendCmds"};

std::string hex4(int value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%04x", value & 0xffff);
    return buffer;
}

std::string quoted(const void* data, long count) {
    std::string text = "\"";
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (long i = 0; bytes && i < count; ++i) {
        const unsigned char c = bytes[i];
        if (c == '\n')
            text += "\\n";
        else if (c == '\r')
            text += "\\r";
        else if (c == '"')
            text += "\\\"";
        else if (c == '\\')
            text += "\\\\";
        else if (c < 0x20 || c > 0x7e) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
            text += buffer;
        } else
            text += static_cast<char>(c);
    }
    return text + "\"";
}

CallStatus failure(int iberr, long count = 0) {
    return CallStatus{lg::ERR | (iberr == lg::EABO ? lg::TIMO : 0), iberr, count};
}

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

std::string joined(const std::vector<int>& numbers) {
    std::string text = "[";
    for (std::size_t i = 0; i < numbers.size(); ++i)
        text += (i ? ", " : "") + std::to_string(numbers[i]);
    return text + "]";
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
    m_units.push_back(std::make_unique<SimUnit>(primary, *facts));
    return *m_units.back();
}

SimUnit* SimBus::unitAt(int primary) {
    for (auto& unit : m_units)
        if (unit->primary() == primary)
            return unit.get();
    return nullptr;
}

const SimUnit* SimBus::unitAt(int primary) const {
    return const_cast<SimBus*>(this)->unitAt(primary);
}

void SimBus::removeUnit(int primary) {
    const auto it =
        std::find_if(m_units.begin(), m_units.end(), [&](const auto& u) { return u->primary() == primary; });
    if (it != m_units.end())
        m_units.erase(it);
}

std::vector<SimUnit*> SimBus::units() {
    std::vector<SimUnit*> list;
    for (auto& unit : m_units)
        list.push_back(unit.get());
    return list;
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
    m_replies[primary].push_back(std::move(bytes));
}

void SimBus::silence(int primary, bool silent) {
    m_silent.erase(std::remove(m_silent.begin(), m_silent.end(), primary), m_silent.end());
    if (silent)
        m_silent.push_back(primary);
}

void SimBus::note(std::string line) {
    const std::lock_guard guard(m_traceLock);
    if (m_traceFile.is_open())
        m_traceFile << line << '\n' << std::flush;
    m_trace.push_back(std::move(line));
}

void SimBus::setTraceFile(std::string path) {
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
bool SimBus::boardFails(int board) {
    if (!m_boardPresent) {
        m_status = failure(lg::ENEB);
        return true;
    }
    if (board != boardIndex) {
        m_status = failure(lg::EDVR);
        return true;
    }
    return false;
}

SimUnit* SimBus::listenerAt(int primary, int secondary) {
    for (auto& unit : m_units)
        if (unit->primary() == primary && unit->listensAt(secondary))
            return unit.get();
    return nullptr;
}

void SimBus::unaddressAll() {
    for (auto& unit : m_units)
        unit->setAddressedToListen(false);
}

void SimBus::finish(std::string line) {
    note(line + " -> " + hex4(m_status.ibsta) + " " + std::to_string(m_status.iberr) + " " +
         std::to_string(m_status.ibcntl));
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

// A listener that never talks holds the controller for the whole timeout set with ibtmo; with no
// timeout at all a real one would wait for ever, which a demo never wants.
void SimBus::waitTimeout() const {
    using std::chrono::microseconds;
    static constexpr microseconds byCode[] = {
        microseconds(0),         microseconds(10),         microseconds(30),       microseconds(100),
        microseconds(300),       microseconds(1000),       microseconds(3000),     microseconds(10000),
        microseconds(30000),     microseconds(100000),     microseconds(300000),   microseconds(1000000),
        microseconds(3000000),   microseconds(10000000),   microseconds(30000000), microseconds(100000000),
        microseconds(300000000), microseconds(1000000000),
    };
    if (m_timing.timeouts && m_timeoutCode > lg::TNONE && m_timeoutCode <= lg::T1000s)
        sleep(std::chrono::ceil<std::chrono::milliseconds>(byCode[m_timeoutCode]));
}

int SimBus::ibfind(const char* name) {
    int descriptor = -1;
    if (!takeFailure("ibfind")) {
        if (!m_boardPresent)
            m_status = failure(lg::ENEB);
        else if (name == nullptr || std::string_view(name) != "GPIB0")
            m_status = failure(lg::EDVR);
        else {
            m_status = CallStatus{success, 0, 0};
            descriptor = boardDescriptor;
        }
    }
    finish(std::string("ibfind(") + (name ? quoted(name, static_cast<long>(std::strlen(name))) : "NULL") +
           ")");
    return descriptor;
}

int SimBus::ibask(int ud, int option, int* value) {
    std::string written;
    if (!takeFailure("ibask") && !boardFails(ud)) {
        int answer = 0;
        bool known = true;
        switch (option) {
        case lg::IbaPAD:
            answer = 0;
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
            m_status = failure(lg::EARG);
        } else {
            *value = answer;
            written = " " + std::to_string(answer);
            m_status = CallStatus{success, 0, 0};
        }
    }
    finish("ibask(" + std::to_string(ud) + ", " + std::to_string(option) + ")" + written);
    return m_status.ibsta;
}

int SimBus::ibsre(int ud, int enable) {
    if (!takeFailure("ibsre") && !boardFails(ud)) {
        m_remoteEnabled = enable != 0;
        m_status = CallStatus{success, 0, 0};
    }
    finish("ibsre(" + std::to_string(ud) + ", " + std::to_string(enable) + ")");
    return m_status.ibsta;
}

int SimBus::ibtmo(int ud, int code) {
    if (!takeFailure("ibtmo") && !boardFails(ud)) {
        if (code < lg::TNONE || code > lg::T1000s) {
            m_status = failure(lg::EARG);
        } else {
            m_timeoutCode = code;
            m_status = CallStatus{success, 0, 0};
        }
    }
    finish("ibtmo(" + std::to_string(ud) + ", " + std::to_string(code) + ")");
    return m_status.ibsta;
}

void SimBus::sendIfc(int board) {
    if (!takeFailure("SendIFC") && !boardFails(board)) {
        unaddressAll();
        ++m_interfaceClears;
        m_status = CallStatus{success, 0, 0};
    }
    finish("SendIFC(" + std::to_string(board) + ")");
}

void SimBus::devClear(int board, Addr4882 address) {
    if (!takeFailure("DevClear") && !boardFails(board)) {
        const auto target = decode(address);
        SimUnit* unit = target ? listenerAt(target->primary, target->secondary) : nullptr;
        if (!target) {
            m_status = failure(lg::EARG);
        } else if (!unit) {
            m_status = failure(lg::ENOL);
        } else {
            // Unlisten, the unit's listen address, Selected Device Clear: it stays addressed.
            unaddressAll();
            unit->setAddressedToListen(true);
            unit->deviceClear();
            m_status = CallStatus{success, 0, 0};
        }
    }
    finish("DevClear(" + std::to_string(board) + ", " + std::to_string(address) + ")");
}

void SimBus::findLstn(int board, const Addr4882* padList, Addr4882* resultList, int limit) {
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
            m_status = failure(lg::EARG);
        } else {
            std::vector<int> found;
            for (int primary : probed) {
                if (listenerAt(primary, -1)) {
                    found.push_back(primary);
                    continue;
                }
                for (int secondary = 0; secondary <= highestPrimary; ++secondary)
                    if (listenerAt(primary, secondary))
                        found.push_back(primary | (lg::SAD + secondary) << 8);
            }
            for (int word : found) {
                if (static_cast<int>(written.size()) == limit)
                    break;
                resultList[written.size()] = static_cast<Addr4882>(word);
                written.push_back(word);
            }
            unaddressAll();
            const long count = static_cast<long>(written.size());
            m_status =
                found.size() > written.size() ? failure(lg::ETAB, count) : CallStatus{success, 0, count};
        }
    }
    finish("FindLstn(" + std::to_string(board) + ", " + joined(probed) + ", " + std::to_string(limit) + ") " +
           joined(written));
}

void SimBus::send(int board, Addr4882 address, const void* buffer, long count, int callerEotMode) {
    // NI swaps linux-gpib's NLend and DABend; any other number stays invalid.
    const int eotMode = !m_niEndModes                 ? callerEotMode
                        : callerEotMode == lg::NLend  ? lg::DABend
                        : callerEotMode == lg::DABend ? lg::NLend
                                                      : callerEotMode;
    if (!takeFailure("Send") && !boardFails(board)) {
        const auto target = decode(address);
        SimUnit* unit = target ? listenerAt(target->primary, target->secondary) : nullptr;
        if (!target || count < 0 || (count > 0 && buffer == nullptr) ||
            (eotMode != lg::NULLend && eotMode != lg::DABend && eotMode != lg::NLend)) {
            m_status = failure(lg::EARG);
        } else if (!unit) {
            m_status = failure(lg::ENOL);
        } else {
            std::string bytes(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
            if (eotMode == lg::NLend)
                bytes.push_back('\n');
            pause();
            unaddressAll();
            unit->setAddressedToListen(true);
            unit->takeBytes(bytes, eotMode != lg::NULLend, target->secondary);
            m_status = CallStatus{success, 0, static_cast<long>(bytes.size())};
        }
    }
    finish("Send(" + std::to_string(board) + ", " + std::to_string(address) + ", " +
           quoted(buffer, count > 0 ? count : 0) + ", " + std::to_string(count) + ", " +
           std::to_string(callerEotMode) + ")");
}

void SimBus::receive(int board, Addr4882 address, void* buffer, long count, int termination) {
    std::string received;
    if (!takeFailure("Receive") && !boardFails(board)) {
        const auto target = decode(address);
        if (!target || count < 0 || (count > 0 && buffer == nullptr) || termination < 0) {
            m_status = failure(lg::EARG);
        } else {
            // The controller makes itself listener and the unit talker: no unit listens afterwards.
            unaddressAll();
            std::string* source = nullptr;
            auto queued = m_replies.find(target->primary);
            if (queued != m_replies.end() && !queued->second.empty()) {
                source = &queued->second.front();
            } else if (std::find(m_silent.begin(), m_silent.end(), target->primary) == m_silent.end()) {
                if (SimUnit* unit = listenerAt(target->primary, target->secondary))
                    source = &unit->output();
            }
            if (count == 0) {
                m_status = CallStatus{success, 0, 0};
            } else if (source == nullptr || source->empty()) {
                // Nobody talks: the timeout, reported at once unless the timing is real.
                waitTimeout();
                m_status = failure(lg::EABO);
            } else {
                pause();
                bool ended = false;
                std::size_t taken = 0;
                while (taken < static_cast<std::size_t>(count) && taken < source->size()) {
                    const unsigned char byte = static_cast<unsigned char>((*source)[taken++]);
                    if (taken == source->size() || (termination < lg::STOPend && byte == termination)) {
                        ended = true;
                        break;
                    }
                }
                received = source->substr(0, taken);
                source->erase(0, taken);
                std::copy(received.begin(), received.end(), static_cast<char*>(buffer));
                if (source->empty() && queued != m_replies.end() && !queued->second.empty() &&
                    source == &queued->second.front())
                    queued->second.pop_front();
                m_status = CallStatus{success | (ended ? lg::END : 0), 0, static_cast<long>(taken)};
            }
        }
    }
    finish("Receive(" + std::to_string(board) + ", " + std::to_string(address) + ", " +
           std::to_string(count) + ", " + std::to_string(termination) + ") " +
           quoted(received.data(), static_cast<long>(received.size())));
}

void SimBus::sendCmds(int board, const void* commands, long count) {
    if (!takeFailure("SendCmds") && !boardFails(board)) {
        if (count < 0 || (count > 0 && commands == nullptr)) {
            m_status = failure(lg::EARG);
        } else {
            pause();
            const auto* bytes = static_cast<const unsigned char*>(commands);
            int lastListen = -1; // a secondary address byte extends the listen address before it
            for (long i = 0; i < count; ++i) {
                const unsigned char byte = bytes[i];
                if (byte == lg::UNL) {
                    unaddressAll();
                    lastListen = -1;
                } else if (byte >= lg::LAD && byte <= lg::LAD + highestPrimary) {
                    lastListen = byte - lg::LAD;
                    for (auto& unit : m_units)
                        if (unit->primary() == lastListen && unit->listensAt(-1))
                            unit->setAddressedToListen(true);
                } else if (byte >= lg::SAD && byte <= lg::SAD + highestPrimary) {
                    for (auto& unit : m_units)
                        if (lastListen >= 0 && unit->primary() == lastListen &&
                            unit->listensAt(byte - lg::SAD))
                            unit->setAddressedToListen(true);
                } else if (byte >= lg::TAD && byte <= lg::UNT) {
                    lastListen = -1;
                } else if (byte == lg::GET) {
                    for (auto& unit : m_units)
                        if (unit->addressedToListen())
                            unit->trigger();
                } else if (byte == lg::SDC) {
                    for (auto& unit : m_units)
                        if (unit->addressedToListen())
                            unit->deviceClear();
                } else if (byte == lg::DCL) {
                    for (auto& unit : m_units)
                        unit->deviceClear();
                }
            }
            m_status = CallStatus{success, 0, count};
        }
    }
    finish("SendCmds(" + std::to_string(board) + ", " + quoted(commands, count > 0 ? count : 0) + ", " +
           std::to_string(count) + ")");
}

} // namespace ktq::sim
