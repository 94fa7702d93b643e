// The busy cursor: when a step has waited long enough to show it, and when it ends.
#include "busycursor.h"

#include <QApplication>

namespace ktq::ui {

BusyCursor::BusyCursor(std::chrono::milliseconds delay, QObject* parent) : QObject(parent) {
    m_delay.setSingleShot(true);
    m_delay.setInterval(delay);
    connect(&m_delay, &QTimer::timeout, this, [this] {
        // Only while the thread waits: a step that just ended has nothing to show.
        if (m_waiting && !m_shown) {
            QApplication::setOverrideCursor(Qt::BusyCursor);
            m_shown = true;
        }
    });
}

BusyCursor::~BusyCursor() {
    if (m_shown) {
        QApplication::restoreOverrideCursor();
    }
}

void BusyCursor::waitStarted() {
    m_waiting = true;
    if (!m_inStep) {
        m_inStep = true;
        m_delay.start();
    }
}

void BusyCursor::waitEnded() {
    m_waiting = false;
    // Fires at the next pass of any event loop: inside the step's next wait it is ignored, and
    // anywhere else the step has ended.
    QTimer::singleShot(0, this, [this] {
        if (!m_waiting && m_inStep) {
            endStep();
        }
    });
}

void BusyCursor::endStep() {
    m_inStep = false;
    m_delay.stop();
    if (m_shown) {
        QApplication::restoreOverrideCursor();
        m_shown = false;
    }
}

} // namespace ktq::ui
