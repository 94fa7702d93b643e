// The main window: the model list, the bus bring-up and the launch of the configuration window.
#include "frmmain.h"

#include "logo.h"

#include "bus/errorreport.h"
#include "models/catalogue.h"
#include "run/numbers.h"
#include "ui/config/frmconfig.h"
#include "ui/config/sharedstate.h"
#include "ui/dialogs/describe.h"
#include "ui/dialogs/interaction.h"
#include "ui/dialogs/layoutroom.h"
#include "ui/dialogs/leaving.h"
#include "ui/dialogs/messageline.h"
#include "ui/dialogs/returnkey.h"
#include "ui/dialogs/statusline.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace ktq::ui {

frmMain::frmMain(Session session, QWidget* parent) : QWidget(parent), m_session(session) {
    setWindowTitle(QStringLiteral("KTQ GPIB Configuration"));
    buildHeader();
    buildModelList();
    buildMessageLines();
    arrangeControls();
    connectControls();
    m_traffic.offerIn(*this);
    txtGPIBErr->setVisible(false);
    Form_Load();
    // Learnt at start without a word to a board or a port: the first Configure does the trying.
    statusLine->say(m_bringUp.startAdvice());
}

void frmMain::buildHeader() {
    // sic: "CONFIGUATION" is the window's own title.
    labelTitle = new QLabel(QStringLiteral("WELCOME TO KTQ's GPIB CONFIGUATION PROGRAM"), this);
    describe(labelTitle, "labelTitle", labelTitle->text());
    labelTitle->setFont(titleFont(labelTitle->font()));
    labelRev = new QLabel(this);
    labelRev->setObjectName(QStringLiteral("labelRev"));
    txtRev = new QLineEdit(this);
    txtRev->setObjectName(QStringLiteral("txtRev"));
    txtRev->setReadOnly(true);
    txtRev->setFocusPolicy(Qt::NoFocus);
    // The program's version, for a fault report: found by pointing at the revision date, without
    // changing what the window shows.
    const QString version = QStringLiteral("ktqconfig version " KTQ_VERSION);
    for (QWidget* revision : std::initializer_list<QWidget*>{labelRev, txtRev}) {
        revision->setToolTip(version);
        revision->setAccessibleDescription(version);
    }
    ImageKTQ = new QLabel(this);
    describe(ImageKTQ, "ImageKTQ", QStringLiteral("KTQ logo"));
    ImageKTQ->setPixmap(drawLogo(72, labelTitle->font(), devicePixelRatioF()));
}

void frmMain::buildModelList() {
    labelSelect =
        new QLabel(QStringLiteral("Select a Model from the following list and press Configure:"), this);
    describe(labelSelect, "labelSelect", labelSelect->text());
    listUnit = new QListWidget(this);
    describe(listUnit, "listUnit", QStringLiteral("Models"),
             QStringLiteral("Highlight the unit's model number and press the Configure button to start."));
    labelSelect->setBuddy(listUnit);
    listUnit->setMinimumHeight(listUnit->fontMetrics().lineSpacing() * 16);
    cmdConfig = new QPushButton(QStringLiteral("Configure"), this);
    describe(cmdConfig, "cmdConfig", cmdConfig->text(), QStringLiteral("Configures selected model"));
    cmdContinue = new QPushButton(QStringLiteral("Continue"), this);
    describe(cmdContinue, "cmdContinue", cmdContinue->text(),
             QStringLiteral("Continues configuration after power cycling the device"));
    cmdExit = new QPushButton(QStringLiteral("Exit"), this);
    describe(cmdExit, "cmdExit", cmdExit->text(), QStringLiteral("Exits program"));
    for (QPushButton* button : {cmdConfig, cmdContinue, cmdExit}) {
        pressOnReturn(button);
    }
    markLeaving(cmdExit);
}

void frmMain::buildMessageLines() {
    txtGPIBErr = new MessageLine(this);
    describe(txtGPIBErr, "txtGPIBErr", QStringLiteral("Message"));
    txtGPIBErr->setFocusPolicy(Qt::StrongFocus);
    txtGPIBErr->setFixedHeight(fontMetrics().height() * 4 + 10);
    statusLine = new StatusLine(this);
}

void frmMain::arrangeControls() {
    auto* header = new QGridLayout;
    header->addWidget(ImageKTQ, 0, 0, 3, 1);
    header->addWidget(labelTitle, 0, 1);
    header->addWidget(labelRev, 1, 1);
    header->addWidget(txtRev, 2, 1, Qt::AlignLeft);
    header->setColumnStretch(1, 1);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdConfig);
    buttons->addWidget(cmdContinue);
    buttons->addStretch(1);
    buttons->addWidget(cmdExit);

    auto* body = new QHBoxLayout;
    body->addWidget(listUnit, 1);
    body->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(header);
    layout->addWidget(labelSelect);
    layout->addLayout(body, 1);
    layout->addWidget(txtGPIBErr);
    layout->addWidget(statusLine);
    keepRoomWhenHidden({txtGPIBErr});

    setTabOrder(listUnit, cmdConfig);
    setTabOrder(cmdConfig, txtGPIBErr);
    setTabOrder(txtGPIBErr, cmdContinue);
    setTabOrder(cmdContinue, cmdExit);
}

