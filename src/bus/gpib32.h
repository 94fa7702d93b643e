// The wrappers through which the program makes every driver call and keeps its status.
#pragma once

#include "gpibdriver.h"
#include "traffic.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ktq::bus {

class CallRunner;
class TrafficClock;

/// The only way the program reaches a driver: one wrapper per driver call, each returning the
/// status snapshot the call left. Text goes out one byte per character; a character beyond 8 bits
/// goes as '?'. Each call and the reading of its status run together through the runner (on the
/// bus thread in the program); a call the runner no longer makes reports ERR with EABO.
class Gpib32 {
public:
    explicit Gpib32(GpibDriver& driver);
    Gpib32(GpibDriver& driver, CallRunner& runner);
    Gpib32(const Gpib32&) = delete;
    Gpib32& operator=(const Gpib32&) = delete;

    // The descriptor ibfind answered (-1 where it failed) is written to `descriptor` when given.
    StatusSnapshot GpibFind(const QString& name, std::int16_t* descriptor = nullptr);
    StatusSnapshot GpibAsk(std::int16_t descriptor, std::int16_t option, std::int16_t& value);
    StatusSnapshot GpibSre(std::int16_t descriptor, std::int16_t value);
    StatusSnapshot GpibTmo(std::int16_t descriptor, std::int16_t timeoutCode);
    // With 0, gives back a descriptor GpibFind handed out; never pass a board index.
    StatusSnapshot GpibOnl(std::int16_t descriptor, std::int16_t online);
    StatusSnapshot GpibSendIFC(std::int16_t board);
    StatusSnapshot GpibDevClear(std::int16_t board, std::int16_t address);
    // The driver is never told it may write more entries than `resultList` holds, and never
    // reads past `addressList`: a list without the no-address marker (-1) gets one.
    StatusSnapshot GpibFindLstn(std::int16_t board, std::span<const std::int16_t> addressList,
                                std::span<std::int16_t> resultList, std::int16_t limit);
    StatusSnapshot GpibSend(std::int16_t board, std::int16_t address, const QString& text,
                            std::int16_t endMode);
    // `text` is sized by the caller: its length is the most that is read, and what is not
    // overwritten by received bytes keeps the caller's pre-fill.
    StatusSnapshot GpibReceive(std::int16_t board, std::int16_t address, QString& text,
                               std::int16_t termination);
    StatusSnapshot GpibSendCmds(std::int16_t board, const QString& text);
    /// The calls a trigger of a unit takes, each to be followed by a pause: four on a board, one
    /// through a driver that triggers by itself.
    int triggerSteps() const;
    /// Step `step` of the trigger of the unit at `address` (its primary address alone counts): on a
    /// board the bus commands of that step (triggerCommands), else the driver's own trigger.
    StatusSnapshot GpibTrigger(std::int16_t board, std::int16_t address, int step);

    /// The operator asked to leave while a step is under way (or no longer waits): see
    /// CallRunner::leaveOnceOverdue.
    bool leaveOnceOverdue(bool asked);

    /// The driver's family, which the advice tells error codes apart by. It may change at
    /// GpibFind, where the program chooses between a board and an adapter: ask after it.
    std::string_view driverFamily() const { return m_driver.family(); }
    /// What the driver reached and where, for the operator; empty for a board.
    std::string linkDescription() const { return m_driver.linkDescription(); }
    /// What the first GpibFind will try, known without sending anything.
    DriverPlan driverPlan() const { return m_driver.plan(); }
    /// Why the last GpibFind could not use the adapter the operator named; empty otherwise.
    std::string unreachableReason() const { return m_driver.unreachableReason(); }

    /// The last call found the board itself gone (linux-gpib: EDVR with the system's ENODEV, as
    /// for a USB adapter unplugged): nothing sent through it can reach the bus.
    bool boardGone() const;

    /// Every call made through these wrappers, as it completed (the status reads not counted).
    TrafficLog& traffic() { return m_traffic; }
    const TrafficLog& traffic() const { return m_traffic; }
    /// Where the traffic's times come from (the system's clocks until set); not owned.
    void setTrafficClock(TrafficClock& clock) { m_clock = &clock; }

    const StatusSnapshot& status() const { return m_status; }
    std::int16_t ibsta() const { return m_status.ibsta; }
    std::int16_t iberr() const { return m_status.iberr; }
    std::int16_t ibcnt() const { return m_status.ibcnt; }
    std::int32_t ibcntl() const { return m_status.ibcntl; }

private:
    // The call's result and the status the driver kept for the thread that made it.
    template <typename Result> struct Outcome {
        Result result{};
        StatusSnapshot status;
    };
    template <typename Call, typename Describe> auto onBus(const char* name, Call call, Describe describe);
    StatusSnapshot GpibCopyStatus();

    GpibDriver& m_driver;
    CallRunner* m_runner = nullptr; // none: on the caller's thread
    TrafficLog m_traffic;
    SystemTrafficClock m_systemClock;
    TrafficClock* m_clock = &m_systemClock;
    DialogueRecorder m_dialogue;
    StatusSnapshot m_status;
    // How long the driver's timeout lets a call take: until the program sets it, the usual
    // default of a board's configuration (10 s).
    std::chrono::milliseconds m_timeout{10000};
};

} // namespace ktq::bus
