// The buttons that leave a window, told apart in the operator's input.
#pragma once

#include "bus/busthread.h"

#include <QObject>

#include <functional>

class QAbstractButton;
class QEvent;
class QObject;
class QWidget;

namespace ktq::ui {

/// Marks `button` as one that leaves its window (Exit, Done).
void markLeaving(QAbstractButton* button);

/// Marks `window` as one that Escape leaves (as its Done button does).
void markEscapeLeaves(QWidget* window);

/// True for a button marked as leaving.
bool isLeaving(const QObject* control);

/// True when `event`, on its way to `receiver`, presses a button marked as leaving: a left click
/// on it (single or double), or Space, Return or Enter while it has the focus; or Escape in a
/// window that Escape leaves.
bool pressesLeavingButton(QObject* receiver, QEvent* event);

/// While a driver call is overdue the windows see none of the operator's input; a request to
/// close a window, or a press of a leaving button, leaves without the call.
class LeavingWhileOverdue final : public QObject, public bus::LeaveRequests {
public:
    LeavingWhileOverdue() = default;
    ~LeavingWhileOverdue() override;
    void overdueStarted(std::function<void()> leave) override;
    void overdueEnded() override;

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override;

private:
    std::function<void()> m_leave;
};

} // namespace ktq::ui
