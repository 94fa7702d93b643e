// The function menu: shows each function of the model's table with the unit's setting, and sets it.
#include "frmconfig.h"

#include "pause.h"
#include "sharedstate.h"

#include "bus/busaddress.h"
#include "bus/gpib32.h"
#include "bus/gpibconstants.h"
#include "models/catalogue.h"
#include "ui/dialogs/frmnotice.h"
#include "ui/dialogs/interaction.h"
#include "ui/dialogs/messageline.h"
#include "ui/dialogs/statusline.h"
#include "ui/dialogs/textvalue.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace ktq::ui {

namespace {

constexpr int replyLength = 18;
constexpr int maxShownLines = 14;
constexpr int maxFunctions = 25;
constexpr std::int16_t receiveTermination = 0; // ends a reply at a byte of value 0, besides EOI
constexpr int queryError = 4;
constexpr int executionError = 16;
constexpr int commandError = 32;
constexpr double addressSwitch = 32; // a bus address read back at or above this is "set by the switches"

const QString blankReply = QString(replyLength, u' ');
const QString statusQuery = models::commands::statusQuery;
const QString entryRejectedText = QStringLiteral("Value holds a line break or control character, re-enter");
const QString wideEntryRejectedText =
    QStringLiteral("Value holds a character the unit cannot receive, re-enter");

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString withoutLeadingBlanks(QString text) {
    while (text.startsWith(u' ')) {
        text.remove(0, 1);
    }
    return text;
}

// The bus carries one byte per character; anything wider would go out as '?', which the units
// read as the query mark.
bool holdsWideCharacter(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; });
}

bool holdsControlCharacter(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

} // namespace

int frmConfig::functionCount() const {
    const models::SetupRoutine* routine = m_session.state.Routine;
    return routine == nullptr ? 0 : std::min(routine->functionCount(), maxFunctions);
}

QString frmConfig::functionPrompt(int index) const {
    return latin1(m_session.state.Routine->functions[index - 1].prompt);
}

QString frmConfig::queryText(int index) const {
    const models::SetupRoutine& routine = *m_session.state.Routine;
    return latin1(routine.commandPrefix) + latin1(routine.functions[index - 1].command) + QStringLiteral("?");
}

bool frmConfig::isMultiChannelModel() const {
    const models::SetupRoutine* routine = m_session.state.Routine;
    return routine != nullptr && routine->channelCount > 0;
}

void frmConfig::runSetup(const models::SetupRoutine& routine) {
    SharedState& s = m_session.state;
    if (!routine.noticeModel.empty()) {
        frmNotice notice(models::noticeText(routine.noticeModel), this);
        m_session.interaction.execModal(notice);
    }
    if (!routine.keepsDeviceAddress) {
        s.DeviceAddress = s.PrimaryAddress;
    }
    if (routine.hidesNextChannel) {
        applyPhase(Phase::ChannelRunning);
    }
    if (!routine.noticeModel.empty()) {
        onBoard(BusStep::ClearUnit, [&] { m_session.bus.GpibSendIFC(s.BoardIndex); });
    }
    m_functionIndex = 1;
    m_linesScrolledOff = 0;
    m_modelQueriesAnswered = 0;
    LOOP2(std::nullopt);
}

void frmConfig::LOOP2(const std::optional<QString>& entry) {
    if (!entry) {
        showFunction();
    } else if (!entry->isEmpty()) {
        setFunction(*entry);
    } else {
        ++m_functionIndex;
        if (m_functionIndex <= functionCount()) {
            showFunction();
        } else {
            endOfList();
        }
    }
}

// The bus trigger of a power-cycled unit, a pause after each of its calls.
void frmConfig::sendTrigger() {
    const SharedState& s = m_session.state;
    for (int step = 0; step < m_session.bus.triggerSteps(); ++step) {
        onBoard(BusStep::Query, [&] { m_session.bus.GpibTrigger(s.BoardIndex, s.DeviceAddress, step); });
        ShortPause();
    }
}

