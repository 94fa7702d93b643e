// The "++" protocol of a GPIB adapter, acting on the simulated bus.
#include "sim/adapter/adaptercore.h"

#include "sim/linuxgpib.h"
#include "sim/tracetext.h"

#include <algorithm>
#include <optional>
#include <thread>
#include <utility>

namespace ktq::sim::adapter {

namespace {

constexpr char cr = '\r';
constexpr char lf = '\n';
constexpr char esc = 0x1b;
constexpr int highestPrimary = 30;
// Real adapters hold a line in a buffer of a few hundred bytes at most; the cap only keeps a
// runaway host from taking the bench's memory. Bytes past it are dropped.
constexpr std::size_t longestLine = 65536;
// An AR488's listener search takes a list of at most this many addresses.
constexpr std::size_t mostListed = 15;
// One read from the bus takes at most this many bytes before looking again.
constexpr std::size_t readChunk = 4096;

std::optional<int> number(std::string_view text, int lowest, int highest) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const int value = std::stoi(std::string(text));
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

std::vector<std::string> words(std::string_view text, std::string_view separators) {
    std::vector<std::string> list;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(separators, at);
        if (start == std::string_view::npos)
            break;
        const std::size_t stop = text.find_first_of(separators, start);
        list.emplace_back(text.substr(start, stop - start));
        at = stop == std::string_view::npos ? text.size() : stop;
    }
    return list;
}

// Commands that need the adapter to be the controller in charge; a device-mode adapter ignores them.
bool controllerOnly(std::string_view name) {
    for (const char* command :
         {"clr", "dcl", "findlstn", "fndl", "ifc", "llo", "loc", "read", "ren", "spoll", "srq", "trg"})
        if (name == command)
            return true;
    return false;
}

char byte(int value) {
    return static_cast<char>(value);
}

} // namespace

AdapterCore::AdapterCore(SimBus& bench, const AdapterProfile& profile) : m_bench(bench), m_profile(&profile) {
    m_settings.readTimeoutMs = profile.readTimeoutDefault;
    m_settings.primary = profile.defaultPrimary;
    m_settings.eoi = profile.defaultEoi;
    m_saved = m_settings;
    m_saveOnChange = profile.savesFromPowerUp;
    powerUp();
}

void AdapterCore::restart() {
    m_settings = m_saved;
    m_deviceBuffer.clear();
    m_verbose = false;
    m_saveOnChange = m_profile->savesFromPowerUp;
    m_line.clear();
    m_rawLine.clear();
    m_escape = false;
    m_plainStart = true;
    powerUp();
}

void AdapterCore::setTraceFile(const std::string& path) {
    m_traceFile.close();
    if (!path.empty())
        m_traceFile.open(path, std::ios::app | std::ios::binary);
}

void AdapterCore::powerUp() {
    if (m_profile->restartsController && m_settings.controller)
        startController();
    if (m_settings.flags & 1)
        pass("AR488~RDY");
}

// startControllerMode: sendAllClear releases REN for 40 ms (every unit goes to local) and asserts
// it with ATN; stop() releases every line; CINI asserts REN again; then IFC.
void AdapterCore::startController() {
    WireBus& wire = m_bench.wire();
    wire.remoteEnable(false);
    wire.remoteEnable(true);
    wire.remoteEnable(false);
    wire.remoteEnable(true);
    wire.interfaceClear();
}

std::string AdapterCore::fromHost(std::string_view bytes) {
    m_busy = false; // the host's write came after the firmware got through the last one
    for (const char ch : bytes) {
        if (m_busy && m_profile->inputBuffer > 0 && m_held >= m_profile->inputBuffer) {
            ++m_lostBytes;
            continue;
        }
        if (m_busy)
            ++m_held;
        takeByte(ch);
    }
    if (!m_out.empty() && m_latency.count() > 0) {
        if (m_sleeper)
            m_sleeper->sleep(m_latency);
        else
            std::this_thread::sleep_for(m_latency);
    }
    return std::exchange(m_out, {});
}

