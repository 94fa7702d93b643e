// Where a new window opens.
#include "placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace ktq::ui {

QPoint centredWithin(QSize content, QMargins frame, QRect area) {
    const QSize whole = content.grownBy(frame);
    // Centred, it stays inside wherever it fits; one too big keeps its top left corner inside.
    return {area.left() + std::max(0, (area.width() - whole.width()) / 2),
            area.top() + std::max(0, (area.height() - whole.height()) / 2)};
}

void placeOnScreen(QWidget& window, const QWidget* near) {
    const QScreen* screen = near != nullptr ? near->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    QMargins frame;
    if (near != nullptr && near->isVisible()) {
        const QRect inner = near->geometry();
        const QRect outer = near->frameGeometry();
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    }
    if (!window.testAttribute(Qt::WA_Resized)) {
        window.adjustSize(); // the size show() would give it
    }
    window.move(centredWithin(window.size(), frame, screen->availableGeometry()));
}

} // namespace ktq::ui
