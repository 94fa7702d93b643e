// The real desktop behind the windows' beeps, message boxes, modal windows and file names.
#include "interaction.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

#include <memory>
#include <utility>

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

void DesktopInteraction::openModal(QDialog& dialog, std::function<void()> closed) {
    if (dialog.windowModality() == Qt::NonModal) {
        dialog.setWindowModality(Qt::ApplicationModal);
    }
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = QObject::connect(&dialog, &QDialog::finished, &dialog, [once, closed = std::move(closed)] {
        QObject::disconnect(*once);
        closed();
    });
    dialog.show();
}

QString DesktopInteraction::saveFileName(QWidget* parent, const QString& title, const QString& filters,
                                         QString* selectedFilter) {
    return QFileDialog::getSaveFileName(parent, title, QString(), filters, selectedFilter);
}

} // namespace ktq::ui