void AdapterCore::takeByte(char ch) {
    const bool escaped = m_escape;
    m_escape = false;
    if (m_verbose && ch != lf)
        m_out += ch; // the firmware echoes what it takes, the line feed aside
    if (!escaped && (ch == cr || ch == lf)) {
        takeLine();
        return;
    }
    if (m_rawLine.size() < longestLine)
        m_rawLine += ch;
    if (!escaped && ch == esc) {
        m_escape = true;
        return;
    }
    if (m_line.size() >= longestLine)
        return;
    if (escaped && m_line.size() < 2)
        m_plainStart = false;
    m_line += ch;
    const std::size_t full = m_profile->lineBuffer;
    if (full == 0 || m_line.size() < full)
        return;
    // The line buffer is full: a command is dropped, data goes out as it stands and the line
    // goes on as a new piece.
    if (m_line.rfind("++", 0) == 0) {
        m_line.clear();
        m_rawLine.clear();
        m_plainStart = true;
    } else {
        takeLine();
    }
}

// An empty line (the LF after a CR, say) is nothing at all: no data, no command.
void AdapterCore::takeLine() {
    const std::string line = std::exchange(m_line, {});
    const std::string raw = std::exchange(m_rawLine, {});
    const bool command = m_plainStart && line.rfind("++", 0) == 0;
    m_plainStart = true;
    if (line.empty()) {
        if (m_verbose)
            m_out += "\r\n> ";
        return;
    }
    m_traceOut.clear();
    if (command) {
        if (m_verbose)
            m_out += "\r\n";
        this->command(line);
    } else {
        data(line);
    }
    if (m_verbose)
        m_out += "> ";
    if (m_touchedBus && !m_busy) {
        m_busy = true;
        m_held = 0;
    }
    m_touchedBus = false;
    std::vector<std::string> lines{"> " + escaped(raw)};
    if (!m_traceOut.empty())
        lines.push_back("< " + escaped(m_traceOut));
    for (std::string& text : lines) {
        if (m_traceFile.is_open())
            m_traceFile << text << '\n' << std::flush;
        m_dialogue.push_back(std::move(text));
    }
}

void AdapterCore::answer(const std::string& text) {
    m_out += text + "\r\n";
    m_traceOut += text;
}

void AdapterCore::pass(const std::string& bytes) {
    m_out += bytes;
    m_traceOut += bytes;
}

void AdapterCore::commandBytes(const std::string& bytes) {
    m_bench.wire().command(std::exchange(m_underAtn, {}) + bytes);
}

void AdapterCore::unaddressAfterward() {
    if (m_profile->ar488)
        m_underAtn = std::string{byte(lg::UNL), byte(lg::UNT)};
}

// An AR488 0.53 unaddresses every talker too, with UNT, before it names a listener.
std::string AdapterCore::listenAddress(int primary, int secondary) const {
    std::string bytes = m_profile->ar488 && m_profile->untWithAddress
                            ? std::string{byte(lg::UNL), byte(lg::UNT), byte(lg::LAD + primary)}
                            : std::string{byte(lg::UNL), byte(lg::LAD + primary)};
    if (secondary >= 0)
        bytes += byte(lg::SAD + secondary);
    return bytes;
}

std::string AdapterCore::talkAddress(int primary, int secondary) const {
    std::string bytes{byte(lg::TAD + primary)};
    if (secondary >= 0)
        bytes += byte(lg::SAD + secondary);
    return bytes;
}

