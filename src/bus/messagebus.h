// What a configuration asks of the bus, in messages to units at their addresses.
#pragma once

#include "busaddress.h"
#include "driverplan.h"
#include "status.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ktq::bus {

class TrafficLog;

/// Where a bring-up stopped: the report's text for the call that failed ("ibask error"), whether
/// that call was the opening of the board itself, and the status it left.
struct BringUpStop {
    const char* message = "";
    bool opening = false;
    StatusSnapshot status;
};

/// What a bring-up opened (-1 where the opening failed), and where it stopped, if it did.
struct BringUpResult {
    std::int16_t descriptor = -1;
    std::optional<BringUpStop> stop;
};

/// The one thing a configuration run sees of the bus: messages to the unit at an address, and
/// the few bus-wide operations a configuration needs. Each way to the bus implements it; how a
/// unit is addressed or triggered, and which bytes that takes, is the implementation's own.
/// Every operation returns the status its last driver call left, in NI's status words, which
/// the operator's report and the advice read.
class MessageBus {
public:
    virtual ~MessageBus() = default;

    /// Opens board `board` ("GPIB0") and readies it as the controller: an interface clear,
    /// service requests, a 3 s timeout; it stops at the first call that fails. What an earlier
    /// bring-up opened is given back first.
    virtual BringUpResult bringUp(std::int16_t board) = 0;
    /// Gives back what the last bring-up opened, unless that is the board itself.
    virtual void release() = 0;

    /// The interface clear that returns every unit to its idle state.
    virtual StatusSnapshot clearInterface() = 0;
    /// The device clear of the unit at `unit`.
    virtual StatusSnapshot clear(BusAddress unit) = 0;
    /// Which primary addresses from 1 to 30 have a listener: their address words, at most
    /// `found.size()` of them, written to `found`; the status's count says how many answered.
    virtual StatusSnapshot findListeners(std::span<std::int16_t> found) = 0;
    /// `text` to the unit, one byte per character, ended with a line feed and EOI.
    virtual StatusSnapshot write(BusAddress unit, const QString& text) = 0;
    /// Reads the unit's reply into `text`: its length is the most that is read, and what is not
    /// overwritten keeps the caller's pre-fill. A byte of value 0 ends it, as EOI does.
    virtual StatusSnapshot read(BusAddress unit, QString& text) = 0;
    /// The steps a trigger of a unit takes, each to be followed by a pause.
    virtual int triggerSteps() const = 0;
    /// Step `step` of the trigger of the unit at `unit` (its primary address alone counts).
    virtual StatusSnapshot trigger(BusAddress unit, int step) = 0;

    /// The last call found the board itself gone: nothing sent through it can reach the bus.
    virtual bool boardGone() const = 0;
    /// The driver's family, which the advice tells error codes apart by ("linux-gpib"); it may
    /// change at a bring-up, where the program chooses between a board and an adapter.
    virtual std::string_view family() const = 0;
    /// What the bus goes through, in the operator's words; empty for a board.
    virtual std::string linkDescription() const = 0;
    /// What the first bring-up will try, known without sending anything.
    virtual DriverPlan plan() const = 0;
    /// Why the last bring-up could not use the adapter the operator named; empty otherwise.
    virtual std::string unreachableReason() const = 0;
    /// Every driver call made, for the Bus Traffic window.
    virtual TrafficLog& traffic() = 0;
    /// The operator asked to leave while a step is under way (`asked`), or no longer waits.
    virtual bool leaveOnceOverdue(bool asked) = 0;
};

} // namespace ktq::bus