void frmMain::connectControls() {
    // Choosing a row with the keyboard counts as a click; the row that only becomes current when
    // the list takes the focus does not. Return on a row counts as a double-click.
    connect(listUnit, &QListWidget::itemSelectionChanged, this, [this] {
        if (!listUnit->selectedItems().isEmpty()) {
            listUnit_Click();
        }
    });
    connect(listUnit, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        m_gate.run(listUnit, [this, row = listUnit->row(item)] {
            // The row under the keyboard cursor may be current without being selected yet.
            if (QListWidgetItem* activated = listUnit->item(row)) {
                activated->setSelected(true);
                listUnit_DblClick();
            }
        });
    });
    for (const auto& [button, handler] : {std::pair{cmdConfig, &frmMain::cmdConfig_Click},
                                          {cmdContinue, &frmMain::cmdContinue_Click},
                                          {cmdExit, &frmMain::cmdExit_Click}}) {
        connect(button, &QPushButton::clicked, this,
                m_gate.step(button, [this, h = handler] { (this->*h)(); }));
    }
}

frmMain::~frmMain() = default;

void frmMain::Form_Load() {
    const QString date = QString::fromLatin1(revisionDate);
    txtRev->setText(QStringLiteral("Revised ") + date);
    m_session.state.BoardIndex = 0;
    labelRev->setText(QStringLiteral("Revised  ") + date); // sic: two blanks here, one in txtRev
    listUnit->clear();
    listUnit->addItems(models::modelList());
    listUnit->setCurrentRow(-1);
    listUnit->clearSelection();
    cmdConfig->setEnabled(false);
    cmdContinue->setEnabled(false);
    listUnit->setEnabled(true);
    listUnit->setFocus();
}

void frmMain::listUnit_Click() {
    cmdConfig->setEnabled(true);
}

void frmMain::listUnit_DblClick() {
    cmdConfig->setEnabled(true);
    cmdConfig_Click();
}

void frmMain::showFailure(const run::BringUpFailure& failure) {
    txtGPIBErr->setText(bus::gpibErrorReportText(failure.message, failure.status));
    txtGPIBErr->setVisible(true);
    statusLine->say(m_bringUp.advice(failure, m_session.state.ModelText));
}

void frmMain::cmdConfig_Click() {
    SharedState& s = m_session.state;
    const QListWidgetItem* item = listUnit->currentItem();
    const QString text = item != nullptr && item->isSelected() ? item->text() : QString();
    statusLine->clearGuidance();
    const std::optional<std::int16_t> number = run::toInt16(run::numericValue(text));
    s.ModelNumber = number.value_or(0);
    s.ModelText = text;
    if (s.ModelNumber > models::highestModelNumber || s.ModelNumber < models::lowestModelNumber) {
        // sic: no blank either side of the row's text, the window's own message.
        txtGPIBErr->setText(QStringLiteral("Model number") + text +
                            QStringLiteral("wrong, reselect model number"));
        txtGPIBErr->setVisible(true);
        return;
    }
    txtGPIBErr->setVisible(false);

    if (const std::optional<run::BringUpFailure> failure = m_bringUp.bringUp()) {
        showFailure(*failure);
        return;
    }
    showLink();
    if (models::needsPowerCycle(s.ModelNumber)) {
        txtGPIBErr->setText(QStringLiteral("Turn unit off and back on") + CrLf +
                            QStringLiteral("Press Continue when RDY LED on."));
        txtGPIBErr->setVisible(true);
        cmdContinue->setEnabled(true);
        cmdContinue->setFocus();
        return;
    }
    openConfiguration();
}

// Where the bus goes through an adapter, the operator sees which one (and where several
// answered, how to choose another); a board needs no saying.
void frmMain::showLink() {
    statusLine->say(m_bringUp.linkDescription());
}

void frmMain::cmdContinue_Click() {
    showLink();
    cmdContinue->setEnabled(false);
    txtGPIBErr->setVisible(false);
    openConfiguration();
}

void frmMain::cmdExit_Click() {
    close();
}

void frmMain::openConfiguration() {
    if (!m_config) {
        m_config = new frmConfig(m_session, this, &m_traffic);
        m_config->setWindowModality(Qt::ApplicationModal);
        m_traffic.moveUnder(*m_config);
    }
    m_config->openRun();
    m_session.interaction.openModal(*m_config, [this] {
        txtGPIBErr->setVisible(false);
        cmdConfig->setEnabled(true);
        listUnit->setFocus();
    });
}

} // namespace ktq::ui
