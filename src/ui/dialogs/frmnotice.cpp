// The notice dialog shown before the parallel units' menus.
#include "frmnotice.h"

#include "describe.h"
#include "messageline.h"

#include <QPushButton>
#include <QVBoxLayout>

namespace ktq::ui {

frmNotice::frmNotice(const QString& noticeText, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("NOTICE"));
    setModal(true);

    txtNotice = new MessageLine(this);
    describe(txtNotice, "txtNotice", QStringLiteral("Notice"));
    // The notice is read, not edited, but a keyboard user must be able to reach and scroll it.
    txtNotice->setFocusPolicy(Qt::StrongFocus);
    txtNotice->setText(noticeText);
    txtNotice->setMinimumSize(420, 160);

    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    describe(cmdCancel, "cmdCancel", QStringLiteral("Cancel"),
             QStringLiteral("Closes this notice and continues"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtNotice);
    layout->addWidget(cmdCancel, 0, Qt::AlignRight);
    setTabOrder(txtNotice, cmdCancel);

    connect(cmdCancel, &QPushButton::clicked, this, &frmNotice::cmdCancel_Click);
    cmdCancel->setFocus();
}

void frmNotice::cmdCancel_Click() {
    done(QDialog::Rejected);
}

} // namespace ktq::ui