void AdapterCore::data(const std::string& line) {
    if (!m_settings.controller) {
        // Held until a controller addresses the adapter to talk; a later line takes its place.
        m_deviceBuffer = line;
        return;
    }
    static const char* const endings[] = {"\r\n", "\r", "\n", ""};
    WireBus& wire = m_bench.wire();
    m_touchedBus = true;
    // A Prologix makes itself talker; an AR488 talks without addressing itself.
    commandBytes(m_profile->ar488 ? listenAddress(m_settings.primary, m_settings.secondary)
                                  : talkAddress(wire.controllerPrimary(), -1) +
                                        listenAddress(m_settings.primary, m_settings.secondary));
    // 0.51.09 pulses EOI on its own after the last byte: no byte of the message carries it.
    const bool eoi = m_settings.eoi && m_profile->eoiWithLastByte;
    const bool heard = wire.write(line + endings[m_settings.eos], eoi);
    unaddressAfterward();
    if (m_profile->ar488 && (m_settings.flags & 4))
        answer("Send^OK");
    if (!heard)
        return; // nobody listens: the host is told nothing
    const bool query = line.back() == '?';
    if (m_settings.autoRead == 1 || (m_settings.autoRead == 2 && query))
        readFromUnit(ReadEnd::Eoi, -1);
}

void AdapterCore::readFromUnit(ReadEnd end, int endByte) {
    WireBus& wire = m_bench.wire();
    if (m_profile->ar488) {
        // It listens without addressing itself.
        const std::string talker = (m_profile->untWithAddress ? std::string{byte(lg::UNL), byte(lg::UNT)}
                                                              : std::string(1, byte(lg::UNL))) +
                                   talkAddress(m_settings.primary, m_settings.secondary);
        commandBytes(m_profile->talkerAddressedTwice ? talker + talker : talker);
    } else {
        commandBytes(std::string{byte(lg::UNL), byte(lg::LAD + wire.controllerPrimary())} +
                     talkAddress(m_settings.primary, m_settings.secondary));
    }
    readReply(end, endByte);
    unaddressAfterward();
    if (m_profile->idleAfterRead)
        commandBytes({});
}

// Each pass takes what the talker sends up to EOI or the end byte; the read goes on until its own
// end came, or the talker fell silent for the whole timeout.
void AdapterCore::readReply(ReadEnd end, int endByte) {
    const std::chrono::microseconds timeout = std::chrono::milliseconds(m_settings.readTimeoutMs);
    for (;;) {
        const WireBus::Read read =
            m_bench.wire().read(readChunk, end == ReadEnd::Byte ? endByte : -1, true, timeout);
        if (read.timedOut)
            return;
        pass(read.bytes);
        if (read.eoi && m_settings.eotEnable)
            pass(std::string(1, byte(m_settings.eotChar)));
        if (end == ReadEnd::Eoi && read.eoi)
            return;
        if (end == ReadEnd::Byte && !read.bytes.empty() &&
            static_cast<unsigned char>(read.bytes.back()) == endByte)
            return;
    }
}

void AdapterCore::serialPoll(int primary, int secondary) {
    WireBus& wire = m_bench.wire();
    commandBytes(std::string{byte(lg::UNL), byte(lg::LAD + wire.controllerPrimary()), byte(lg::SPE)} +
                 talkAddress(primary, secondary));
    const WireBus::Read read = wire.read(1, -1, true, std::chrono::milliseconds(m_settings.readTimeoutMs));
    // The AR488 unaddresses the listeners too.
    commandBytes(m_profile->ar488 ? std::string{byte(lg::SPD), byte(lg::UNT), byte(lg::UNL)}
                                  : std::string{byte(lg::SPD), byte(lg::UNT)});
    if (!read.timedOut && !read.bytes.empty())
        answer(std::to_string(static_cast<unsigned char>(read.bytes[0])));
}

