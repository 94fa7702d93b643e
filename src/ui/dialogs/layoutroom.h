// Room in a window's layout for a control that a run shows and hides.
#pragma once

#include <QSizePolicy>
#include <QWidget>

#include <initializer_list>

namespace ktq::ui {

/// Keeps each control's room in its window's layout while the control is hidden, so that the
/// window opens at the size its whole run needs and neither grows nor rearranges when one of them
/// appears.
inline void keepRoomWhenHidden(std::initializer_list<QWidget*> controls) {
    for (QWidget* control : controls) {
        QSizePolicy policy = control->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        control->setSizePolicy(policy);
    }
}

} // namespace ktq::ui
