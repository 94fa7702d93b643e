#include "pause.h"

#include "bus/busthread.h"

#include <QEventLoop>
#include <QTimer>

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

} // namespace ktq::ui