// The addresses "++fndl" names: "all", ranges "1-30", single addresses; false where the search
// stops there, having answered what the firmware answers.
bool AdapterCore::listedPrimaries(const std::vector<std::string>& arguments, std::vector<int>& primaries) {
    for (const std::string& argument : arguments)
        for (const std::string& item : words(argument, ",")) {
            const auto dash = item.find('-');
            if (item == "all") {
                for (int p = 0; p <= highestPrimary; ++p)
                    primaries.push_back(p);
            } else if (dash != std::string::npos) {
                const auto first = number(std::string_view(item).substr(0, dash), 0, highestPrimary);
                const auto last = number(std::string_view(item).substr(dash + 1), 0, highestPrimary);
                if (!first || !last)
                    return false;
                for (int p = *first; p <= *last; ++p)
                    primaries.push_back(p);
            } else if (const auto p = number(item, 0, highestPrimary); p && item.size() <= 2) {
                if (primaries.size() < mostListed) // the firmware keeps a list of 15
                    primaries.push_back(*p);
            } else {
                answer(m_profile->invalidReply);
                return false;
            }
        }
    return true;
}

// Probes as a controller finds listeners: each primary address alone made listener and NDAC
// looked at in standby; where nobody answers, its secondary addresses all together, and where
// one of them does, each in turn. The answer lists them joined by commas, "5:1" for primary 5,
// secondary 1; an empty line when there is none (the manual gives no answer for that case).
void AdapterCore::findListeners(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        answer("Missing parameter");
        m_settings.readTimeoutMs = 35; // the firmware leaves its search's timeout behind
        return;
    }
    std::vector<int> primaries;
    if (!listedPrimaries(arguments, primaries))
        return;
    WireBus& wire = m_bench.wire();
    // Each step the firmware takes: bytes under ATN, then NDAC looked at in standby.
    const auto listenerFound = [this, &wire](const std::string& bytes) {
        commandBytes(bytes);
        wire.setAttention(false);
        return wire.ndacHeld();
    };
    std::string found;
    const auto report = [&found](const std::string& name) { found += (found.empty() ? "" : ",") + name; };
    std::string everySecondary;
    for (int secondary = 0; secondary <= highestPrimary; ++secondary)
        everySecondary += byte(lg::SAD + secondary);
    for (const int primary : primaries) {
        if (primary == wire.controllerPrimary())
            continue; // the adapter's own address
        const std::string listen{byte(lg::UNL), byte(lg::LAD + primary)};
        if (listenerFound(std::string{byte(lg::UNL), byte(lg::UNT), byte(lg::LAD + primary)})) {
            report(std::to_string(primary));
        } else if (listenerFound(everySecondary)) {
            // Each secondary in turn after the primary; one that finds nobody is followed by
            // UNT, which ends the primary's addressing, so the later ones reach nobody: the
            // firmware finds a unit behind its secondary addresses only at the first of them.
            std::string before = listen; // sent under ATN with the next secondary
            for (int secondary = 0; secondary <= highestPrimary; ++secondary) {
                const bool heard = listenerFound(before + byte(lg::SAD + secondary));
                if (heard)
                    report(std::to_string(primary) + ":" +
                           std::to_string(secondary + (m_profile->rawSecondaryInSearch ? lg::SAD : 0)));
                before = heard ? listen : std::string(1, byte(lg::UNT));
            }
            commandBytes(before);
            wire.setAttention(false);
        }
    }
    answer(found);
}

// Prologix saves its settings as they change once told "++savecfg 1"; the AR488 only when told
// "++savecfg", and then once.
void AdapterCore::changed(const AdapterSettings& before) {
    if (m_saveOnChange && m_settings != before) {
        m_saved = m_settings;
        ++m_savedWrites;
    }
}

void AdapterCore::command(const std::string& line) {
    const std::vector<std::string> parts = words(std::string_view(line).substr(2), " \t");
    const std::string name = parts.empty() ? std::string() : parts[0];
    const std::vector<std::string> arguments(parts.empty() ? parts.end() : parts.begin() + 1, parts.end());
    if (!m_profile->knows(name)) {
        if (!m_profile->unknownReply.empty())
            answer(m_profile->unknownReply);
        return;
    }
    if (!m_settings.controller && controllerOnly(name)) {
        if (m_profile->ar488)
            answer(m_profile->unknownReply); // "not available in this mode"
        return;
    }
    const bool remembered = name == "rst" || (name == "mode" && !arguments.empty()) ||
                            (name == "savecfg" && (m_profile->save == SaveStyle::Snapshot ||
                                                   (!arguments.empty() && number(arguments[0], 0, 1))));
    if (remembered)
        m_settingsCommands.push_back(line);
    if (name == "id") {
        identity(line);
        return;
    }
    const AdapterSettings before = m_settings;
    if (!settingCommand(name, arguments) && !busCommand(name, arguments))
        ar488Command(name, arguments);
    if (name != "rst") // what power-up brings back is not a change to save
        changed(before);
}

