// The status line at the bottom of both windows.
#pragma once

#include <QLabel>
#include <QString>

namespace ktq::ui {

/// Plain guidance at the bottom of a window, beside the program's own messages, which it never
/// replaces. Empty until there is something to say; the window clears it when the next step
/// starts. Its accessible name is the advice, so that a screen reader announces each new one.
class StatusLine : public QLabel {
    Q_OBJECT
public:
    explicit StatusLine(QWidget* parent = nullptr);
    void say(const QString& text);
    void clearGuidance() { say(QString()); }

protected:
    void enterEvent(QEnterEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void becomeSelectable();
};

} // namespace ktq::ui
