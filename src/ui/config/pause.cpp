#include "pause.h"

#include "bus/busthread.h"

#include <QEventLoop>
#include <QTimer>

#include <thread>

namespace ktq::ui {

void EventLoopPauser::pause(std::chrono::milliseconds duration) {
    if (duration.count() <= 0) {
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    // The units rely on the whole pause: a coarse timer could end it up to 5 % early.
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(duration);
    bus::waitInLocalLoop(loop, m_observer);
}

SteadyClock::TimePoint SteadyClock::now() const {
    return std::chrono::steady_clock::now();
}

void SteadyClock::sleepUntil(TimePoint deadline) {
    std::this_thread::sleep_until(deadline);
}

void BlockingPauser::pause(std::chrono::milliseconds duration) {
    const auto deadline = m_clock.now() + duration;
    // sleep_until may return early (signals); the operator's units rely on the whole pause.
    while (m_clock.now() < deadline) {
        m_clock.sleepUntil(deadline);
    }
}

} // namespace ktq::ui
