#pragma once

#include <QEventLoop>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace ktq::bus {

/// Told when the window's thread starts and stops waiting in a local event loop (a bus call or
/// a pause), so that the windows can show they are busy and hold back what must wait.
class WaitObserver {
public:
    virtual ~WaitObserver() = default;
    virtual void waitStarted() = 0;
    virtual void waitEnded() = 0;
};

/// Runs `loop` on the calling thread until something ends it, leaving the operator's keys and
/// clicks queued for afterwards; the observer (may be null) hears of the start and the end.
void waitInLocalLoop(QEventLoop& loop, WaitObserver* observer);

/// Where the driver calls run.
class CallRunner {
public:
    virtual ~CallRunner() = default;
    /// Runs `call` to its end. False when the call was not made because the program is ending.
    virtual bool run(const std::function<void()>& call) = 0;
};

/// One worker thread, for the life of the program, that makes every driver call, so that the
/// driver's per-thread status always belongs to the thread that made the call. The caller waits
/// in a local event loop meanwhile and keeps painting. Once the program is asked to quit during
/// a wait, the call under way finishes and no later call is made.
class BusThread final : public CallRunner {
public:
    explicit BusThread(WaitObserver* observer = nullptr);
    ~BusThread() override;
    BusThread(const BusThread&) = delete;
    BusThread& operator=(const BusThread&) = delete;

    bool run(const std::function<void()>& call) override;

private:
    struct Job;
    void work();

    WaitObserver* m_observer = nullptr;
    bool m_ended = false; // touched by the caller's thread only
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<Job>> m_jobs;
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace ktq::bus
