// The channel selection dialog of the four-channel units.
#include "frmchannels.h"

#include "describe.h"
#include "interaction.h"
#include "layoutroom.h"
#include "messageline.h"
#include "returnkey.h"
#include "run/numbers.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace ktq::ui {

frmChannels::frmChannels(double proposed, Interaction& interaction, QWidget* parent)
    : QDialog(parent), m_channelNumber(proposed), m_interaction(interaction) {
    setWindowTitle(QStringLiteral("Channels"));
    setModal(true);

    Label1 = new QLabel(QStringLiteral("Enter a channel number from 1 to 4 and press Continue"), this);
    describe(Label1, "Label1", Label1->text());
    txtChNum = new QLineEdit(this);
    describe(txtChNum, "txtChNum", QStringLiteral("Channel number"),
             QStringLiteral("Enter a channel number from 1 to 4"));
    Label1->setBuddy(txtChNum);
    cmdChSel = new QPushButton(QStringLiteral("Continue"), this);
    describe(cmdChSel, "cmdChSel", QStringLiteral("Continue"),
             QStringLiteral("Configures the channel entered"));
    pressOnReturn(cmdChSel);
    txtErrMsg = new MessageLine(this);
    describe(txtErrMsg, "txtErrMsg", QStringLiteral("Error message"));
    txtErrMsg->setMaximumHeight(fontMetrics().height() * 2 + 12);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(txtChNum);
    layout->addWidget(cmdChSel, 0, Qt::AlignRight);
    layout->addWidget(txtErrMsg);
    keepRoomWhenHidden({txtErrMsg});
    setTabOrder(txtChNum, cmdChSel);

    connect(txtChNum, &QLineEdit::textChanged, this, &frmChannels::txtChNum_Change);
    connect(txtChNum, &QLineEdit::returnPressed, this, &frmChannels::cmdChSel_Click);
    connect(cmdChSel, &QPushButton::clicked, this, &frmChannels::cmdChSel_Click);

    // Load: the box is filled before LoadedFlag is raised, so filling it does not move the focus.
    LoadedFlag = 0;
    txtChNum->setEnabled(true);
    cmdChSel->setEnabled(true);
    txtErrMsg->setVisible(false);
    txtChNum->setText(run::numberText(m_channelNumber));
    LoadedFlag = 1;
    txtChNum->setFocus();
}

void frmChannels::txtChNum_Change() {
    if (LoadedFlag == 1) {
        cmdChSel->setFocus();
    }
}

void frmChannels::cmdChSel_Click() {
    m_channelNumber = run::numericValue(txtChNum->text());
    // A fractional channel would reach the unit as "C  2.5" or a wrong secondary address, so
    // only whole channels 1 to 4 are taken.
    const bool whole = m_channelNumber == std::trunc(m_channelNumber);
    if (m_channelNumber > 4 || m_channelNumber <= 0 || !whole) {
        txtErrMsg->setText(QStringLiteral("Number out of range, Re-enter"));
        txtErrMsg->setVisible(true);
        txtChNum->clear();
        txtChNum->setFocus();
        m_interaction.beep();
        return;
    }
    txtErrMsg->setVisible(false);
    m_accepted = true;
    done(QDialog::Accepted);
}

// The channel must be chosen: Escape and the window's close button do not leave the dialog,
// or a rejected number would be taken as the channel.
void frmChannels::reject() {}

void frmChannels::closeEvent(QCloseEvent* event) {
    if (m_accepted) {
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace ktq::ui
