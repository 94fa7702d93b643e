// The buttons that leave a window, told apart in the operator's input.
#include "leaving.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <utility>

namespace ktq::ui {

namespace {
constexpr const char* leavingProperty = "ktqLeaves";
constexpr const char* escapeProperty = "ktqEscapeLeaves";

// Input the window system delivers; what the program sends itself is not held back.
bool isOperatorInput(const QEvent& event) {
    if (!event.spontaneous()) {
        return false;
    }
    switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}

bool escapeLeaves(const QObject* receiver) {
    const auto* widget = qobject_cast<const QWidget*>(receiver);
    return widget != nullptr && widget->window()->property(escapeProperty).toBool();
}
} // namespace

void markLeaving(QAbstractButton* button) {
    button->setProperty(leavingProperty, true);
}

void markEscapeLeaves(QWidget* window) {
    window->setProperty(escapeProperty, true);
}

bool isLeaving(const QObject* control) {
    return control != nullptr && control->property(leavingProperty).toBool();
}

bool pressesLeavingButton(QObject* receiver, QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<const QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        return escapeLeaves(receiver);
    }
    const auto* button = qobject_cast<const QAbstractButton*>(receiver);
    if (button == nullptr || !button->property(leavingProperty).toBool() || !button->isEnabled()) {
        return false;
    }
    switch (event->type()) {
    // A press soon after one at the same place comes as a double-click alone.
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton;
    case QEvent::KeyPress: {
        const int key = static_cast<const QKeyEvent*>(event)->key();
        return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
    }
    default:
        return false;
    }
}

LeavingWhileOverdue::~LeavingWhileOverdue() {
    overdueEnded();
}

void LeavingWhileOverdue::overdueStarted(std::function<void()> leave) {
    m_leave = std::move(leave);
    QCoreApplication::instance()->installEventFilter(this);
}

void LeavingWhileOverdue::overdueEnded() {
    if (m_leave) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
    m_leave = nullptr;
}

bool LeavingWhileOverdue::eventFilter(QObject* receiver, QEvent* event) {
    const bool closes = event->type() == QEvent::Close && event->spontaneous();
    const bool input = isOperatorInput(*event);
    // `leave` acts once, however often it is asked.
    if (closes || (input && pressesLeavingButton(receiver, event))) {
        m_leave();
        return true;
    }
    // Input reaches the window first and is passed on by it to a control, where it is dropped:
    // only there is it known whether it asks to leave.
    return closes || (input && !receiver->isWindowType());
}

} // namespace ktq::ui
