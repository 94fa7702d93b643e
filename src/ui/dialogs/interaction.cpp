// The real desktop behind the windows' beeps, message boxes, modal windows and file names.
#include "interaction.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
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

QString DesktopInteraction::saveFileName(QWidget* parent, const QString& title, const QString& filters,
                                         QString* selectedFilter) {
    return QFileDialog::getSaveFileName(parent, title, QString(), filters, selectedFilter);
}

} // namespace ktq::ui
