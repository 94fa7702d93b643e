#include "busthread.h"

namespace ktq::bus {

void waitInLocalLoop(QEventLoop& loop, WaitObserver* observer) {
    if (observer != nullptr) {
        observer->waitStarted();
    }
    // Input stays queued by the window system and reaches the windows after the step, in the
    // order it was given, so no second step starts inside this one. Qt counts a close request
    // from the window system as input too.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (observer != nullptr) {
        observer->waitEnded();
    }
}

struct BusThread::Job {
    const std::function<void()>* call = nullptr;
    bool done = false;
    QEventLoop* loop = nullptr; // the waiting loop, while it waits
    std::condition_variable finished;
};

BusThread::BusThread(WaitObserver* observer) : m_observer(observer), m_worker([this] { work(); }) {}

BusThread::~BusThread() {
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_worker.join();
}

bool BusThread::run(const std::function<void()>& call) {
    if (m_ended) {
        return false;
    }
    auto job = std::make_shared<Job>();
    job->call = &call;
    QEventLoop loop;
    bool handedOver = false;
    // Handed to the worker from inside the loop: a loop that does not run at all because the
    // program is quitting sends nothing.
    QMetaObject::invokeMethod(
        &loop,
        [&] {
            {
                std::lock_guard guard(m_lock);
                job->loop = &loop;
                m_jobs.push_back(job);
            }
            handedOver = true;
            m_wake.notify_one();
        },
        Qt::QueuedConnection);
    waitInLocalLoop(loop, m_observer);

    std::unique_lock guard(m_lock);
    job->loop = nullptr;
    if (!job->done) {
        // Only quitting ends the loop before the call has (QCoreApplication::exit ends every
        // loop, and later ones return at once, before handing anything over). A call under way
        // still holds the caller's buffers, so it is waited for; none follows.
        m_ended = true;
        if (!handedOver) {
            return false;
        }
        job->finished.wait(guard, [&] { return job->done; });
    }
    return true;
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
        if (job->loop != nullptr) {
            // Posted by name: nothing of the caller's is built or freed on this thread.
            QMetaObject::invokeMethod(job->loop, "quit", Qt::QueuedConnection);
        }
        job->finished.notify_all();
    }
}

} // namespace ktq::bus
