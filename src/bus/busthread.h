// The worker thread that makes every driver call, and the watch over a call that never returns.
#pragma once

#include "steps/steps.h"

#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ktq::bus {

/// Told when a step starts and stops waiting (for a bus call or a pause), so that the windows can
/// show they are busy and hold back what must wait.
class WaitObserver {
public:
    virtual ~WaitObserver() = default;
    virtual void waitStarted() = 0;
    virtual void waitEnded() = 0;
};

/// Waits as StepWait::wait(flags) does, the observer (may be null) told of the start and the end.
bool waitForEnd(StepWait& wait, WaitObserver* observer,
                QEventLoop::ProcessEventsFlags flags = QEventLoop::ExcludeUserInputEvents);

/// One driver call as the runner sees it.
struct BusCall {
    const char* name = "";                // the driver's name for it, for the operator
    std::chrono::milliseconds timeout{0}; // the longest the driver's own timeout lets it take
    const std::function<void()>* body = nullptr;
};

/// Where the driver calls run.
class CallRunner {
public:
    virtual ~CallRunner() = default;
    /// Runs the call to its end. False when the call was not made because the program is ending.
    virtual bool run(const BusCall& call) = 0;
    /// The operator has asked to leave (Done, Exit) while a step is under way, and the request
    /// waits for the step (`asked`), or no longer does (the step ended). While asked, a call that
    /// is or becomes overdue ends the program as a close would. True where it ended the program
    /// at once (which returns only where a test stands in for the end).
    virtual bool leaveOnceOverdue(bool asked) {
        (void)asked;
        return false;
    }
};

/// The time by which a call that does not return is judged. Tests replace it.
class CallClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~CallClock() = default;
    virtual TimePoint now() = 0;
    /// Calls `due` from the calling thread's event loop once now() has reached `at`; replaces an
    /// earlier request.
    virtual void wakeAt(TimePoint at, std::function<void()> due) = 0;
    virtual void cancel() = 0;
};

/// The steady clock, woken by a timer of the thread that made it. A timer that fires before the
/// clock says so (as Windows' may) waits out the rest.
class SteadyCallClock final : public CallClock {
public:
    SteadyCallClock();
    TimePoint now() override;
    void wakeAt(TimePoint at, std::function<void()> due) override;
    void cancel() override;

private:
    void arm();

    QTimer m_timer;
    TimePoint m_at{};
    std::function<void()> m_due;
};

/// Ends the program at once. Tests observe it instead.
class ProgramEnd {
public:
    virtual ~ProgramEnd() = default;
    /// Says `why` on standard error and ends the process; returns only where a test stands in.
    virtual void endNow(const std::string& why) = 0;
};

/// Ends the process without running a destructor or an exit handler: a driver call that never
/// returned still holds the caller's buffers, and its thread cannot be joined.
class ProcessEnd final : public ProgramEnd {
public:
    static constexpr int exitCode = 1;
    void endNow(const std::string& why) override;
};

/// The windows' part in a call that stays out past its timeout and the grace: from
/// overdueStarted to overdueEnded they hold the operator's input back and call `leave` when the
/// operator asks to leave a window. What counts as asking is theirs to know.
class LeaveRequests {
public:
    virtual ~LeaveRequests() = default;
    virtual void overdueStarted(std::function<void()> leave) = 0;
    virtual void overdueEnded() = 0;
};

/// What becomes of a call that stays out past its timeout and the grace: once it has, the
/// operator's asking to leave ends the program without waiting for the call. Without a clock, an
/// end and the windows' requests, calls are waited for however long.
struct HangWatch {
    CallClock* clock = nullptr;
    ProgramEnd* end = nullptr;
    std::chrono::milliseconds grace{5000};
    LeaveRequests* leaving = nullptr;
};

/// One worker thread, from the first driver call to the end of the program, that makes every
/// call, so that the driver's per-thread status always belongs to the thread that made the call.
/// The caller's step waits meanwhile, and the windows keep painting. Once the program is asked to
/// quit during a wait, the call under way finishes and no later call is made.
class BusThread final : public CallRunner {
public:
    explicit BusThread(WaitObserver* observer = nullptr, HangWatch watch = {});
    ~BusThread() override;
    BusThread(const BusThread&) = delete;
    BusThread& operator=(const BusThread&) = delete;

    bool run(const BusCall& call) override;
    bool leaveOnceOverdue(bool asked) override;

private:
    struct Job;
    void work();
    void endWithout(const BusCall& call, CallClock::TimePoint start);
    void waitOverdue(const BusCall& call, StepWait& wait, CallClock::TimePoint start);
    void waitAfterQuit(std::unique_lock<std::mutex>& guard, Job& job, const BusCall& call, CallClock* clock,
                       CallClock::TimePoint start, CallClock::TimePoint deadline);

    WaitObserver* m_observer = nullptr;
    HangWatch m_watch;
    bool m_ended = false;               // touched by the caller's thread only, as are the two below
    bool m_leaveAsked = false;          // a press of Done or Exit waits for the step
    std::function<void()> m_endOverdue; // while a call is overdue: ends without it
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<Job>> m_jobs;
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace ktq::bus
