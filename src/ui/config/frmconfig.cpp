// The configuration window: a run's load, discovery, addressing, saving and navigation.
#include "frmconfig.h"

#include "sharedstate.h"

#include "bus/errorreport.h"
#include "models/catalogue.h"
#include "run/numbers.h"
#include "ui/dialogs/frmchannels.h"
#include "ui/dialogs/interaction.h"
#include "ui/dialogs/messageline.h"
#include "ui/dialogs/placement.h"
#include "ui/dialogs/statusline.h"
#include "ui/dialogs/trafficopener.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

namespace ktq::ui {

frmConfig::frmConfig(Session session, QWidget* parent, BusTrafficOpener* traffic)
    : QDialog(parent), m_session(session) {
    buildControls();
    if (traffic != nullptr) {
        traffic->offerIn(*this);
    }
    resetControls();
}

frmConfig::~frmConfig() = default;

void frmConfig::openRun() {
    m_gate.run(nullptr, [this] {
        resetControls();
        Form_Load();
    });
}

void frmConfig::Form_Load() {
    SharedState& s = m_session.state;
    txtTitle->setVisible(true);
    txtTitle->setText(s.ModelText + QStringLiteral("  CONFIGURATION ROUTINE"));
    txtErrMsg->setVisible(false);
    txtAddr->clear();
    applyPhase(Phase::Loaded);
    m_run.setSaved(false);
    s.ChannelNumber = 1;
    s.Routine = models::dispatch(s.ModelNumber, s.ModelText);
    m_run.tryBoardAgain();
    reportDiscovery(FindLstners());
    txtAddr->setFocus();
}

run::ListenerSearch frmConfig::FindLstners() {
    const run::ListenerSearch search = m_run.findListeners();
    const bus::StatusSnapshot& status = search.status;
    if (search.driverFault()) {
        showBusError(QStringLiteral("FindLstn error"), run::BusStep::Search, status);
        return search;
    }
    // Any other error ends the search without a report, and what was found counts; the status line
    // still says what the driver reported. Too many listeners (ETAB) is what the outcome box says.
    // Where no rule fits, the outcome's own advice follows instead.
    if (status.failed() && !search.tooMany() &&
        !run::ruleAdvice(run::BusFailure{run::BusStep::Search, status, m_run.driverFamily()}).isEmpty()) {
        statusLine->say(busAdviceFor(run::BusStep::Search, status));
    }
    return search;
}

void frmConfig::reportDiscovery(const run::ListenerSearch& search) {
    const std::span<const std::int16_t> listeners(search.addresses);
    Interaction& ui = m_session.interaction;
    if (search.count >= 2) {
        // The operator has to type one of them: name them the way the address box takes them.
        const QString several =
            QStringLiteral("FindLstn found") + run::signedNumberText(search.count) +
            QStringLiteral(" devices, Check bus connections and manually enter device GPIB address") +
            QStringLiteral("\n\nListeners found at addresses: ") + run::addressListText(listeners);
        ui.beep();
        ui.messageBox(this,
                      search.count > 32 ? QStringLiteral("WARNING - Found more than 32 devices")
                                        : QStringLiteral("CAUTION - Found multiple devices"),
                      several);
        // The box is gone once the operator types: the line keeps the addresses in view.
        statusLine->say(run::listenersAdvice(listeners));
    } else if (search.count == 1) {
        const std::int16_t found = run::addressEntry(search.addresses.front());
        ui.messageBox(this, QStringLiteral("Found a single device"),
                      QStringLiteral("FindLstn found a device at address") + run::signedNumberText(found) +
                          QStringLiteral(", Please confirm or change device address before pressing the SET "
                                         "ADDRESS button"));
        txtAddr->setText(run::signedNumberText(found));
        statusLine->say(run::singleListenerAdvice(found, m_session.state.ModelText));
    } else {
        ui.messageBox(
            this, QStringLiteral("WARNING - No devices found"),
            QStringLiteral("Check bus for an active GPIB device and manually enter its GPIB address or "
                           "restart this program"));
        // A failed search has already said what the driver reported.
        if (statusLine->text().isEmpty()) {
            const models::SetupRoutine* routine = m_session.state.Routine;
            statusLine->say(run::noListenerAdvice(
                m_session.state.ModelText,
                routine != nullptr && routine->channelChoice == models::ChannelChoice::SecondaryAddress));
        }
    }
}

void frmConfig::cmdSet_Click() {
    SharedState& s = m_session.state;
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();

    if (!m_run.setAddress(txtAddr->text())) {
        showEntryError(QStringLiteral("Address out of range, re-enter"));
        return;
    }
    txtErrMsg->setVisible(false);

    // The dispatch that picks the model's table; its routine says how a channel is chosen.
    s.Routine = models::dispatch(s.ModelNumber, s.ModelText);
    const models::ChannelChoice channelChoice =
        s.Routine != nullptr ? s.Routine->channelChoice : models::ChannelChoice::None;
    if (channelChoice == models::ChannelChoice::SecondaryAddress) {
        openChannelDialog();
        m_run.addressChannel();
        showChannelLine();
    }

    // Set Address is where the operator starts again: the bus is tried once more.
    m_run.tryBoardAgain();
    if (const bus::StatusSnapshot cleared = m_run.clearUnit(); cleared.failed()) {
        showBusError(QStringLiteral("DevClear Error"), run::BusStep::ClearUnit, cleared);
        return;
    }

    if (channelChoice == models::ChannelChoice::ChannelCommand) {
        openChannelDialog();
        m_run.sendText(QStringLiteral("C ") + run::signedNumberText(s.ChannelNumber),
                       run::BusStep::ClearUnit);
        showChannelLine();
    }

    applyPhase(Phase::AddressSet);
    if (s.Routine == nullptr) {
        txtErrMsg->setText(QStringLiteral("Bad Model Number, Configuration halted"));
        txtErrMsg->setVisible(true);
        ShortPause();
        closeWindow();
        return;
    }
    runSetup(*s.Routine);
}

void frmConfig::openChannelDialog() {
    frmChannels dialog(m_session.state.ChannelNumber, m_session.interaction, this);
    m_session.interaction.execModal(dialog);
    m_session.state.ChannelNumber = dialog.channel();
}

void frmConfig::showChannelLine() {
    txtChNum->setText(QStringLiteral("Configuring channel #") +
                      run::signedNumberText(m_session.state.ChannelNumber));
    txtChNum->setVisible(true);
}

void frmConfig::reportStore(run::StoreAction action, const std::optional<bus::StatusSnapshot>& failure) {
    QString text = run::storeOutcome(action, addressText(), !failure);
    if (failure) {
        text += u' ' + busAdviceFor(run::BusStep::Store, *failure);
    }
    statusLine->say(text);
}

// Stores as the button says; a failed send is reported with `failureMessage` where there is one.
void frmConfig::storeAndReport(run::StoreAction action, const QString& failureMessage) {
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    const run::StoreOutcome outcome = m_run.store(action);
    if (outcome.failure && !failureMessage.isEmpty()) {
        showBusError(failureMessage, run::BusStep::Store, outcome.last);
    }
    reportStore(action, outcome.failure);
}

void frmConfig::cmdSav_Click() {
    storeAndReport(run::StoreAction::SaveSettings, QStringLiteral("Send SAV Error"));
    applyPhase(Phase::Saved);
}

// Both commands go out as they always have; the first failure is the one the operator hears of.
void frmConfig::cmdLock_Click() {
    storeAndReport(run::StoreAction::LockSettings, QString());
}

void frmConfig::cmdSRQ_Click() {
    storeAndReport(run::StoreAction::KeepStatusEnables, QStringLiteral("Send ESE Error"));
}

void frmConfig::cmdNoSRQ_Click() {
    storeAndReport(run::StoreAction::ClearStatusEnables, QStringLiteral("Send ESE Error"));
}

void frmConfig::cmdDone_Click() {
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    if (m_run.saved()) {
        closeWindow();
        return;
    }
    txtGPIBErr->setText(QStringLiteral("Exit without saving? ") + CrLf +
                        QStringLiteral("Press Done again to exit"));
    txtGPIBErr->setVisible(true);
    m_run.setSaved(true);
    m_session.interaction.beep();
}

void frmConfig::cmdRedo_Click() {
    statusLine->clearGuidance();
    lstFunction->clear();
    txtAddr->clear();
    applyPhase(Phase::Redone);
    txtAddr->setFocus();
}

void frmConfig::cmdNextCh_Click() {
    SharedState& s = m_session.state;
    s.ChannelNumber += 1;
    if (!m_run.isMultiChannelModel()) {
        return;
    }
    lstFunction->clear();
    txtAddr->setText(run::signedNumberText(s.PrimaryAddress));
    applyPhase(Phase::NextChannel);
    cmdSet_Click();
}

void frmConfig::showBusError(const QString& message, run::BusStep step, const bus::StatusSnapshot& reported,
                             const bus::StatusSnapshot& cause) {
    txtGPIBErr->setText(bus::gpibErrorReportText(message, reported));
    txtGPIBErr->setVisible(true);
    statusLine->say(busAdviceFor(step, cause));
}

QString frmConfig::busAdviceFor(run::BusStep step, const bus::StatusSnapshot& status) const {
    return run::busAdvice(
        run::BusFailure{step, status, m_run.driverFamily(), addressText(), m_session.state.ModelText});
}

QString frmConfig::addressText() const {
    return QString::number(run::addressEntry(m_session.state.DeviceAddress));
}

void frmConfig::showEntryError(const QString& message) {
    txtErrMsg->setText(message);
    txtErrMsg->setVisible(true);
    m_session.interaction.beep();
}

void frmConfig::closeWindow() {
    m_closing = true;
    done(QDialog::Accepted);
}

// Escape and the window's close button leave the run the way Done does, so that leaving without
// saving is still confirmed once.
void frmConfig::reject() {
    m_gate.run(cmdDone, [this] { cmdDone_Click(); });
}

void frmConfig::closeEvent(QCloseEvent* event) {
    if (m_closing) {
        event->accept();
        return;
    }
    event->ignore();
    m_gate.run(nullptr, [this] { cmdDone_Click(); });
}

// Placed once its size is final: some platforms (Windows, wine) give it its fonts' real sizes
// only as it is first shown.
void frmConfig::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!std::exchange(m_placed, true)) {
        placeOnScreen(*this, parentWidget());
    }
}

} // namespace ktq::ui
