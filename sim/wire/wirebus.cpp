// The simulated bus at the wire: address bytes, data with EOI, the lines and the units on it.
#include "sim/wire/wirebus.h"

#include "sim/linuxgpib.h"
#include "sim/tracetext.h"

#include <algorithm>

namespace ktq::sim {

namespace {

std::string addressName(int primary, int secondary) {
    return std::to_string(primary) + (secondary >= 0 ? "." + std::to_string(secondary) : "");
}

} // namespace

WireBus::WireBus() = default;
WireBus::~WireBus() = default;

SimUnit& WireBus::addUnit(int primary, const ModelFacts& facts) {
    m_units.push_back(std::make_unique<SimUnit>(primary, facts));
    return *m_units.back();
}

SimUnit* WireBus::unitAt(int primary) {
    for (auto& unit : m_units)
        if (unit->primary() == primary)
            return unit.get();
    return nullptr;
}

void WireBus::removeUnit(int primary) {
    const auto it =
        std::find_if(m_units.begin(), m_units.end(), [&](const auto& u) { return u->primary() == primary; });
    if (it == m_units.end())
        return;
    std::erase_if(m_listeners, [&](const Listener& l) { return l.unit == it->get(); });
    m_units.erase(it);
}

std::vector<SimUnit*> WireBus::units() {
    std::vector<SimUnit*> list;
    for (auto& unit : m_units)
        list.push_back(unit.get());
    return list;
}

// IEEE 488.1: a unit without secondary addresses is addressed by its primary address alone and
// ignores a secondary address after it; one with secondary addresses needs one of its own.
bool WireBus::addressedBy(const SimUnit& unit, int primary, int secondary) {
    return unit.primary() == primary && (unit.listensAt(-1) || unit.listensAt(secondary));
}

SimUnit* WireBus::unitListeningAt(int primary, int secondary) {
    for (auto& unit : m_units)
        if (addressedBy(*unit, primary, secondary))
            return unit.get();
    return nullptr;
}

void WireBus::queueReply(int primary, std::string bytes) {
    m_replies[primary].push_back(std::move(bytes));
}

void WireBus::silence(int primary, bool silent) {
    m_silent.erase(std::remove(m_silent.begin(), m_silent.end(), primary), m_silent.end());
    if (silent)
        m_silent.push_back(primary);
}

void WireBus::setControllerAddress(int primary, int secondary) {
    m_controllerPrimary = primary;
    m_controllerSecondary = secondary;
}

void WireBus::interfaceClear() {
    event("IFC");
    unlisten();
    untalk();
    m_serialPoll = false;
    m_attention = true;
}

int WireBus::controllerStatus() const {
    return lg::CMPL | lg::CIC | (m_attention ? lg::ATN : 0) | (m_controllerTalks ? lg::TACS : 0) |
           (m_controllerListens ? lg::LACS : 0);
}

void WireBus::remoteEnable(bool on) {
    m_remoteEnabled = on;
    event(on ? "REN 1" : "REN 0");
}

void WireBus::unlisten() {
    for (const Listener& l : m_listeners)
        l.unit->setAddressedToListen(false);
    m_listeners.clear();
    m_controllerListens = false;
}

void WireBus::untalk() {
    m_talkerPrimary = -1;
    m_talkerSecondary = -1;
    m_controllerTalks = false;
}

void WireBus::listen(int primary, int secondary) {
    for (auto& unit : m_units) {
        if (unit->primary() != primary || !unit->listensAt(secondary))
            continue; // a secondary address a unit does not have leaves it as its primary left it
        std::erase_if(m_listeners, [&](const Listener& l) { return l.unit == unit.get(); });
        m_listeners.push_back({unit.get(), secondary});
        unit->setAddressedToListen(true);
    }
}

void WireBus::setAttention(bool on) {
    if (!on)
        flushEvents();
    m_attention = on;
}

void WireBus::command(std::string_view bytes) {
    event("CMD " + quoted(bytes));
    m_attention = true;
    for (const char byte : bytes)
        decode(static_cast<unsigned char>(byte));
}

void WireBus::commandByte(char byte) {
    appendPending("CMD", std::string_view(&byte, 1), false);
    m_attention = true;
    decode(static_cast<unsigned char>(byte));
}

void WireBus::decode(int raw) {
    const int byte = raw & 0x7f; // DIO8 carries parity at most
    if (byte < lg::LAD) {
        m_last = Last::None;
        if (byte == lg::SPE || byte == lg::SPD) {
            m_serialPoll = byte == lg::SPE;
        } else if (byte == lg::DCL) {
            for (auto& unit : m_units)
                unit->deviceClear();
        } else if (byte == lg::SDC || byte == lg::GET) {
            for (const Listener& l : m_listeners) {
                if (!l.unit->addressedToListen())
                    continue;
                if (byte == lg::SDC)
                    l.unit->deviceClear();
                else
                    l.unit->trigger();
            }
        }
    } else if (byte == lg::UNL) {
        unlisten();
        m_last = Last::None;
    } else if (byte < lg::UNL) {
        const int primary = byte - lg::LAD;
        if (primary == m_controllerPrimary)
            m_controllerListens = true;
        else
            listen(primary, -1);
        m_last = Last::Listen;
        m_lastPrimary = primary;
    } else if (byte == lg::UNT) {
        untalk();
        m_last = Last::None;
    } else if (byte < lg::UNT) {
        m_talkerPrimary = byte - lg::TAD;
        m_talkerSecondary = -1;
        m_controllerTalks = m_talkerPrimary == m_controllerPrimary;
        m_last = Last::Talk;
        m_lastPrimary = m_talkerPrimary;
    } else {
        const int secondary = byte - lg::SAD;
        if (m_last == Last::Listen && m_lastPrimary != m_controllerPrimary)
            listen(m_lastPrimary, secondary);
        else if (m_last == Last::Talk)
            m_talkerSecondary = secondary;
    }
}

std::string WireBus::listenerNames() const {
    std::string names;
    for (const Listener& l : m_listeners)
        if (l.unit->addressedToListen())
            names += (names.empty() ? "" : ",") + addressName(l.unit->primary(), l.secondary);
    return names.empty() ? "-" : names;
}

bool WireBus::write(std::string_view bytes, bool eoi) {
    m_attention = false;
    const std::string names = listenerNames();
    if (names == "-") {
        event("WRITE - " + quoted(bytes) + (eoi ? " EOI" : ""));
        return false;
    }
    appendPending("WRITE " + names, bytes, eoi);
    // A copy: a unit taking the bytes may not change who listens, but keep the loop safe.
    const std::vector<Listener> listeners = m_listeners;
    for (const Listener& l : listeners)
        if (l.unit->addressedToListen())
            l.unit->takeBytes(bytes, eoi, l.secondary);
    return true;
}

std::string WireBus::talkerName() const {
    return m_talkerPrimary < 0 || m_controllerTalks ? "-" : addressName(m_talkerPrimary, m_talkerSecondary);
}

SimUnit* WireBus::polledUnit() {
    return m_talkerPrimary < 0 || m_controllerTalks ? nullptr
                                                    : unitListeningAt(m_talkerPrimary, m_talkerSecondary);
}

std::string* WireBus::talkerSource() {
    if (m_talkerPrimary < 0 || m_controllerTalks)
        return nullptr;
    auto queued = m_replies.find(m_talkerPrimary);
    if (queued != m_replies.end() && !queued->second.empty())
        return &queued->second.front();
    if (std::find(m_silent.begin(), m_silent.end(), m_talkerPrimary) != m_silent.end())
        return nullptr;
    SimUnit* unit = unitListeningAt(m_talkerPrimary, m_talkerSecondary);
    return unit ? &unit->output() : nullptr;
}

// A queued reply read to its end gives way to the next one.
void WireBus::consume(std::string* source, std::size_t count) {
    source->erase(0, count);
    auto queued = m_replies.find(m_talkerPrimary);
    if (source->empty() && queued != m_replies.end() && !queued->second.empty() &&
        source == &queued->second.front())
        queued->second.pop_front();
}

std::optional<WireBus::TalkByte> WireBus::peekTalkByte() {
    if (m_serialPoll) {
        const SimUnit* unit = polledUnit();
        return unit ? std::optional(TalkByte{static_cast<char>(statusByte(*unit)), false}) : std::nullopt;
    }
    const std::string* source = talkerSource();
    if (source == nullptr || source->empty())
        return std::nullopt;
    return TalkByte{source->front(), source->size() == 1};
}

std::optional<WireBus::TalkByte> WireBus::nextTalkByte() {
    m_attention = false;
    const auto next = peekTalkByte();
    if (!next)
        return next;
    if (!m_serialPoll)
        consume(talkerSource(), 1);
    appendPending("READ " + talkerName(), std::string_view(&next->byte, 1), next->eoi);
    return next;
}

void WireBus::talkerSilent() {
    event("TIMEOUT READ " + talkerName());
}

WireBus::Read WireBus::read(std::size_t count, int eos, bool eightBit, std::chrono::microseconds timeout) {
    Read result;
    m_attention = false;
    if (count == 0)
        return result;
    const std::string talker = talkerName();
    if (m_serialPoll) {
        // The talker answers with its status byte alone, whatever it has queued.
        SimUnit* unit = polledUnit();
        if (unit == nullptr) {
            waitedForNobody("READ " + talker, timeout);
            result.timedOut = true;
            return result;
        }
        result.bytes = std::string(1, static_cast<char>(statusByte(*unit)));
        event("READ " + talker + " " + quoted(result.bytes));
        return result;
    }
    std::string* source = talkerSource();
    if (source == nullptr || source->empty()) {
        waitedForNobody("READ " + talker, timeout);
        result.timedOut = true;
        return result;
    }
    const int mask = eightBit ? 0xff : 0x7f;
    bool eoi = false;
    std::size_t taken = 0;
    while (taken < count && taken < source->size()) {
        const int byte = static_cast<unsigned char>((*source)[taken++]);
        if (taken == source->size()) {
            eoi = true;
            break;
        }
        if (eos >= 0 && (byte & mask) == (eos & mask))
            break;
    }
    result.bytes = source->substr(0, taken);
    result.eoi = eoi;
    result.end =
        eoi || (eos >= 0 && (static_cast<unsigned char>(result.bytes.back()) & mask) == (eos & mask));
    consume(source, taken);
    event("READ " + talker + " " + quoted(result.bytes) + (eoi ? " EOI" : ""));
    return result;
}

bool WireBus::ndacHeld() const {
    return std::any_of(m_listeners.begin(), m_listeners.end(),
                       [](const Listener& l) { return l.unit->addressedToListen(); });
}

int WireBus::statusByte(const SimUnit& unit) {
    const int summary = (unit.replyPending() ? 0x10 : 0) | ((unit.esr() & unit.ese()) != 0 ? 0x20 : 0);
    return summary | ((summary & unit.sre()) != 0 ? 0x40 : 0);
}

bool WireBus::srqAsserted() const {
    return std::any_of(m_units.begin(), m_units.end(),
                       [](const auto& unit) { return (statusByte(*unit) & 0x40) != 0; });
}

// Every transfer that found nobody on the other end passes here, whichever way into the bus it
// came, so that one place decides how long such a timeout takes.
void WireBus::waitedForNobody(const std::string& what, std::chrono::microseconds timeout) {
    event("TIMEOUT " + what);
    if (m_timeoutWait)
        m_timeoutWait(timeout);
}

void WireBus::setEventFile(const std::string& path) {
    m_eventFile.close();
    if (!path.empty())
        m_eventFile.open(path, std::ios::app);
}

// Bytes handed over one call at a time make one line, as one call with all of them would.
void WireBus::appendPending(const std::string& head, std::string_view bytes, bool eoi) {
    if (m_pendingHead != head)
        flushEvents();
    m_pendingHead = head;
    m_pendingBytes.append(bytes);
    if (eoi) {
        const std::string line = head + " " + quoted(m_pendingBytes) + " EOI";
        m_pendingHead.clear();
        m_pendingBytes.clear();
        record(line);
    }
}

void WireBus::flushEvents() {
    if (m_pendingHead.empty())
        return;
    const std::string line = m_pendingHead + " " + quoted(m_pendingBytes);
    m_pendingHead.clear();
    m_pendingBytes.clear();
    record(line);
}

void WireBus::event(std::string line) {
    flushEvents();
    record(line);
}

void WireBus::record(const std::string& line) {
    if (m_eventFile.is_open())
        m_eventFile << line << '\n' << std::flush;
    if (m_logEvents)
        m_events.push_back(line);
}

} // namespace ktq::sim