// "++id verstr TEXT" sets what "++ver" answers (1 to 47 characters), "++id verstr" and
// "++id fwver" answer it and the firmware line.
void AdapterCore::identity(const std::string& line) {
    const std::vector<std::string> parts = words(line, " \t");
    const std::string keyword = parts.size() > 1 ? parts[1] : std::string();
    const auto at = parts.size() > 2 ? line.find(keyword) + keyword.size() + 1 : std::string::npos;
    const std::string text = at == std::string::npos ? std::string() : line.substr(at);
    if (keyword == "verstr" && text.empty()) {
        answer(m_settings.versionText);
    } else if (keyword == "verstr" && text.size() < 48) {
        m_settings.versionText = text;
    } else if (keyword == "fwver" && text.empty()) {
        answer(m_profile->version);
    } else {
        answer(keyword == "verstr" ? m_profile->invalidReply : m_profile->unknownReply);
    }
}

void AdapterCore::invalid() {
    if (!m_profile->invalidReply.empty())
        answer(m_profile->invalidReply);
}

// A setting with no argument is a query; an argument out of range leaves it as it was.
void AdapterCore::setting(int& value, const std::vector<std::string>& arguments, int lowest, int highest) {
    if (arguments.empty())
        answer(std::to_string(value));
    else if (const auto given = number(arguments[0], lowest, highest))
        value = *given;
    else
        invalid();
}

// The adapter's own settings: true where `name` is one.
bool AdapterCore::settingCommand(const std::string& name, const std::vector<std::string>& arguments) {
    const auto flag = [&](bool& value) {
        int number = value ? 1 : 0;
        setting(number, arguments, 0, 1);
        value = number != 0;
    };
    if (name == "addr") {
        address(arguments);
    } else if (name == "auto") {
        setting(m_settings.autoRead, arguments, 0, m_profile->highestAuto);
    } else if (name == "eoi") {
        flag(m_settings.eoi);
    } else if (name == "eos") {
        setting(m_settings.eos, arguments, 0, 3);
    } else if (name == "eot_enable") {
        flag(m_settings.eotEnable);
    } else if (name == "eot_char") {
        setting(m_settings.eotChar, arguments, 0, 255);
    } else if (name == "lon") {
        flag(m_settings.listenOnly);
    } else if (name == "status") {
        setting(m_settings.status, arguments, 0, 255);
    } else if (name == "flags") {
        setting(m_settings.flags, arguments, 0, 7);
    } else if (name == "read_tmo_ms") {
        if (arguments.empty())
            answer(std::to_string(m_settings.readTimeoutMs));
        else if (!m_profile->clampsReadTimeout)
            setting(m_settings.readTimeoutMs, arguments, m_profile->readTimeoutMin,
                    m_profile->readTimeoutMax);
        else if (const auto value = number(arguments[0], 0, 999999))
            m_settings.readTimeoutMs =
                std::clamp(*value, m_profile->readTimeoutMin, m_profile->readTimeoutMax);
    } else if (name == "mode") {
        if (arguments.empty()) {
            answer(m_settings.controller ? "1" : "0");
        } else if (const auto on = number(arguments[0], 0, 1)) {
            const bool wasController = m_settings.controller;
            m_settings.controller = *on == 1;
            // An AR488 starts controller mode again even when it is in it.
            if (m_settings.controller && (m_profile->restartsController || !wasController)) {
                m_touchedBus = true;
                if (m_profile->restartsController)
                    startController();
            }
        } else {
            invalid();
        }
    } else {
        return false;
    }
    return true;
}

