// The configuration window: a run's load, discovery, addressing, saving and navigation.
#include "frmconfig.h"

#include "sharedstate.h"

#include "bus/errorreport.h"
#include "bus/gpib32.h"
#include "bus/gpibconstants.h"
#include "models/catalogue.h"
#include "run/numbers.h"
#include "ui/dialogs/frmchannels.h"
#include "ui/dialogs/interaction.h"
#include "ui/dialogs/messageline.h"
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

namespace ktq::ui {

namespace {

constexpr std::int16_t findLstnLimit = 32;
constexpr int listenerTableSize = 65;
} // namespace

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

frmConfig::ListenerSearch frmConfig::FindLstners() {
    bus::Gpib32& gpib = m_session.bus;
    std::array<std::int16_t, 33> candidates{};
    for (int k = 0; k < 30; ++k) {
        candidates[k] = static_cast<std::int16_t>(k + 1);
    }
    candidates[30] = -1;
    std::array<std::int16_t, listenerTableSize> listeners{};
    onBoard(run::BusStep::Search, [&] {
        gpib.GpibFindLstn(m_session.state.BoardIndex, std::span<const std::int16_t>(candidates.data(), 31),
                          listeners, findLstnLimit);
    });
    // A search that finds nothing must not announce the previous run's device.
    ListenerSearch search;
    if (gpib.ibsta() < 0 && gpib.iberr() == bus::ni::EDVR) {
        showBusError(QStringLiteral("FindLstn error"), run::BusStep::Search);
        return search;
    }
    // Any other error ends the search without a report, and what was found counts; the status line
    // still says what the driver reported. Too many listeners (ETAB) is what the outcome box says.
    // Where no rule fits, the outcome's own advice follows instead.
    if (gpib.ibsta() < 0 && gpib.iberr() != bus::ni::ETAB &&
        !run::ruleAdvice(run::BusFailure{run::BusStep::Search, gpib.status(), gpib.driverFamily()})
             .isEmpty()) {
        statusLine->say(busAdviceFor(run::BusStep::Search, gpib.status()));
    }
    // The driver wrote at most the limit; a larger or negative count never indexes past that.
    const int found = std::clamp<int>(gpib.ibcnt(), 0, findLstnLimit);
    if (found > 0) {
        search.count = gpib.ibcnt();
        search.addresses.assign(listeners.begin(), listeners.begin() + found);
    }
    return search;
}

void frmConfig::reportDiscovery(const ListenerSearch& search) {
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
    bus::Gpib32& gpib = m_session.bus;
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
    onBoard(run::BusStep::ClearUnit, [&] { gpib.GpibSendIFC(s.BoardIndex); });
    onBoard(run::BusStep::ClearUnit, [&] { gpib.GpibDevClear(s.BoardIndex, s.DeviceAddress); });
    if (gpib.ibsta() < 0) {
        showBusError(QStringLiteral("DevClear Error"), run::BusStep::ClearUnit);
        return;
    }

    if (channelChoice == models::ChannelChoice::ChannelCommand) {
        openChannelDialog();
        sendText(QStringLiteral("C ") + run::signedNumberText(s.ChannelNumber), run::BusStep::ClearUnit);
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

bool frmConfig::sendChecked(const QString& command, const QString& failureMessage) {
    sendText(command, run::BusStep::Store);
    if (m_session.bus.ibsta() < 0) {
        showBusError(failureMessage, run::BusStep::Store);
        return false;
    }
    return true;
}

void frmConfig::reportStore(run::StoreAction action, const bus::StatusSnapshot* failure) {
    QString text = run::storeOutcome(action, addressText(), failure == nullptr);
    if (failure != nullptr) {
        text +=
            u' ' + run::busAdvice(run::BusFailure{run::BusStep::Store, *failure, m_session.bus.driverFamily(),
                                                  addressText(), m_session.state.ModelText});
    }
    statusLine->say(text);
}

void frmConfig::cmdSav_Click() {
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    if (sendChecked(QString(models::commands::save), QStringLiteral("Send SAV Error"))) {
        m_run.setSaved(true);
        reportStore(run::StoreAction::SaveSettings, nullptr);
    } else {
        reportStore(run::StoreAction::SaveSettings, &m_session.bus.status());
    }
    applyPhase(Phase::Saved);
}

void frmConfig::cmdLock_Click() {
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    // Both commands go out as they always have; the first failure is the one the operator hears of.
    std::optional<bus::StatusSnapshot> failure;
    for (const QString& command : {QString(models::commands::lock), QString(models::commands::save)}) {
        sendText(command, run::BusStep::Store);
        if (m_session.bus.status().failed() && !failure) {
            failure = m_session.bus.status();
        }
    }
    reportStore(run::StoreAction::LockSettings, failure ? &*failure : nullptr);
}

void frmConfig::cmdSRQ_Click() {
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    const bool sent =
        sendChecked(QString(models::commands::keepStatusEnables), QStringLiteral("Send ESE Error"));
    reportStore(run::StoreAction::KeepStatusEnables, sent ? nullptr : &m_session.bus.status());
}

void frmConfig::cmdNoSRQ_Click() {
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    const bool sent =
        sendChecked(QString(models::commands::clearStatusEnables), QStringLiteral("Send ESE Error"));
    reportStore(run::StoreAction::ClearStatusEnables, sent ? nullptr : &m_session.bus.status());
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

void frmConfig::showBusError(const QString& message, run::BusStep step) {
    showBusError(message, step, m_session.bus.status());
}

void frmConfig::showBusError(const QString& message, run::BusStep step, const bus::StatusSnapshot& cause) {
    txtGPIBErr->setText(bus::gpibErrorReportText(message, m_session.bus.status()));
    txtGPIBErr->setVisible(true);
    statusLine->say(busAdviceFor(step, cause));
}

QString frmConfig::busAdviceFor(run::BusStep step, const bus::StatusSnapshot& status) const {
    return run::busAdvice(run::BusFailure{step, status, m_session.bus.driverFamily(), addressText(),
                                          m_session.state.ModelText});
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

} // namespace ktq::ui
