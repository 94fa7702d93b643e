// One step at a time in a window.
#include "stepgate.h"

#include "inputhold.h"
#include "leaving.h"

#include "bus/steps/steps.h"

#include <QAbstractButton>

#include <utility>

namespace ktq::ui {

StepGate::StepGate(std::function<bool(bool asked)> leaving) : m_leaving(std::move(leaving)) {}

StepGate::Press StepGate::pressOf(QWidget* control, std::function<void()> handler) {
    const bool shown = control != nullptr && control->window()->isVisible();
    return Press{control, control != nullptr, shown, std::move(handler)};
}

// A control disabled or hidden meanwhile takes no press, nor one whose window has closed since
// (windows a test never shows still take them).
bool StepGate::stillPressable(const Press& press) {
    if (!press.checked) {
        return true;
    }
    const QWidget* control = press.control.data();
    if (control == nullptr || !control->isEnabled() || !control->isVisibleTo(control->window())) {
        return false;
    }
    return !press.windowShown || control->window()->isVisible();
}

void StepGate::run(QWidget* control, std::function<void()> handler) {
    Press press = pressOf(control, std::move(handler));
    if (m_running) {
        if (isLeaving(control) && m_leaving) {
            m_leaveAsked = true;
            if (m_leaving(true)) {
                return;
            }
        }
        m_waiting.push_back(std::move(press));
        return;
    }
    if (!stillPressable(press)) {
        return;
    }
    m_running = true;
    bus::setHeldInput(&queuedInputHold());
    bus::startStep([this, handler = std::move(press.handler)] {
        handler();
        while (!m_waiting.empty()) {
            Press waiting = std::move(m_waiting.front());
            m_waiting.pop_front();
            if (stillPressable(waiting)) {
                waiting.handler();
            }
        }
        m_running = false;
        if (std::exchange(m_leaveAsked, false) && m_leaving) {
            m_leaving(false);
        }
    });
}

StepGate::~StepGate() {
    // A window freed while its step waits (a test's, or a window closed from elsewhere) lets the
    // step end first: the step still uses it.
    if (m_running && !bus::insideStep()) {
        bus::finishSteps();
    }
}

} // namespace ktq::ui
