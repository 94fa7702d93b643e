// The seam between the windows and the desktop: beeps, message boxes, modal windows, file names.
#pragma once

#include <QString>

#include <functional>

class QDialog;
class QWidget;

namespace ktq::ui {

/// What the windows ask of the operator's desktop: beeps, message boxes, modal windows and the
/// name of a file to write. Tests replace it to observe and answer without blocking.
class Interaction {
public:
    virtual ~Interaction() = default;
    virtual void beep() = 0;
    // A message box with an OK button only; returns once the operator has closed it.
    virtual void messageBox(QWidget* parent, const QString& title, const QString& text) = 0;
    // Shows the dialog modally; returns once it has closed.
    virtual void execModal(QDialog& dialog) = 0;
    // Shows the dialog modally and returns at once; `closed` runs once it has closed. Where the
    // windows open a run's window, so that its steps go back to the program's own event loop.
    // Unless replaced, as execModal() and then `closed`.
    virtual void openModal(QDialog& dialog, std::function<void()> closed) {
        execModal(dialog);
        closed();
    }
    // Asks where to save, offering `filters` ("Text (*.txt);;CSV (*.csv)"); empty when the operator
    // cancelled. `selectedFilter`, where given, says which filter was chosen.
    virtual QString saveFileName(QWidget* parent, const QString& title, const QString& filters,
                                 QString* selectedFilter) = 0;
};

/// The real desktop.
class DesktopInteraction final : public Interaction {
public:
    void beep() override;
    void messageBox(QWidget* parent, const QString& title, const QString& text) override;
    void execModal(QDialog& dialog) override;
    void openModal(QDialog& dialog, std::function<void()> closed) override;
    QString saveFileName(QWidget* parent, const QString& title, const QString& filters,
                         QString* selectedFilter) override;
};

} // namespace ktq::ui