// "++addr 9 107" and, on an AR488 0.53, "++addr 9 11"; 0.51.09 reads the primary alone.
void AdapterCore::address(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        answer(std::to_string(m_settings.primary) +
               (m_settings.secondary >= 0
                    ? m_profile->addressSeparator + std::to_string(lg::SAD + m_settings.secondary)
                    : ""));
        return;
    }
    const auto primary = number(arguments[0], m_profile->lowestPrimary, highestPrimary);
    std::optional<int> secondary = -1;
    if (arguments.size() >= 2 && m_profile->secondaryAddresses) {
        secondary = number(arguments[1], lg::SAD, lg::SAD + highestPrimary);
        if (secondary)
            *secondary -= lg::SAD;
        else if (m_profile->bareSecondary)
            secondary = number(arguments[1], 0, highestPrimary);
    }
    if (!primary || arguments.size() > 2 || !secondary) {
        invalid();
        return;
    }
    m_settings.primary = *primary;
    if (m_profile->secondaryAddresses)
        m_settings.secondary = *secondary;
}

// What goes on the bus: true where `name` is such a command.
bool AdapterCore::busCommand(const std::string& name, const std::vector<std::string>& arguments) {
    WireBus& wire = m_bench.wire();
    const std::string first = arguments.empty() ? std::string() : arguments[0];
    m_touchedBus = true;
    if (name == "clr") {
        // An AR488 unaddresses the unit again at once.
        commandBytes(listenAddress(m_settings.primary, m_settings.secondary) + byte(lg::SDC) +
                     (m_profile->ar488 ? std::string{byte(lg::UNL), byte(lg::UNT)} : std::string()));
    } else if (name == "dcl") {
        commandBytes(std::string{byte(lg::UNL), byte(lg::DCL)});
    } else if (name == "fndl") {
        findListeners(arguments);
    } else if (name == "ifc") {
        if (!m_underAtn.empty())
            commandBytes({});
        wire.interfaceClear();
    } else if (name == "llo") {
        commandBytes(first == "all"
                         ? std::string(1, byte(lg::LLO))
                         : listenAddress(m_settings.primary, m_settings.secondary) + byte(lg::LLO));
    } else if (name == "loc") {
        if (first == "all")
            wire.remoteEnable(false);
        else
            commandBytes(listenAddress(m_settings.primary, m_settings.secondary) + byte(lg::GTL));
    } else if (name == "read") {
        if (arguments.empty())
            readFromUnit(ReadEnd::Timeout, -1);
        else if (first == "eoi")
            readFromUnit(ReadEnd::Eoi, -1);
        else if (const auto endByte = number(first, 0, 255))
            readFromUnit(ReadEnd::Byte, *endByte);
        if (m_profile->ar488 && (m_settings.flags & 2))
            answer("Read^OK");
    } else if (name == "spoll") {
        poll(arguments);
    } else if (name == "srq") {
        answer(wire.srqAsserted() ? "1" : "0");
    } else if (name == "trg") {
        trigger(arguments);
    } else {
        m_touchedBus = false;
        return false;
    }
    return true;
}

// A Prologix polls "++spoll [PAD [SAD]]"; an AR488 takes a list of primaries and reports the
// first that answers, and 0.51.09 polls nobody once it was given any.
void AdapterCore::poll(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        serialPoll(m_settings.primary, m_settings.secondary);
        return;
    }
    if (!m_profile->pollTakesAddress)
        return;
    if (m_profile->ar488) {
        std::vector<int> primaries;
        for (const std::string& argument : arguments) {
            const auto primary = argument.size() <= 2 ? number(argument, 1, highestPrimary) : std::nullopt;
            if (!primary) {
                invalid();
                return;
            }
            primaries.push_back(*primary);
        }
        for (const int primary : primaries)
            if (serialPoll(primary, -1), !m_traceOut.empty())
                return;
        return;
    }
    const auto primary = number(arguments[0], 0, highestPrimary);
    const auto secondary = arguments.size() > 1 ? number(arguments[1], lg::SAD, lg::SAD + highestPrimary)
                                                : std::optional<int>(lg::SAD - 1);
    if (primary && secondary)
        serialPoll(*primary, *secondary - lg::SAD);
}

