// The real desktop behind the windows' beeps, message boxes and modal windows.
#include "interaction.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

namespace ktq::ui {

void DesktopInteraction::beep() {
    QApplication::beep();
}

void DesktopInteraction::messageBox(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void DesktopInteraction::execModal(QDialog& dialog) {
    dialog.exec();
}

} // namespace ktq::ui
