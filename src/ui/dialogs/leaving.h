// The buttons that leave a window, told apart in the operator's input.
#pragma once

class QAbstractButton;
class QEvent;
class QObject;

namespace ktq::ui {

/// Marks `button` as one that leaves its window (Exit, Done).
void markLeaving(QAbstractButton* button);

/// True when `event`, on its way to `receiver`, presses a button marked as leaving: a left click
/// on it (single or double), or Space, Return or Enter while it has the focus.
bool pressesLeavingButton(QObject* receiver, QEvent* event);

} // namespace ktq::ui
