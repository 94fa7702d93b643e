// Names a control for tests and screen readers.
#pragma once

#include <QString>
#include <QWidget>

namespace ktq::ui {

/// Names a control for tests and screen readers: its object name, and its caption and tooltip
/// as accessible name and description.
inline void describe(QWidget* widget, const char* objectName, const QString& caption,
                     const QString& tooltip = {}) {
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setAccessibleName(caption.isEmpty() ? QString::fromLatin1(objectName) : caption);
    if (!tooltip.isEmpty()) {
        widget->setToolTip(tooltip);
        widget->setAccessibleDescription(tooltip);
    }
}

} // namespace ktq::ui
