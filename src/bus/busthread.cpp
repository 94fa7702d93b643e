// The worker thread that makes every driver call, and the watch over a call that never returns.
#include "busthread.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <utility>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace ktq::bus {

bool waitForEnd(StepWait& wait, WaitObserver* observer, QEventLoop::ProcessEventsFlags flags) {
    if (observer != nullptr) {
        observer->waitStarted();
    }
    const bool ended = wait.wait(flags);
    if (observer != nullptr) {
        observer->waitEnded();
    }
    return ended;
}

SteadyCallClock::SteadyCallClock() {
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
        if (now() < m_at) {
            arm();
        } else if (m_due) {
            std::exchange(m_due, nullptr)();
        }
    });
}

CallClock::TimePoint SteadyCallClock::now() {
    return std::chrono::steady_clock::now();
}

void SteadyCallClock::wakeAt(TimePoint at, std::function<void()> due) {
    m_at = at;
    m_due = std::move(due);
    arm();
}

void SteadyCallClock::cancel() {
    m_timer.stop();
    m_due = nullptr;
}

void SteadyCallClock::arm() {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_at - now());
    m_timer.start(std::max(left, std::chrono::milliseconds(0)));
}

void ProcessEnd::endNow(const std::string& why) {
    std::cerr << why << '\n';
    std::cerr.flush();
    std::fflush(nullptr);
#ifdef _WIN32
    // ExitProcess would still call the driver DLL's detach routine, which may wait for the
    // thread stuck inside it.
    TerminateProcess(GetCurrentProcess(), exitCode);
#endif
    std::_Exit(exitCode);
}

struct BusThread::Job {
    const std::function<void()>* call = nullptr;
    bool done = false;
    StepWait* wait = nullptr; // the step's wait for it, while it waits
    std::condition_variable finished;
};

BusThread::BusThread(WaitObserver* observer, HangWatch watch)
    : m_observer(observer), m_watch(std::move(watch)) {}

BusThread::~BusThread() {
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

bool BusThread::run(const BusCall& call) {
    // Nothing goes to the bus once the program has quit, while its last steps finish.
    if (m_ended || stepsQuitting()) {
        m_ended = true;
        return false;
    }
    // Started with the first call: a program that never reaches the bus has no thread to end.
    if (!m_worker.joinable()) {
        m_worker = std::thread([this] { work(); });
    }
    auto job = std::make_shared<Job>();
    job->call = call.body;
    StepWait wait;
    {
        std::lock_guard guard(m_lock);
        job->wait = &wait;
        m_jobs.push_back(job);
    }
    m_wake.notify_one();
    CallClock* const clock = m_watch.end != nullptr && m_watch.leaving != nullptr ? m_watch.clock : nullptr;
    // The driver's own timeout and then the grace: past this the call is overdue.
    CallClock::TimePoint start{};
    CallClock::TimePoint deadline{};
    bool overdue = false;
    if (clock != nullptr) {
        start = clock->now();
        deadline = start + call.timeout + m_watch.grace;
        clock->wakeAt(deadline, [&] {
            overdue = true;
            wait.end();
        });
    }
    const bool ended = waitForEnd(wait, m_observer);
    const auto isDone = [&] {
        std::lock_guard guard(m_lock);
        return job->done;
    };
    if (ended && overdue && !isDone()) {
        waitOverdue(call, wait, start);
    }
    if (clock != nullptr) {
        clock->cancel();
    }

    std::unique_lock guard(m_lock);
    job->wait = nullptr;
    if (!job->done) {
        // Only quitting ends the wait before the call has.
        m_ended = true;
        waitAfterQuit(guard, *job, call, clock, start, deadline);
    }
    return true;
}

// The driver has outlived its own timeout by the grace: it may never return. The close the
// operator asks for now (or asked for meanwhile) cannot wait for it.
void BusThread::waitOverdue(const BusCall& call, StepWait& wait, CallClock::TimePoint start) {
    bool left = false;
    m_endOverdue = [&] {
        if (!std::exchange(left, true)) {
            endWithout(call, start);
        }
    };
    if (m_leaveAsked) {
        m_endOverdue();
    }
    m_watch.leaving->overdueStarted(m_endOverdue);
    waitForEnd(wait, m_observer, QEventLoop::AllEvents);
    m_watch.leaving->overdueEnded();
    m_endOverdue = nullptr;
}

// A call under way when the program quits still holds the caller's buffers, so it is waited for,
// as long as it may take; none follows.
void BusThread::waitAfterQuit(std::unique_lock<std::mutex>& guard, Job& job, const BusCall& call,
                              CallClock* clock, CallClock::TimePoint start, CallClock::TimePoint deadline) {
    if (clock != nullptr) {
        for (auto left = deadline - clock->now(); !job.done; left = deadline - clock->now()) {
            if (left.count() <= 0) {
                guard.unlock();
                endWithout(call, start);
                guard.lock();
                break;
            }
            job.finished.wait_for(guard, left);
        }
    }
    job.finished.wait(guard, [&] { return job.done; });
}

bool BusThread::leaveOnceOverdue(bool asked) {
    m_leaveAsked = asked;
    if (asked && m_endOverdue) {
        m_endOverdue();
        return true;
    }
    return false;
}

void BusThread::endWithout(const BusCall& call, CallClock::TimePoint start) {
    // Whatever happens to the call now, nothing more goes to the bus.
    m_ended = true;
    const auto out = std::chrono::duration_cast<std::chrono::seconds>(m_watch.clock->now() - start);
    m_watch.end->endNow(std::string("ktqconfig: GPIB driver: ") + call.name + " did not return after " +
                        std::to_string(out.count()) + " s; ending without waiting for it");
}

void BusThread::work() {
    std::unique_lock guard(m_lock);
    for (;;) {
        m_wake.wait(guard, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty()) {
            return;
        }
        const std::shared_ptr<Job> job = m_jobs.front();
        m_jobs.pop_front();
        guard.unlock();
        (*job->call)();
        guard.lock();
        job->done = true;
        if (job->wait != nullptr) {
            // Posted by name: nothing of the caller's is built or freed on this thread.
            QMetaObject::invokeMethod(job->wait, "end", Qt::QueuedConnection);
        }
        job->finished.notify_all();
    }
}

} // namespace ktq::bus
