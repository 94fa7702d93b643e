// The short pause a step waits out, ended by the clock.
#include "pause.h"

#include "bus/busthread.h"

#include <QTimer>

namespace ktq::ui {

EventLoopPauser::EventLoopPauser(bus::WaitObserver* observer, Clock clock)
    : m_observer(observer), m_clock(clock ? std::move(clock) : Clock(&std::chrono::steady_clock::now)) {}

void EventLoopPauser::pause(std::chrono::milliseconds duration) {
    if (duration.count() <= 0) {
        return;
    }
    const auto deadline = m_clock() + duration;
    bus::StepWait wait;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &wait, &bus::StepWait::end);
    if (m_observer != nullptr) {
        m_observer->waitStarted();
    }
    // One wait as seen from outside, however often an early timer makes it wait again.
    for (auto remaining = deadline - m_clock(); remaining.count() > 0; remaining = deadline - m_clock()) {
        timer.start(std::chrono::ceil<std::chrono::milliseconds>(remaining));
        if (!wait.wait()) {
            break; // the program has quit
        }
    }
    if (m_observer != nullptr) {
        m_observer->waitEnded();
    }
}

} // namespace ktq::ui
