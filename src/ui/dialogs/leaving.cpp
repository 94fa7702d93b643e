// The buttons that leave a window, told apart in the operator's input.
#include "leaving.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

namespace ktq::ui {

namespace {
constexpr const char* leavingProperty = "ktqLeaves";
constexpr const char* escapeProperty = "ktqEscapeLeaves";

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

} // namespace ktq::ui
