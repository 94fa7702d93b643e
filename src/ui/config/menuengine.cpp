// The function menu: shows each function of the model's table with the unit's setting, and sets it.
#include "frmconfig.h"

#include "pause.h"
#include "sharedstate.h"

#include "models/catalogue.h"
#include "run/numbers.h"
#include "ui/dialogs/frmnotice.h"
#include "ui/dialogs/interaction.h"
#include "ui/dialogs/messageline.h"
#include "ui/dialogs/statusline.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace ktq::ui {

namespace {

constexpr int maxShownLines = 14;

const QString entryRejectedText = QStringLiteral("Value holds a line break or control character, re-enter");
const QString wideEntryRejectedText =
    QStringLiteral("Value holds a character the unit cannot receive, re-enter");

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
    return m_run.functionCount();
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
        m_run.clearInterface();
    }
    m_run.startList();
    m_linesScrolledOff = 0;
    LOOP2(std::nullopt);
}

void frmConfig::LOOP2(const std::optional<QString>& entry) {
    if (!entry) {
        showFunction();
    } else if (!entry->isEmpty()) {
        setFunction(*entry);
    } else if (m_run.nextFunction()) {
        showFunction();
    } else {
        endOfList();
    }
}

void frmConfig::showFunction() {
    const int index = m_run.functionIndex();
    if (index < 1 || index > functionCount()) {
        return;
    }
    const run::FunctionReading reading = m_run.readFunction();
    if (reading.failure) {
        showBusError(QStringLiteral("Receive Error"), run::BusStep::Query, reading.reported,
                     *reading.failure);
        // Said now, not after the whole list.
        if (reading.silentUnit) {
            statusLine->say(run::silentUnitAdvice(addressText(), m_session.state.ModelText));
        }
    }
    if (index > maxShownLines && lstFunction->count() > 0) {
        delete lstFunction->takeItem(0);
        ++m_linesScrolledOff;
    }
    const int position = std::clamp(index - m_linesScrolledOff - 1, 0, lstFunction->count());
    lstFunction->insertItem(position, PrepItem(m_run.functionPrompt(index), reading.setting));
    lstFunction->setCurrentRow(lstFunction->count() - 1);
    txtChoice->setFocus();
}

void frmConfig::setFunction(const QString& value) {
    const int index = m_run.functionIndex();
    if (index < 1 || index > functionCount()) {
        return;
    }
    const run::SettingVerdict verdict = m_run.setFunction(value);
    if (verdict.refused) {
        statusLine->say(run::refusedValueAdvice(addressText(), value, m_run.functionPrompt(index)));
    }
    const int position = index - m_linesScrolledOff - 1;
    if (position >= 0 && position < lstFunction->count()) {
        delete lstFunction->takeItem(position);
    }
    lstFunction->insertItem(std::clamp(position, 0, lstFunction->count()),
                            PrepItem(m_run.functionPrompt(index), verdict.shown));
    lstFunction->setCurrentRow(-1);
    txtChoice->setFocus();
}

void frmConfig::endOfList() {
    const models::SetupRoutine* routine = m_session.state.Routine;
    if (m_run.isMultiChannelModel()) {
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
    m_run.ShortPause();
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

void frmConfig::sayBoardGone(run::BusStep step, const bus::StatusSnapshot& status) {
    statusLine->say(busAdviceFor(step, status));
}

} // namespace ktq::ui
