#include "busycursor.h"

#include <QApplication>
#include <QCloseEvent>

#include <algorithm>

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
    if (qApp != nullptr) {
        qApp->installEventFilter(this);
    }
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
    std::vector<QPointer<QWidget>> held;
    held.swap(m_heldCloses);
    for (const QPointer<QWidget>& widget : held) {
        if (widget && widget->isVisible()) {
            widget->close();
        }
    }
}

bool BusyCursor::eventFilter(QObject* watched, QEvent* event) {
    // Closing is not input, so the local loops deliver it; the window system's request waits for
    // the end of the step instead, once per window.
    if (m_inStep && event->type() == QEvent::Close && event->spontaneous() && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (std::find(m_heldCloses.begin(), m_heldCloses.end(), widget) == m_heldCloses.end()) {
            m_heldCloses.emplace_back(widget);
        }
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ktq::ui
