// Return and Enter press the focused button of a window.
#pragma once

class QPushButton;

namespace ktq::ui {

/// Lets Return and Enter press the button while it has the focus, as Space does. The windows
/// move the focus to a button where the operator is expected to press it next (Continue after a
/// channel is typed, Save Configuration at the end of the list); the button still never becomes
/// a default that Return in an entry box would press.
void pressOnReturn(QPushButton* button);

} // namespace ktq::ui
