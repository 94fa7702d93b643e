// The simulated bus at the wire: address bytes, data with EOI, the lines and the units on it.
#pragma once

#include "sim/units/simunit.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim {

/// A GPIB bus at the level of its lines, with the controller at one end and the simulated units
/// on it. Bytes sent with ATN address the units (talk and listen addresses, secondary addresses,
/// UNL, UNT) and reach them as commands (SDC, DCL, GET); data bytes go to every addressed
/// listener, EOI marking the last byte of a message; a read takes the addressed talker's bytes.
/// The controller has an address of its own (0 unless set); its talk and listen state is kept
/// like a unit's.
///
/// Bus events, one line each, go to the event log when it is on and to the event file:
///   IFC, REN 1, REN 0
///   CMD "<bytes>"                       bytes sent with ATN: one line per command() call;
///                                       consecutive commandByte() bytes make one line until ATN
///                                       is released
///   WRITE <listeners> "<bytes>"[ EOI]   data the controller sent; listeners as primary
///                                       addresses or primary.secondary, joined by commas, none `-`;
///                                       consecutive writes to the same listeners up to EOI make one
///                                       line
///   READ <talker> "<bytes>"[ EOI]       data a unit sent (in a serial poll: its status byte);
///                                       one line per read(), consecutive nextTalkByte() bytes up
///                                       to EOI make one line
///   TIMEOUT <what>                      a transfer that waited for nobody: `READ 5`, `READ -`
/// Bytes are quoted as in the driver trace.
class WireBus {
public:
    /// Waits out a timeout of a transfer nobody answered. Unset, the timeout passes in simulated
    /// time: it is reported at once.
    using TimeoutWait = std::function<void(std::chrono::microseconds)>;

    /// One byte of the addressed talker, as a device on the lines puts it there.
    struct TalkByte {
        char byte = 0;
        bool eoi = false; // the last byte of the reply
    };

    struct Read {
        std::string bytes;
        bool end = false;      // EOI came with the last byte, or the end-of-string byte ended it
        bool eoi = false;      // EOI came with the last byte
        bool timedOut = false; // nobody talked
    };

    WireBus();
    ~WireBus();
    WireBus(const WireBus&) = delete;
    WireBus& operator=(const WireBus&) = delete;

    SimUnit& addUnit(int primary, const ModelFacts& facts);
    SimUnit* unitAt(int primary);
    void removeUnit(int primary);
    std::vector<SimUnit*> units();
    /// The unit this address reaches (secondary -1: the primary alone).
    SimUnit* unitListeningAt(int primary, int secondary);

    /// The next read from `primary` as talker gets these bytes, EOI after the last.
    void queueReply(int primary, std::string bytes);
    /// The unit at `primary` still listens but never talks.
    void silence(int primary, bool silent);

    // The controller's side.
    void setControllerAddress(int primary, int secondary);
    int controllerPrimary() const { return m_controllerPrimary; }
    int controllerSecondary() const { return m_controllerSecondary; }
    bool controllerListens() const { return m_controllerListens; }
    bool remoteEnabled() const { return m_remoteEnabled; }
    /// ATN asserted: the controller is active (after commands, interface clear), not in standby
    /// (after data went either way, or standby was asked for).
    bool attention() const { return m_attention; }
    /// Standby (false) or taking control again (true), nothing sent. Standby ends a pending line.
    void setAttention(bool on);
    /// The controller's status as a board reports it (linux-gpib's numbers): CMPL, CIC, and ATN,
    /// TACS, LACS as they stand.
    int controllerStatus() const;

    /// Interface clear: every unit and the controller unaddressed.
    void interfaceClear();
    void remoteEnable(bool on);
    /// Bytes with ATN asserted.
    void command(std::string_view bytes);
    /// One byte with ATN asserted, as a controller on the lines hands them over one at a time.
    void commandByte(char byte);
    /// Data bytes from the controller to the addressed listeners; false, and nothing taken, when
    /// no unit listens.
    bool write(std::string_view bytes, bool eoi);
    /// Up to `count` bytes from the addressed talker, ending early at EOI or at `eos` (-1: none;
    /// compared in 7 bits unless `eightBit`). A talker with nothing to say waits out `timeout`.
    Read read(std::size_t count, int eos, bool eightBit, std::chrono::microseconds timeout);
    /// The byte the addressed talker would send next, nothing taken; none while nobody talks or
    /// the talker has nothing to say. In a serial poll: the talker's status byte.
    std::optional<TalkByte> peekTalkByte();
    /// Takes that byte as read() would take it alone.
    std::optional<TalkByte> nextTalkByte();
    /// A controller on the lines gave up waiting for a talker: the TIMEOUT line of a read that
    /// nobody answered, its time spent on the controller's side.
    void talkerSilent();
    /// NDAC as the controller sees it in standby: held while any unit is addressed to listen.
    bool ndacHeld() const;
    /// The SRQ line: held while a unit's status byte has a bit its service request enable
    /// register enables. A unit keeps holding it until the condition goes (no request latch).
    bool srqAsserted() const;
    /// A unit's IEEE 488.2 status byte: MAV (16) while a reply waits, ESB (32) while an event
    /// its *ESE enables is set, RQS (64) while either of those is enabled by *SRE.
    static int statusByte(const SimUnit& unit);
    /// Between Serial Poll Enable and Serial Poll Disable a talker sends its status byte.
    bool serialPollMode() const { return m_serialPoll; }

    void setTimeoutWait(TimeoutWait wait) { m_timeoutWait = std::move(wait); }
    const TimeoutWait& timeoutWait() const { return m_timeoutWait; }

    void setEventLog(bool on) { m_logEvents = on; }
    const std::vector<std::string>& events() const { return m_events; }
    /// Appends every later event to this file; an empty path stops it.
    void setEventFile(const std::string& path);
    /// Ends a pending CMD, WRITE or READ line.
    void flushEvents();

private:
    struct Listener {
        SimUnit* unit = nullptr;
        int secondary = -1;
    };

    static bool addressedBy(const SimUnit& unit, int primary, int secondary);
    void event(std::string line);
    void record(const std::string& line);
    void unlisten();
    void untalk();
    void listen(int primary, int secondary);
    void waitedForNobody(const std::string& what, std::chrono::microseconds timeout);
    void decode(int byte);
    std::string listenerNames() const;
    std::string talkerName() const;
    SimUnit* polledUnit();
    std::string* talkerSource();
    void consume(std::string* source, std::size_t count);
    void appendPending(const std::string& head, std::string_view bytes, bool eoi);

    std::vector<std::unique_ptr<SimUnit>> m_units;
    std::vector<Listener> m_listeners;
    std::map<int, std::deque<std::string>> m_replies;
    std::vector<int> m_silent;

    int m_controllerPrimary = 0;
    int m_controllerSecondary = -1;
    bool m_controllerTalks = false;
    bool m_controllerListens = false;
    bool m_remoteEnabled = false;
    bool m_attention = true;
    bool m_serialPoll = false;
    int m_talkerPrimary = -1;
    int m_talkerSecondary = -1;
    // The command decoder's last primary address: a secondary address byte extends it.
    enum class Last { None, Listen, Talk } m_last = Last::None;
    int m_lastPrimary = -1;

    TimeoutWait m_timeoutWait;
    bool m_logEvents = false;
    std::vector<std::string> m_events;
    std::ofstream m_eventFile;
    // A line still open for more bytes: its head ("WRITE 5") and its bytes, unquoted.
    std::string m_pendingHead;
    std::string m_pendingBytes;
};

} // namespace ktq::sim