void frmConfig::showFunction() {
    const int index = m_functionIndex;
    if (index < 1 || index > functionCount()) {
        return;
    }
    const models::SetupRoutine& routine = *m_session.state.Routine;
    if (index == 1 && routine.triggerOnStart) {
        sendTrigger();
    }
    if (index == 1 && routine.lockSupported) {
        sendText(models::commands::unlock);
        sendText(models::commands::clearStatus);
    }
    const QueryOutcome answer = ask(queryText(index));
    QString setting = answer.reply;
    if (answer.receiveFailed()) {
        showBusError(QStringLiteral("Receive Error"), BusStep::Query, *answer.firstFailure);
        // Two queries in and not a word of the model's own back: say it now, not after the whole
        // list. The bus address query does not count, as units of every model answer it alike.
        // Only a reply that never came says so; a query nobody took, or any other error, is said
        // as the driver gave it.
        if (index >= 2 && m_modelQueriesAnswered == 0 && answer.firstFailure->iberr == bus::ni::EABO) {
            statusLine->say(silentUnitAdvice(addressText(), m_session.state.ModelText));
        }
    } else {
        if (index != routine.addressFunction) {
            ++m_modelQueriesAnswered;
        }
        setting = TrimResponse(setting);
        if (index == routine.addressFunction) {
            const double address = numericValue(setting);
            if (address >= addressSwitch) {
                setting = withoutLeadingBlanks(numberText(address - addressSwitch) + QStringLiteral("/31 "));
            }
        }
    }
    if (index > maxShownLines && lstFunction->count() > 0) {
        delete lstFunction->takeItem(0);
        ++m_linesScrolledOff;
    }
    const int position = std::clamp(index - m_linesScrolledOff - 1, 0, lstFunction->count());
    lstFunction->insertItem(position, PrepItem(functionPrompt(index), setting));
    lstFunction->setCurrentRow(lstFunction->count() - 1);
    txtChoice->setFocus();
}

void frmConfig::setFunction(const QString& value) {
    SharedState& s = m_session.state;
    const int index = m_functionIndex;
    if (index < 1 || index > functionCount()) {
        return;
    }
    const models::SetupRoutine& routine = *s.Routine;
    sendText(latin1(routine.commandPrefix) + latin1(routine.functions[index - 1].command) +
             QStringLiteral(" ") + value);
    if (index == routine.addressFunction) {
        const std::optional<double> typed = leadingNumber(value);
        const std::optional<std::int16_t> address = typed ? toInt16(*typed) : std::nullopt;
        // Only an address the unit can move to moves the program: 31 keeps the address, and so
        // does a value the unit refuses (one that is not a number among them), which would
        // otherwise strand every later transfer.
        if (address && *address >= 0 && *address <= 30) {
            if (routine.keepsDeviceAddress) {
                const int word = bus::BusAddress::withSecondary(*address, s.SecondaryAddress).word();
                if (word <= INT16_MAX) {
                    s.PrimaryAddress = *address;
                    s.DeviceAddress = static_cast<std::int16_t>(word);
                }
            } else {
                s.PrimaryAddress = *address;
                s.DeviceAddress = *address;
            }
        }
        ShortPause();
    }
    ShortPause();

    // The unit's verdict and the read-back are not checked: what they bring is what the line shows.
    const QString verdict = ask(statusQuery).reply;
    QString shown;
    if (verdict == blankReply) {
        shown = QStringLiteral("No response\n");
    } else if ((static_cast<long long>(roundHalfEven(numericValue(verdict))) &
                (queryError | executionError | commandError)) != 0) {
        shown = QStringLiteral("Error - retry\n");
        statusLine->say(refusedValueAdvice(addressText(), value, functionPrompt(index)));
    } else {
        // The unit took a value the last save did not store: Done must ask again.
        m_saved = false;
        shown = TrimResponse(ask(queryText(index)).reply);
        // A read-back that brought nothing stays blank rather than showing address 0.
        if (index == routine.addressFunction && shown != blankReply) {
            const double address = numericValue(shown.left(2));
            shown = withoutLeadingBlanks((address >= addressSwitch
                                              ? numberText(address - addressSwitch) + QStringLiteral("/31")
                                              : numberText(address)) +
                                         QStringLiteral("\n"));
        }
    }
    const int position = index - m_linesScrolledOff - 1;
    if (position >= 0 && position < lstFunction->count()) {
        delete lstFunction->takeItem(position);
    }
    lstFunction->insertItem(std::clamp(position, 0, lstFunction->count()),
                            PrepItem(functionPrompt(index), shown));
    lstFunction->setCurrentRow(-1);
    txtChoice->setFocus();
}

