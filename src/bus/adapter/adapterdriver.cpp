// The driver calls spoken as a "++" adapter's commands: setting it up, addressing, escaping data,
// reading replies to the end-of-transmission byte, and NI's status words for what came of it.
#include "adapterdriver.h"

#include "bus/busaddress.h"
#include "bus/gpibconstants.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace ktq::bus {

namespace {

using std::chrono::milliseconds;

constexpr char esc = 0x1b;
// An Arduino resets when its port opens: its bootloader takes what comes in its first second and
// the firmware answers about 85 ms after it starts. "++ver" is asked again after this much
// silence, up to 3 s in all.
constexpr milliseconds startRetry{300};
constexpr int versionTries = 10;
// The driver's wait beyond the adapter's own read timeout: a USB serial chip holds a short reply
// up to 16 ms, a busy host takes its time to pass it on.
constexpr milliseconds replyMargin{1000};
// The most a Prologix takes for "++read_tmo_ms"; T3s, the program's timeout, needs no more.
constexpr int longestReadTimeoutMs = 3000;
// The Prologix listener search polls each address with this read timeout: a unit answers a
// serial poll within microseconds, so an absent one costs no more than this.
constexpr int searchReadTimeoutMs = 30;
// What an AR488 on an Arduino may be sent at once: its serial buffer holds 63 bytes while the
// firmware is busy, less the marker that closes each window.
constexpr std::size_t inputWindow = 52;
constexpr const char* marker = "++ver real\n";
// Data goes in lines of at most this many bytes, escapes included: well within an AR488's
// window and its 128-byte line buffer, which would send a longer line as separate messages.
constexpr std::size_t dataPiece = 40;
// Something on a link that answers with a stream of bytes or lines is not an adapter.
constexpr std::size_t longestIdentifyAnswer = 4096;
constexpr int mostIdentifyLines = 8;
// What a drain or a reply takes at most before it stops looking: a unit or a device that never
// stops sending must not hold the bus thread or fill memory.
constexpr std::size_t longestStaleInput = 65536;

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

// What an adapter puts before a line that is no part of its answer: the prompt of an AR488 in
// verbose mode, and the "AR488~RDY" its handshake flag prints once it has started.
std::string withoutNoise(std::string line) {
    for (bool again = true; again;) {
        again = false;
        for (const std::string_view noise : {std::string_view("> "), std::string_view("AR488~RDY")})
            if (line.starts_with(noise)) {
                line.erase(0, noise.size());
                again = true;
            }
    }
    return line;
}

// One line from the adapter, without its line end and the noise before it; nullopt after `wait`
// of silence or when the link is gone (then `gone` is set). `pending` keeps what came after it.
std::optional<std::string> readLine(AdapterLink& link, milliseconds wait, std::string& pending, bool& gone) {
    for (;;) {
        const auto end = pending.find('\n');
        if (end != std::string::npos) {
            std::string line = withoutNoise(withoutLineEnd(pending.substr(0, end)));
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
    return AdapterIdentity{AdapterIdentity::Kind::Prologix, answer, {}, "Prologix " + model + " " + number};
}

// "AR488 GPIB controller, ver. 0.53.04, 13/04/2025": the version after "ver. ", up to a comma.
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
    return AdapterIdentity{AdapterIdentity::Kind::Ar488, answer, answer, "AR488 " + number};
}

// The "++ver" answer, asked again while nothing answers: an Arduino resets when its port opens,
// and what reaches it before its firmware runs is lost. An echo of the command (an AR488 in
// verbose mode) is passed over.
std::optional<std::string> versionAnswer(AdapterLink& link, std::string& pending) {
    bool gone = false;
    for (int attempt = 0; attempt < versionTries; ++attempt) {
        if (!link.write("++ver\n"))
            return std::nullopt;
        for (int k = 0; k < mostIdentifyLines; ++k) {
            const auto line = readLine(link, startRetry, pending, gone);
            if (gone)
                return std::nullopt;
            if (!line)
                break;
            if (!line->empty() && *line != "++ver")
                return line;
        }
    }
    return std::nullopt;
}

std::optional<BusAddress> busAddress(std::uint16_t word) {
    const BusAddress address = BusAddress::fromWord(word);
    // The adapter is the controller at 0: an AR488 ignores "++addr 0" and would keep talking to
    // the unit addressed before.
    if (address.primary < 1 || address.primary > highestPrimary)
        return std::nullopt;
    if (address.secondary != 0 &&
        (address.secondary < secondaryBase || address.secondary > highestSecondaryByte))
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

// The AR488 firmware's generation from its own line: "ver. 0.53.04" is 53, "ver. 1.2" 102; 0 for
// none.
int ar488Generation(const std::string& firmware) {
    const auto at = firmware.find("ver. ");
    int major = 0;
    int minor = 0;
    if (at == std::string::npos ||
        std::sscanf(firmware.c_str() + at + 5, "%d.%d", &major, &minor) != 2) // NOLINT
        return 0;
    return major * 100 + minor;
}

// The lines as the adapter takes them, each with its line end: an escaped line feed is data.
std::vector<std::string> adapterLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (std::size_t k = 0; k < text.size(); ++k) {
        lines.back() += text[k];
        if (text[k] == esc && k + 1 < text.size())
            lines.back() += text[++k];
        else if (text[k] == '\n' && k + 1 < text.size())
            lines.emplace_back();
    }
    return lines;
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
    std::string pending;
    if (!drain(link))
        return std::nullopt;
    const std::optional<std::string> version = versionAnswer(link, pending);
    if (!version || !link.write("++ver real\n++eoi\n"))
        return std::nullopt;
    // Only an AR488 answers "++ver real" with its firmware line; "++eoi" answers 0 or 1 on both,
    // after whatever a Prologix made of the argument.
    std::optional<AdapterIdentity> firmware;
    bool gone = false;
    for (int k = 0; k < mostIdentifyLines; ++k) {
        const auto line = readLine(link, replyMargin, pending, gone);
        if (!line || *line == "0" || *line == "1")
            break;
        if (auto ar488 = ar488Identity(*line))
            firmware = std::move(ar488);
    }
    if (gone)
        return std::nullopt;
    if (firmware) {
        firmware->version = *version;
        return firmware;
    }
    return prologixIdentity(*version);
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
    int readTimeoutMs = longestReadTimeoutMs; // until ibtmo sets it: the longest the program uses
    std::string pending;                      // read past what the last read looked for
    std::vector<std::string> answers;         // an AR488's lines before the last marker

    milliseconds replyWait() const { return milliseconds(readTimeoutMs) + replyMargin; }
    bool prologix() const { return identity.kind == AdapterIdentity::Kind::Prologix; }
    // AR488 0.53 and later: the listener search, secondary addresses, EOI with the last byte.
    bool fullAr488() const { return !prologix() && ar488Generation(identity.firmware) >= 53; }

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
    bool write(const std::string& lines) {
        pending.clear();
        if (!drain(link) || !link.write(lines))
            return lost();
        return true;
    }
    // Writes the lines after what was left on the link is drained. An AR488 on an Arduino holds
    // 63 bytes of what arrives while it is busy on the bus and loses the rest: its lines go in
    // windows that fit, each closed by "++ver real" and its answer waited for, so that nothing
    // is sent while a command may still keep the firmware busy. Its other answers are kept.
    bool exchange(const std::string& lines) {
        answers.clear();
        if (prologix())
            return write(lines);
        std::string window;
        for (const std::string& line : adapterLines(lines)) {
            if (!window.empty() && window.size() + line.size() > inputWindow && !sendWindow(window))
                return false;
            window += line;
        }
        return window.empty() || sendWindow(window);
    }
    bool sendWindow(std::string& window) {
        const bool sent = write(window + marker) && awaitMarker();
        window.clear();
        return sent;
    }
    bool awaitMarker() {
        while (const auto answer = line(replyWait())) {
            if (*answer == identity.firmware)
                return true;
            answers.push_back(*answer);
        }
        return gone ? false : driverFails(); // the adapter stopped answering
    }
    bool answered(std::string_view text) const {
        return std::find(answers.begin(), answers.end(), text) != answers.end();
    }
    std::optional<std::string> line(milliseconds wait) {
        bool lostLink = false;
        auto text = readLine(link, wait, pending, lostLink);
        if (lostLink)
            lost();
        return text;
    }
    // "++addr" for the address word, where it is not the one the adapter was told last. An AR488
    // before 0.53 takes no secondary address: it would address the primary alone.
    bool addressLine(std::uint16_t word, std::string& lines) {
        const auto address = busAddress(word);
        if (!address)
            return fail(ni::EARG);
        if (address->secondary != 0 && !prologix() && !fullAr488())
            return fail(ni::ECAP);
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
      m_state(std::make_unique<State>(m_heard, m_identity)) {}

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
    s.addressed.reset();
    const std::optional<bool> controller = s.prologix() ? prologixMode() : ar488Mode();
    if (!controller)
        return -1;
    // An AR488's "++mode 1" restarts controller mode even in it: REN released (every unit goes
    // to local) and IFC. It is sent only to an adapter in device mode.
    const std::string setup = std::string(*controller ? "" : "++mode 1\n") +
                              "++auto 0\n++eoi 1\n++eos 3\n++eot_enable 1\n++eot_char 0\n";
    if (!s.prologix()) {
        if (!s.exchange(setup))
            return -1;
        s.succeed();
        return 0;
    }
    if (!s.write(setup + "++ver\n"))
        return -1;
    while (const auto line = s.line(s.replyWait()))
        if (*line == s.identity.version) {
            s.succeed();
            return 0;
        }
    if (!s.gone)
        s.driverFails();
    return -1;
}

// "++savecfg 0" first, so that none of what follows is written to a Prologix's memory (it saves
// every setting from power-up until told not to); then whether it is the controller.
std::optional<bool> AdapterDriver::prologixMode() {
    State& s = *m_state;
    if (!s.write("++savecfg 0\n++mode\n"))
        return std::nullopt;
    while (const auto line = s.line(s.replyWait()))
        if (*line == "0" || *line == "1")
            return *line == "1";
    if (!s.gone)
        s.driverFails();
    return std::nullopt;
}

// An AR488's "++savecfg" writes its memory whatever its argument: it is never sent one. One its
// owner left in verbose mode (which no power-up keeps) echoes every byte and prompts: that is
// switched off for the run; its handshake flags ("Send^OK", "Read^OK") stay and are passed over.
std::optional<bool> AdapterDriver::ar488Mode() {
    State& s = *m_state;
    for (int turn = 0; turn < 2; ++turn) {
        if (!s.exchange("++mode\n"))
            return std::nullopt;
        if (!s.answered("++mode"))
            break;
        if (!s.exchange("++verbose\n"))
            return std::nullopt;
    }
    if (s.answered("++mode") || !(s.answered("1") || s.answered("0"))) {
        s.driverFails();
        return std::nullopt;
    }
    return s.answered("1");
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
    s.succeed();
}

// Data in lines the adapter takes whole: all but the last piece without EOI ("++eoi 0"), so that a
// long message still reaches the unit as one, ended where the end mode says.
std::string dataLines(const char* bytes, long count, int eotMode) {
    std::vector<std::string> pieces{std::string()};
    for (long k = 0; k < count; ++k) {
        const std::string one = escaped(bytes + k, 1);
        if (pieces.back().size() + one.size() > dataPiece)
            pieces.emplace_back();
        pieces.back() += one;
    }
    if (eotMode == ni::NLend) {
        if (pieces.back().size() + 2 > dataPiece)
            pieces.emplace_back();
        pieces.back() += std::string{esc, '\n'};
    }
    std::string lines = pieces.size() > 1 || eotMode == ni::NULLend ? "++eoi 0\n" : "";
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        if (k + 1 == pieces.size() && pieces.size() > 1 && eotMode != ni::NULLend)
            lines += "++eoi 1\n";
        lines += pieces[k] + "\n";
    }
    return eotMode == ni::NULLend ? lines + "++eoi 1\n" : lines;
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
    // An AR488 before 0.53 pulses EOI on its own after the last byte: it cannot end a message
    // with EOI on its last byte alone.
    if (eotMode == ni::DABend && !s.prologix() && !s.fullAr488()) {
        s.fail(ni::ECAP);
        return;
    }
    // The adapter sends EOI with the line's last byte ("++eoi 1") and appends nothing ("++eos 3").
    if (!s.sendAddressed(address, dataLines(static_cast<const char*>(buffer), count, eotMode)))
        return;
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
    std::string request;
    if (!s.addressLine(address, request))
        return;
    request += "++read eoi\n";
    std::string reply;
    bool ended = false;
    if (s.prologix() ? !receiveFromPrologix(request, count, reply, ended)
                     : !receiveFromAr488(request, reply, ended))
        return;
    s.addressed = address;
    const auto taken = std::min<std::size_t>(reply.size(), static_cast<std::size_t>(count));
    if (taken > 0)
        std::memcpy(buffer, reply.data(), taken);
    s.pending.clear(); // what did not fit is dropped, as the next exchange would drain it
    if (!ended)
        s.fail(ni::EABO, static_cast<long>(taken));
    else
        s.succeed(static_cast<long>(taken), true);
}

// The adapter follows a message ended by EOI with the "++eot_char" byte, NUL; a read that timed
// out brings no NUL, and the driver waits its margin beyond the adapter's timeout.
bool AdapterDriver::receiveFromPrologix(const std::string& request, long count, std::string& reply,
                                        bool& ended) {
    State& s = *m_state;
    if (!s.write(request))
        return false;
    bool lostLink = false;
    std::size_t end = std::string::npos;
    const std::size_t longest = static_cast<std::size_t>(count) + longestStaleInput;
    while ((end = s.pending.find('\0')) == std::string::npos && s.pending.size() < longest) {
        const std::string more = s.link.read(s.replyWait(), lostLink);
        if (lostLink)
            return s.lost();
        if (more.empty())
            break;
        s.pending += more;
    }
    reply = s.pending.substr(0, end);
    ended = end != std::string::npos;
    return true;
}

// On an AR488 the marker after "++read eoi" says where the read ended: after the NUL when the
// unit ended its message, alone when the read timed out. Whatever its handshake flag adds
// ("Read^OK") comes between them and is passed over.
bool AdapterDriver::receiveFromAr488(const std::string& request, std::string& reply, bool& ended) {
    State& s = *m_state;
    if (!s.write(request + marker))
        return false;
    const std::string markerLine = s.identity.firmware + "\r\n";
    bool lostLink = false;
    for (;;) {
        const std::size_t nul = s.pending.find('\0');
        const std::size_t mark = s.pending.find(markerLine, nul == std::string::npos ? 0 : nul);
        if (mark != std::string::npos) {
            ended = nul != std::string::npos;
            reply = s.pending.substr(0, ended ? nul : mark);
            return true;
        }
        if (s.pending.size() > longestStaleInput)
            return s.driverFails();
        const std::string more = s.link.read(s.replyWait(), lostLink);
        if (lostLink)
            return s.lost();
        if (more.empty())
            return s.driverFails(); // the adapter stopped answering
        s.pending += more;
    }
}

// An adapter puts no byte of the host's own on the bus with ATN: bus commands are a board's.
// The trigger they would stand for is TriggerUnit.
void AdapterDriver::SendCmds(int board, const void* commands, long count) {
    State& s = *m_state;
    if (!s.usable(board))
        return;
    s.fail(count < 0 || (commands == nullptr && count > 0) ? ni::EARG : ni::ECAP);
}

bool AdapterDriver::triggersItself() const {
    return true;
}

void AdapterDriver::TriggerUnit(int board, std::uint16_t address) {
    State& s = *m_state;
    if (!s.usable(board))
        return;
    const std::optional<BusAddress> unit = busAddress(address);
    if (!unit) {
        s.fail(ni::EARG);
        return;
    }
    // An AR488's "++trg" takes primary addresses only.
    if (!s.prologix() && unit->secondary != 0) {
        s.fail(ni::ECAP);
        return;
    }
    if (s.exchange("++trg " + addressText(*unit) + "\n"))
        s.succeed();
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
    const bool searched = s.prologix()    ? pollEach(primaries, found)
                          : s.fullAr488() ? searchListeners(primaries, found)
                                          : pollAr488(primaries, found);
    if (!searched)
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

// An AR488 before 0.53 has no listener search, and its "++spoll 5" polls nobody: each address is
// made the adapter's own and polled, two to a window, with the search's short read timeout.
bool AdapterDriver::pollAr488(const std::vector<int>& primaries, std::vector<std::uint16_t>& found) {
    State& s = *m_state;
    s.addressed.reset();
    if (!s.exchange("++read_tmo_ms " + std::to_string(searchReadTimeoutMs) + "\n"))
        return false;
    for (const int primary : primaries) {
        if (!s.exchange("++addr " + std::to_string(primary) + "\n++spoll\n"))
            return false;
        // A status byte; an empty line is no unit's answer.
        if (std::any_of(s.answers.begin(), s.answers.end(),
                        [](const std::string& a) { return whole(a, 0, 255).has_value(); }))
            found.push_back(static_cast<std::uint16_t>(primary));
    }
    return s.exchange("++read_tmo_ms " + std::to_string(s.readTimeoutMs) + "\n");
}

// The AR488's own search: "5,9:107" for a listener at 5 and one at 9, secondary 11 (sent as 107).
// It takes a range ("1-30") or a list of at most 15 addresses, so each run of consecutive
// addresses is asked on its own.
bool AdapterDriver::searchListeners(const std::vector<int>& primaries, std::vector<std::uint16_t>& found) {
    State& s = *m_state;
    for (std::size_t k = 0; k < primaries.size();) {
        std::size_t last = k;
        while (last + 1 < primaries.size() && primaries[last + 1] == primaries[last] + 1)
            ++last;
        const std::string range =
            std::to_string(primaries[k]) + (last > k ? "-" + std::to_string(primaries[last]) : std::string());
        k = last + 1;
        if (!s.exchange("++fndl " + range + "\n"))
            return false;
        if (s.answers.size() != 1)
            return s.driverFails(); // not the answer of a listener search
        for (const std::string& item : split(s.answers.front(), ',')) {
            const auto colon = item.find(':');
            const auto primary = whole(item.substr(0, colon), 0, highestPrimary);
            const auto secondary = colon == std::string::npos
                                       ? std::optional<int>(0)
                                       : whole(item.substr(colon + 1), secondaryBase, highestSecondaryByte);
            if (!primary || !secondary)
                return s.driverFails();
            found.push_back(static_cast<std::uint16_t>(*primary | *secondary << 8));
        }
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
