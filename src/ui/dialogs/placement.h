// Where a new window opens: whole on the screen, status line included.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace ktq::ui {

/// Where the frame of a window of `content` size with `frame` margins stands centred in `area`;
/// one too big for the area keeps its top left corner (the title bar) inside it.
QPoint centredWithin(QSize content, QMargins frame, QRect area);

/// Moves `window` to the middle of the free area of the screen `near` is on (the
/// primary screen without it), where a window manager might put it lower, past the screen's foot
/// or under a task bar. Its frame is taken to be as wide as the frame `near` has, if shown.
void placeOnScreen(QWidget& window, const QWidget* near);

} // namespace ktq::ui
