// The seam between the windows and the desktop: beeps, message boxes and modal windows.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace ktq::ui {

/// What the windows ask of the operator's desktop: beeps, message boxes and modal windows.
/// Tests replace it to observe and answer without blocking.
class Interaction {
public:
    virtual ~Interaction() = default;
    virtual void beep() = 0;
    // A message box with an OK button only; returns once the operator has closed it.
    virtual void messageBox(QWidget* parent, const QString& title, const QString& text) = 0;
    // Shows the dialog modally; returns once it has closed.
    virtual void execModal(QDialog& dialog) = 0;
};

/// The real desktop.
class DesktopInteraction final : public Interaction {
public:
    void beep() override;
    void messageBox(QWidget* parent, const QString& title, const QString& text) override;
    void execModal(QDialog& dialog) override;
};

} // namespace ktq::ui