// A Prologix triggers the listeners it is given as one group; an AR488 takes primaries 1 to 30
// only (anything else fails the whole command) and triggers each on its own.
void AdapterCore::trigger(const std::vector<std::string>& arguments) {
    if (m_profile->ar488) {
        std::vector<int> primaries;
        for (const std::string& argument : arguments) {
            const auto primary = number(argument, 1, highestPrimary);
            if (!primary) {
                invalid();
                return;
            }
            primaries.push_back(*primary);
        }
        if (primaries.empty())
            primaries.push_back(m_settings.primary);
        // Each addressed, triggered and unaddressed again in one stretch of ATN.
        for (const int primary : primaries)
            commandBytes(listenAddress(primary, -1) + byte(lg::GET) + byte(lg::UNL) + byte(lg::UNT));
        return;
    }
    std::string listeners;
    for (const std::string& argument : arguments) {
        if (const auto primary = number(argument, 0, highestPrimary))
            listeners += byte(lg::LAD + *primary);
        else if (const auto secondary = number(argument, lg::SAD, lg::SAD + highestPrimary);
                 secondary && !listeners.empty())
            listeners += byte(*secondary);
        else
            return;
    }
    if (arguments.empty())
        commandBytes(listenAddress(m_settings.primary, m_settings.secondary) + byte(lg::GET));
    else
        commandBytes(byte(lg::UNL) + listeners + byte(lg::GET));
}

// What is left: the adapter itself, its identity, its memory and its modes.
bool AdapterCore::ar488Command(const std::string& name, const std::vector<std::string>& arguments) {
    WireBus& wire = m_bench.wire();
    const std::string first = arguments.empty() ? std::string() : arguments[0];
    if (name == "default") {
        const bool controller = m_settings.controller;
        m_settings = AdapterSettings{};
        m_settings.readTimeoutMs = m_profile->readTimeoutDefault;
        m_settings.primary = m_profile->defaultPrimary;
        m_settings.eoi = m_profile->defaultEoi;
        m_settings.controller = controller;
    } else if (name == "ren") {
        if (arguments.empty())
            answer(wire.remoteEnabled() ? "1" : "0");
        else if (const auto on = number(first, 0, 1))
            wire.remoteEnable(*on == 1);
        else
            invalid();
    } else if (name == "rst") {
        restart();
    } else if (name == "savecfg") {
        if (m_profile->save == SaveStyle::Snapshot) {
            m_saved = m_settings;
            ++m_savedWrites;
        } else if (arguments.empty()) {
            answer(m_saveOnChange ? "1" : "0");
        } else if (const auto on = number(first, 0, 1)) {
            m_saveOnChange = *on == 1;
            if (m_saveOnChange) {
                m_saved = m_settings;
                ++m_savedWrites;
            }
        }
    } else if (name == "ver") {
        const bool real = first.size() >= 3 && first.compare(0, 3, "rea") == 0;
        answer(!m_profile->ar488 || real || m_settings.versionText.empty() ? m_profile->version
                                                                           : m_settings.versionText);
    } else if (name == "verbose") {
        m_verbose = !m_verbose;
        answer(m_verbose ? "Verbose: ON" : "Verbose: OFF");
    } else if (name == "help") {
        // The list of commands; the manual's own help text is not reproduced.
        for (const std::string& known : m_profile->commands)
            answer("++" + known);
    } else {
        return false;
    }
    return true;
}

} // namespace ktq::sim::adapter