void frmConfig::endOfList() {
    const models::SetupRoutine* routine = m_session.state.Routine;
    if (isMultiChannelModel()) {
        if (m_session.state.ChannelNumber != routine->channelCount) {
            applyPhase(Phase::MoreChannels);
            cmdNextCh->setFocus();
        } else {
            applyPhase(Phase::LastChannelDone);
            cmdSav->setFocus();
        }
        return;
    }
    const bool lockable = routine != nullptr && routine->lockSupported;
    applyPhase(lockable ? Phase::ListDoneLockable : Phase::ListDone);
    cmdSav->setFocus();
}

QString frmConfig::PrepItem(const QString& prompt, const QString& setting) {
    const qsizetype padding = prompt.size() < settingsColumn - 1 ? settingsColumn - prompt.size() : 1;
    QString line = prompt + QString(padding, u' ') + setting;
    line.chop(1);
    return line;
}

void frmConfig::ShortPause() {
    m_session.pauser.pause(std::chrono::milliseconds(200));
}

QString frmConfig::TrimResponse(const QString& reply) {
    const qsizetype lineFeed = reply.indexOf(u'\n');
    return lineFeed >= 0 ? reply.left(lineFeed + 1) : reply;
}

void frmConfig::cmdEnter_Click() {
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    const QString entry = txtChoice->text();
    // A pasted line break would reach the unit as a second command.
    if (holdsControlCharacter(entry)) {
        showEntryError(entryRejectedText);
        return;
    }
    if (holdsWideCharacter(entry)) {
        showEntryError(wideEntryRejectedText);
        return;
    }
    if (txtErrMsg->text() == entryRejectedText || txtErrMsg->text() == wideEntryRejectedText) {
        txtErrMsg->setVisible(false);
    }
    txtChoice->clear();
    LOOP2(entry);
}

void frmConfig::lstFunction_Click() {
    txtChoice->setFocus();
}

void frmConfig::lstFunction_DblClick() {
    if (cmdEnter->isEnabled()) {
        cmdEnter_Click();
    }
}

void frmConfig::onBoard(BusStep step, const std::function<void()>& call) {
    if (!m_boardGone) {
        call();
        m_boardGone = boardGone(m_session.bus.status(), m_session.bus.driverFamily());
    }
    if (m_boardGone) {
        // Said at every step that sends nothing, also at those that check no status.
        statusLine->say(busAdviceFor(step, m_session.bus.status()));
    }
}

void frmConfig::sendText(const QString& text, BusStep step) {
    const SharedState& s = m_session.state;
    onBoard(step, [&] {
        m_session.bus.GpibSend(s.BoardIndex, s.DeviceAddress, text,
                               static_cast<std::int16_t>(bus::ni::NLend));
    });
}

QString frmConfig::receiveReply() {
    const SharedState& s = m_session.state;
    QString reply = blankReply;
    onBoard(BusStep::Query,
            [&] { m_session.bus.GpibReceive(s.BoardIndex, s.DeviceAddress, reply, receiveTermination); });
    return reply;
}

frmConfig::QueryOutcome frmConfig::ask(const QString& query) {
    QueryOutcome outcome;
    sendText(query);
    if (m_session.bus.status().failed()) {
        outcome.firstFailure = m_session.bus.status();
    }
    outcome.reply = receiveReply();
    outcome.receiveStatus = m_session.bus.status();
    if (!outcome.firstFailure && outcome.receiveStatus.failed()) {
        outcome.firstFailure = outcome.receiveStatus;
    }
    return outcome;
}

} // namespace ktq::ui
