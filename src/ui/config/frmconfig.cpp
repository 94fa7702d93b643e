#include "frmconfig.h"

#include "pause.h"
#include "sharedstate.h"

#include "bus/gpib32.h"
#include "bus/gpibconstants.h"
#include "bus/module3.h"
#include "models/catalogue.h"
#include "ui/dialogs/describe.h"
#include "ui/dialogs/frmchannels.h"
#include "ui/dialogs/frmnotice.h"
#include "ui/dialogs/interaction.h"
#include "ui/dialogs/leaving.h"
#include "ui/dialogs/messageline.h"
#include "ui/dialogs/returnkey.h"
#include "ui/dialogs/statusline.h"
#include "ui/dialogs/textvalue.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

namespace ktq::ui {

namespace {

constexpr int replyLength = 18;
constexpr int maxShownLines = 14;
constexpr std::int16_t findLstnLimit = 32;
constexpr std::int16_t receiveTermination = 0; // ends a reply at a byte of value 0, besides EOI
constexpr char unlisten = '?';
constexpr char groupExecuteTrigger = 8;
constexpr int queryError = 4;
constexpr int executionError = 16;
constexpr int commandError = 32;
constexpr int secondaryBase = 96;
constexpr int model7170 = 7170;
constexpr int model7189 = 7189;

const QString blankReply = QString(replyLength, u' ');
const QString entryRejectedText = QStringLiteral("Value holds a line break or control character, re-enter");
const QString wideEntryRejectedText =
    QStringLiteral("Value holds a character the unit cannot receive, re-enter");

QString qs(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::int16_t addressWord(int primary, int secondary) {
    return static_cast<std::int16_t>(primary + 256 * (secondary + secondaryBase));
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

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QString& tooltip) {
    auto* button = new QPushButton(caption, parent);
    describe(button, name, caption, tooltip);
    // Return in an entry box presses that box's own button, never a dialog default; Return on
    // the button itself presses it.
    pressOnReturn(button);
    return button;
}

} // namespace

frmConfig::frmConfig(Session session, QWidget* parent) : QDialog(parent), m_session(session) {
    buildControls();
    resetControls();
}

frmConfig::~frmConfig() = default;

void frmConfig::buildControls() {
    setWindowTitle(QStringLiteral("Configuration Form"));
    setModal(true);

    txtTitle = new QLineEdit(this);
    describe(txtTitle, "txtTitle", QStringLiteral("Title"));
    txtTitle->setReadOnly(true);
    txtTitle->setFocusPolicy(Qt::NoFocus);
    txtTitle->setAlignment(Qt::AlignCenter);
    QFont titleFont = txtTitle->font();
    titleFont.setBold(true);
    txtTitle->setFont(titleFont);

    txtErrMsg = new MessageLine(this);
    describe(txtErrMsg, "txtErrMsg", QStringLiteral("Entry error"));
    txtGPIBErr = new MessageLine(this);
    describe(txtGPIBErr, "txtGPIBErr", QStringLiteral("Bus error"));
    const int twoLines = fontMetrics().height() * 3 + 10;
    txtErrMsg->setFixedHeight(twoLines);
    txtGPIBErr->setFixedHeight(twoLines);
    statusLine = new StatusLine(this);
    txtChNum = new QLineEdit(this);
    describe(txtChNum, "txtChNum", QStringLiteral("Channel"));
    txtChNum->setReadOnly(true);
    txtChNum->setFocusPolicy(Qt::NoFocus);

    frameAddr = new QFrame(this);
    frameAddr->setObjectName(QStringLiteral("frameAddr"));
    frameAddr->setFrameShape(QFrame::StyledPanel);
    Label1 = new QLabel(QStringLiteral("Verify device address and press Set Address button"), frameAddr);
    describe(Label1, "Label1", Label1->text());
    txtAddr = new QLineEdit(frameAddr);
    describe(txtAddr, "txtAddr", QStringLiteral("Device address"),
             QStringLiteral("Enter the device's primary GPIB address and press the Set button"));
    Label1->setBuddy(txtAddr);
    cmdSet = makeButton(frameAddr, "cmdSet", QStringLiteral("Set Address"),
                        QStringLiteral("Enters the device address into the program"));

    frameMenu = new QFrame(this);
    frameMenu->setObjectName(QStringLiteral("frameMenu"));
    frameMenu->setFrameShape(QFrame::StyledPanel);
    labelFunction = new QLabel(
        QStringLiteral("   Unit function  - Choices                    Current Setting"), frameMenu);
    describe(labelFunction, "labelFunction", QStringLiteral("Unit function and current setting"));
    labelFunction->setAutoFillBackground(true);
    labelFunction->setStyleSheet(QStringLiteral("QLabel { color: white; background-color: #000080; }"));
    lstFunction = new QListWidget(frameMenu);
    describe(
        lstFunction, "lstFunction", QStringLiteral("Functions"),
        QStringLiteral("Displays function and current setting.  Enter a new setting on the right or press "
                       "Enter/Advance button"));
    QFont fixed(QStringLiteral("Courier New"), 9);
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setFixedPitch(true);
    if (!QFontInfo(fixed).fixedPitch()) {
        fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    }
    lstFunction->setFont(fixed);
    labelFunction->setFont(fixed);
    lstFunction->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(QString(56, u'M')));
    lstFunction->setMinimumHeight(QFontMetrics(fixed).lineSpacing() * (maxShownLines + 1));
    labelChoice = new QLabel(
        QStringLiteral("Enter a new value or click Enter/Advance  to keep current value"), frameMenu);
    describe(labelChoice, "labelChoice", labelChoice->text());
    txtChoice = new QLineEdit(frameMenu);
    describe(txtChoice, "txtChoice", QStringLiteral("New setting"),
             QStringLiteral("Enter any new setting values here and then press the Enter/Advance button"));
    labelChoice->setBuddy(txtChoice);
    cmdEnter = makeButton(
        frameMenu, "cmdEnter", QStringLiteral("Enter or Advance"),
        QStringLiteral("Enters a new value or keeps current value and advances to next fiunction"));
    cmdRedo = makeButton(frameMenu, "cmdRedo", QStringLiteral("Redo from Start"),
                         QStringLiteral("Restarts the configuration process"));
    cmdNextCh = makeButton(frameMenu, "cmdNextCh", QStringLiteral("Next Channel"),
                           QStringLiteral("Advances to next channel for multi-channel devices."));

    cmdSav = makeButton(this, "cmdSav", QStringLiteral("Save Configuration"),
                        QStringLiteral("Saves current settings"));
    cmdLock = makeButton(this, "cmdLock", QStringLiteral("Lock Settings"),
                         QStringLiteral("Turns lock on after the save"));
    cmdSRQ = makeButton(this, "cmdSRQ", QStringLiteral("Save ESE and SRE"),
                        QStringLiteral("Saves ESE and SRE values.  Normally they are not saved."));
    cmdNoSRQ = makeButton(this, "cmdNoSRQ", QStringLiteral("Don't Save SRE"),
                          QStringLiteral("Blocks SRe from being saved by the configuration program"));
    cmdDone =
        makeButton(this, "cmdDone", QStringLiteral("Done"),
                   QStringLiteral("Closes the Configuration Window and returns to the Selection Window"));
    markLeaving(cmdDone);

    auto* addrLayout = new QHBoxLayout(frameAddr);
    addrLayout->addWidget(Label1, 1);
    addrLayout->addWidget(txtAddr);
    addrLayout->addWidget(cmdSet);

    auto* menuLayout = new QGridLayout(frameMenu);
    menuLayout->addWidget(labelFunction, 0, 0, 1, 3);
    menuLayout->addWidget(lstFunction, 1, 0, 1, 3);
    menuLayout->addWidget(labelChoice, 2, 0, 1, 3);
    menuLayout->addWidget(txtChoice, 3, 0);
    menuLayout->addWidget(cmdEnter, 3, 1);
    menuLayout->addWidget(cmdRedo, 4, 1);
    menuLayout->addWidget(cmdNextCh, 4, 2);
    menuLayout->setColumnStretch(0, 1);

    auto* endButtons = new QHBoxLayout;
    for (QPushButton* button : {cmdSav, cmdLock, cmdSRQ, cmdNoSRQ}) {
        endButtons->addWidget(button);
    }
    endButtons->addStretch(1);
    endButtons->addWidget(cmdDone);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtTitle);
    layout->addWidget(frameAddr);
    layout->addWidget(txtChNum);
    layout->addWidget(frameMenu, 1);
    layout->addLayout(endButtons);
    layout->addWidget(txtErrMsg);
    layout->addWidget(txtGPIBErr);
    layout->addWidget(statusLine);

    QWidget* order[] = {txtAddr,   cmdSet, lstFunction, txtChoice, cmdEnter, cmdRedo,
                        cmdNextCh, cmdSav, cmdLock,     cmdSRQ,    cmdNoSRQ, cmdDone};
    for (std::size_t k = 1; k < std::size(order); ++k) {
        setTabOrder(order[k - 1], order[k]);
    }

    connect(cmdSet, &QPushButton::clicked, this, &frmConfig::cmdSet_Click);
    connect(txtAddr, &QLineEdit::returnPressed, this, [this] {
        if (cmdSet->isEnabled()) {
            cmdSet_Click();
        }
    });
    connect(cmdEnter, &QPushButton::clicked, this, &frmConfig::cmdEnter_Click);
    connect(txtChoice, &QLineEdit::returnPressed, this, [this] {
        if (cmdEnter->isEnabled()) {
            cmdEnter_Click();
        }
    });
    connect(lstFunction, &QListWidget::itemClicked, this, &frmConfig::lstFunction_Click);
    connect(lstFunction, &QListWidget::itemDoubleClicked, this, &frmConfig::lstFunction_DblClick);
    connect(cmdSav, &QPushButton::clicked, this, &frmConfig::cmdSav_Click);
    connect(cmdLock, &QPushButton::clicked, this, &frmConfig::cmdLock_Click);
    connect(cmdSRQ, &QPushButton::clicked, this, &frmConfig::cmdSRQ_Click);
    connect(cmdNoSRQ, &QPushButton::clicked, this, &frmConfig::cmdNoSRQ_Click);
    connect(cmdDone, &QPushButton::clicked, this, &frmConfig::cmdDone_Click);
    connect(cmdRedo, &QPushButton::clicked, this, &frmConfig::cmdRedo_Click);
    connect(cmdNextCh, &QPushButton::clicked, this, &frmConfig::cmdNextCh_Click);
}

// The controls as a freshly created window has them; the window-level values are not touched.
void frmConfig::resetControls() {
    lstFunction->clear();
    txtChoice->clear();
    txtChoice->setEnabled(true);
    txtGPIBErr->setText(QString());
    txtGPIBErr->setVisible(false);
    txtErrMsg->setText(QString());
    statusLine->clearGuidance();
    txtChNum->clear();
    cmdNextCh->setVisible(false);
    cmdNextCh->setEnabled(false);
    labelFunction->setVisible(true);
    lstFunction->setEnabled(true);
    m_closing = false;
}

void frmConfig::openRun() {
    resetControls();
    Form_Load();
}

void frmConfig::Form_Load() {
    SharedState& s = m_session.state;
    s.CrLf = QStringLiteral("\r\n");
    txtTitle->setVisible(true);
    txtTitle->setText(s.ModelText + QStringLiteral("  CONFIGURATION ROUTINE"));
    txtErrMsg->setVisible(false);
    txtAddr->clear();
    txtAddr->setEnabled(true);
    cmdSet->setEnabled(true);
    for (QPushButton* button : {cmdEnter, cmdLock, cmdSRQ, cmdNoSRQ, cmdSav, cmdRedo}) {
        button->setEnabled(false);
    }
    labelChoice->setVisible(false);
    txtChNum->setVisible(false);
    s.EsrQuery = QStringLiteral("*ESR?");
    SavedFlag = 0;
    s.ChannelNumber = 1;
    m_boardGone = false;
    FindLstners();
    reportDiscovery();
    txtAddr->setFocus();
}

void frmConfig::FindLstners() {
    bus::Gpib32& gpib = m_session.bus;
    // A search that finds nothing must not announce the previous run's device.
    FoundFlg = 0;
    FoundNum = 0;
    founddev = 0;

    std::array<std::int16_t, 33> candidates{};
    for (int k = 0; k < 30; ++k) {
        candidates[k] = static_cast<std::int16_t>(k + 1);
    }
    candidates[30] = -1;
    onBoard(BusStep::Search, [&] {
        gpib.GpibFindLstn(m_session.state.BoardIndex, std::span<const std::int16_t>(candidates.data(), 31),
                          ListenerTable, findLstnLimit);
    });
    if (gpib.ibsta() < 0 && gpib.iberr() == bus::ni::EDVR) {
        showBusError(QStringLiteral("FindLstn error"), BusStep::Search);
        return;
    }
    // Any other error ends the search without a report, and what was found counts; the status line
    // still says what the driver reported. Too many listeners (ETAB) is what the outcome box says.
    if (gpib.ibsta() < 0 && gpib.iberr() != bus::ni::ETAB) {
        statusLine->say(busAdviceNow(BusStep::Search));
    }
    // The driver wrote at most the limit; a larger or negative count never indexes past that.
    const int found = std::clamp<int>(gpib.ibcnt(), 0, findLstnLimit);
    if (found > 0) {
        founddev = addressEntry(ListenerTable[0]);
        FoundFlg = 1;
        FoundNum = gpib.ibcnt();
    }
    ListenerTable[found] = -1;
}

void frmConfig::reportDiscovery() {
    const QString count = signedNumberText(m_session.bus.ibcnt());
    const int listed = std::clamp<int>(FoundNum, 0, findLstnLimit);
    const std::span<const std::int16_t> listeners(ListenerTable.data(), listed);
    // The operator has to type one of them: name them the way the address box takes them.
    const QString several =
        QStringLiteral("FindLstn found") + count +
        QStringLiteral(" devices, Check bus connections and manually enter device GPIB address") +
        QStringLiteral("\n\nListeners found at addresses: ") + addressListText(listeners);
    Interaction& ui = m_session.interaction;
    if (FoundFlg == 1 && FoundNum >= 2) {
        ui.beep();
        ui.messageBox(this,
                      FoundNum > 32 ? QStringLiteral("WARNING - Found more than 32 devices")
                                    : QStringLiteral("CAUTION - Found multiple devices"),
                      several);
        // The box is gone once the operator types: the line keeps the addresses in view.
        statusLine->say(listenersAdvice(listeners));
    } else if (FoundFlg == 1 && FoundNum == 1) {
        ui.messageBox(this, QStringLiteral("Found a single device"),
                      QStringLiteral("FindLstn found a device at address") + signedNumberText(founddev) +
                          QStringLiteral(", Please confirm or change device address before pressing the SET "
                                         "ADDRESS button"));
        txtAddr->setText(signedNumberText(founddev));
    } else {
        ui.messageBox(
            this, QStringLiteral("WARNING - No devices found"),
            QStringLiteral("Check bus for an active GPIB device and manually enter its GPIB address or "
                           "restart this program"));
    }
}

void frmConfig::cmdSet_Click() {
    SharedState& s = m_session.state;
    bus::Gpib32& gpib = m_session.bus;
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();

    const double value = roundHalfEven(numericValue(txtAddr->text()));
    const std::optional<std::int16_t> entry = toInt16(value);
    if (entry) {
        s.PrimaryAddress = *entry;
    }
    // Negative entries are refused too: -1 is the driver's "no address", which would clear every
    // device on the bus.
    const bool outOfRange = !entry || *entry < 0 || *entry >= 3000 || (*entry >= 31 && *entry <= 99) ||
                            (*entry >= 100 && *entry % 100 > 30);
    if (outOfRange) {
        showEntryError(QStringLiteral("Address out of range, re-enter"));
        return;
    }
    txtErrMsg->setVisible(false);
    if (*entry < 100) {
        s.DeviceAddress = *entry;
    } else {
        s.PrimaryAddress = static_cast<std::int16_t>(*entry / 100);
        s.SecondaryAddress = static_cast<std::int16_t>(*entry % 100);
        s.DeviceAddress = addressWord(s.PrimaryAddress, s.SecondaryAddress);
    }

    if (s.ModelNumber == model7189) {
        openChannelDialog();
        s.SecondaryAddress = static_cast<std::int16_t>(s.ChannelNumber + 10);
        s.DeviceAddress = addressWord(s.PrimaryAddress, s.SecondaryAddress);
        showChannelLine();
    }

    // Set Address is where the operator starts again: the bus is tried once more.
    m_boardGone = false;
    onBoard(BusStep::ClearUnit, [&] { gpib.GpibSendIFC(s.BoardIndex); });
    onBoard(BusStep::ClearUnit, [&] { gpib.GpibDevClear(s.BoardIndex, s.DeviceAddress); });
    if (gpib.ibsta() < 0) {
        showBusError(QStringLiteral("DevClear Error"), BusStep::ClearUnit);
        return;
    }

    if (s.ModelNumber == model7170) {
        openChannelDialog();
        s.CommandText = QStringLiteral("C ") + signedNumberText(s.ChannelNumber);
        sendText(s.CommandText, BusStep::ClearUnit);
        showChannelLine();
    }

    cmdEnter->setEnabled(true);
    cmdRedo->setEnabled(true);
    labelChoice->setVisible(true);

    const models::SetupRoutine* routine = models::dispatch(s.ModelNumber, s.ModelText);
    if (routine == nullptr) {
        txtErrMsg->setText(QStringLiteral("Bad Model Number, Configuration halted"));
        txtErrMsg->setVisible(true);
        ShortPause();
        closeWindow();
        return;
    }
    runSetup(*routine);
}

void frmConfig::openChannelDialog() {
    frmChannels dialog(m_session.state.ChannelNumber, m_session.interaction, this);
    m_session.interaction.execModal(dialog);
}

void frmConfig::showChannelLine() {
    txtChNum->setText(QStringLiteral("Configuring channel #") +
                      signedNumberText(m_session.state.ChannelNumber));
    txtChNum->setVisible(true);
}

void frmConfig::runSetup(const models::SetupRoutine& routine) {
    SharedState& s = m_session.state;
    if (!routine.noticeModel.empty()) {
        s.NoticeText = models::noticeText(routine.noticeModel);
        frmNotice notice(s.NoticeText, this);
        m_session.interaction.execModal(notice);
    }
    if (!routine.keepsDeviceAddress) {
        s.DeviceAddress = s.PrimaryAddress;
    }
    if (routine.channelCount > 0) {
        s.ChannelCount = routine.channelCount;
        if (routine.hidesNextChannel) {
            cmdNextCh->setEnabled(false);
            cmdNextCh->setVisible(false);
        }
    }
    s.FunctionCount =
        static_cast<int>(std::min<std::size_t>(routine.functions.size(), SharedState::maxFunctions));
    for (int k = 1; k <= s.FunctionCount; ++k) {
        s.FunctionPrompt[k] = qs(routine.functions[k - 1].prompt);
        s.FunctionCommand[k] = qs(routine.functions[k - 1].command);
    }
    s.AddressFunction = static_cast<std::int16_t>(routine.addressFunction);
    s.CommandPrefix = qs(routine.commandPrefix);
    if (!routine.noticeModel.empty()) {
        onBoard(BusStep::ClearUnit, [&] { m_session.bus.GpibSendIFC(s.BoardIndex); });
    }
    s.LockSupported = routine.lockSupported ? 1 : 0;
    s.TriggerOnStart = routine.triggerOnStart ? 1 : 0;
    s.FunctionIndex = 1;
    ListOffset = 0;
    s.EntryPending = 0;
    m_modelQueriesAnswered = 0;
    LOOP2();
}

void frmConfig::LOOP2() {
    SharedState& s = m_session.state;
    if (s.EntryPending == 0) {
        showFunction();
    } else if (!s.NewValue.isEmpty()) {
        setFunction();
    } else {
        ++s.FunctionIndex;
        if (s.FunctionIndex <= s.FunctionCount) {
            s.EntryPending = 0;
            showFunction();
        } else {
            endOfList();
        }
    }
}

QString frmConfig::queryText(int index) const {
    const SharedState& s = m_session.state;
    return s.CommandPrefix + s.FunctionCommand[index] + QStringLiteral("?");
}

void frmConfig::onBoard(BusStep step, const std::function<void()>& call) {
    if (!m_boardGone) {
        call();
        m_boardGone = boardGone(m_session.bus.status(), m_session.driverFamily);
    }
    if (m_boardGone) {
        // Said at every step that sends nothing, also at those that check no status.
        statusLine->say(busAdviceNow(step));
    }
}

void frmConfig::sendText(QString& text, BusStep step) {
    const SharedState& s = m_session.state;
    onBoard(step, [&] {
        m_session.bus.GpibSend(s.BoardIndex, s.DeviceAddress, text,
                               static_cast<std::int16_t>(bus::ni::NLend));
    });
}

void frmConfig::receiveResponse() {
    SharedState& s = m_session.state;
    s.Response = blankReply;
    onBoard(BusStep::Query, [&] {
        m_session.bus.GpibReceive(s.BoardIndex, s.DeviceAddress, s.Response, receiveTermination);
    });
}

void frmConfig::showFunction() {
    SharedState& s = m_session.state;
    bus::Gpib32& gpib = m_session.bus;
    const int i = s.FunctionIndex;
    if (i < 1 || i > s.FunctionCount) {
        return;
    }
    if (i == 1 && s.TriggerOnStart == 1) {
        const QChar listen(static_cast<char16_t>(32 + (s.DeviceAddress & 0xFF)));
        const QString sequence[] = {QString(QChar(unlisten)), QString(listen), QString(QChar(unlisten)),
                                    QString(listen) + QChar(groupExecuteTrigger)};
        for (const QString& bytes : sequence) {
            s.CommandText = bytes;
            onBoard(BusStep::Query, [&] { gpib.GpibSendCmds(s.BoardIndex, s.CommandText); });
            ShortPause();
        }
    }
    if (i == 1 && s.LockSupported == 1) {
        s.CommandText = QStringLiteral("CAL:LOCK 0");
        sendText(s.CommandText);
        s.CommandText = QStringLiteral("*CLS");
        sendText(s.CommandText);
    }
    s.CommandText = queryText(i);
    sendText(s.CommandText);
    receiveResponse();
    if (gpib.ibsta() < 0) {
        showBusError(QStringLiteral("Receive Error"), BusStep::Query);
        // Two queries in and not a word of the model's own back: say it now, not after the whole
        // list. The bus address query does not count, as units of every model answer it alike.
        // Only a reply that never came says so; any other error is the driver's, said as such.
        if (i >= 2 && m_modelQueriesAnswered == 0 && gpib.iberr() == bus::ni::EABO) {
            statusLine->say(silentUnitAdvice(addressText(), s.ModelText));
        }
    } else {
        if (i != s.AddressFunction) {
            ++m_modelQueriesAnswered;
        }
        TrimResponse(s.Response);
        if (i == s.AddressFunction) {
            const double v = numericValue(s.Response);
            if (v >= 32) {
                s.Response = numberText(v - 32) + QStringLiteral("/31 ");
                while (s.Response.startsWith(u' ')) {
                    s.Response.remove(0, 1);
                }
            }
        }
    }
    if (i > maxShownLines && lstFunction->count() > 0) {
        delete lstFunction->takeItem(0);
        ++ListOffset;
    }
    PrepItem(s.FunctionPrompt[i], s.Response);
    const int position = std::clamp(i - ListOffset - 1, 0, lstFunction->count());
    lstFunction->insertItem(position, s.ListLine);
    lstFunction->setCurrentRow(lstFunction->count() - 1);
    txtChoice->setFocus();
}

void frmConfig::setFunction() {
    SharedState& s = m_session.state;
    const int i = s.FunctionIndex;
    if (i < 1 || i > s.FunctionCount) {
        return;
    }
    s.CommandText = s.CommandPrefix + s.FunctionCommand[i] + QStringLiteral(" ") + s.NewValue;
    sendText(s.CommandText);
    if (i == s.AddressFunction) {
        const std::optional<double> typed = leadingNumber(s.NewValue);
        const std::optional<std::int16_t> n = typed ? toInt16(*typed) : std::nullopt;
        // Only an address the unit can move to moves the program: 31 keeps the address, and so
        // does a value the unit refuses (one that is not a number among them), which would
        // otherwise strand every later transfer.
        if (n && *n >= 0 && *n <= 30) {
            if (s.ModelNumber == model7189) {
                const int word = (secondaryBase + s.SecondaryAddress) * 256 + *n;
                if (word <= INT16_MAX) {
                    s.PrimaryAddress = *n;
                    s.DeviceAddress = static_cast<std::int16_t>(word);
                }
            } else {
                s.PrimaryAddress = *n;
                s.DeviceAddress = *n;
            }
        }
        ShortPause();
    }
    ShortPause();

    sendText(s.EsrQuery);
    receiveResponse();
    if (s.Response == blankReply) {
        s.Response = QStringLiteral("No response\n");
    } else {
        const auto esr = static_cast<long long>(roundHalfEven(numericValue(s.Response)));
        if ((esr & (queryError | executionError | commandError)) != 0) {
            s.Response = QStringLiteral("Error - retry\n");
        } else {
            // The unit took a value the last save did not store: Done must ask again.
            SavedFlag = 0;
            s.CommandText = queryText(i);
            sendText(s.CommandText);
            receiveResponse();
            TrimResponse(s.Response);
            // A read-back that brought nothing stays blank rather than showing address 0.
            if (i == s.AddressFunction && s.Response != blankReply) {
                const double v = numericValue(s.Response.left(2));
                s.Response = (v >= 32 ? numberText(v - 32) + QStringLiteral("/31") : numberText(v)) +
                             QStringLiteral("\n");
                while (s.Response.startsWith(u' ')) {
                    s.Response.remove(0, 1);
                }
            }
        }
    }
    const int position = i - ListOffset - 1;
    if (position >= 0 && position < lstFunction->count()) {
        delete lstFunction->takeItem(position);
    }
    PrepItem(s.FunctionPrompt[i], s.Response);
    lstFunction->insertItem(std::clamp(position, 0, lstFunction->count()), s.ListLine);
    lstFunction->setCurrentRow(-1);
    txtChoice->setFocus();
}

void frmConfig::endOfList() {
    SharedState& s = m_session.state;
    if (isMultiChannelModel()) {
        if (s.ChannelNumber != s.ChannelCount) {
            cmdNextCh->setVisible(true);
            cmdNextCh->setEnabled(true);
            cmdEnter->setEnabled(false);
            cmdNextCh->setFocus();
        } else {
            cmdEnter->setEnabled(false);
            cmdSav->setEnabled(true);
            cmdSav->setFocus();
        }
        return;
    }
    cmdSet->setEnabled(false);
    cmdEnter->setEnabled(false);
    if (s.LockSupported == 1) {
        cmdLock->setEnabled(true);
        cmdSRQ->setEnabled(true);
        cmdNoSRQ->setEnabled(true);
    }
    cmdSav->setEnabled(true);
    cmdSav->setFocus();
}

bool frmConfig::isMultiChannelModel() const {
    const int model = m_session.state.ModelNumber;
    return model == model7170 || model == model7189;
}

void frmConfig::PrepItem(const QString& Instring1, const QString& Rdg) {
    const qsizetype padding = Instring1.size() < 34 ? 35 - Instring1.size() : 1;
    QString line = Instring1 + QString(padding, u' ') + Rdg;
    line.chop(1);
    m_session.state.ListLine = line;
}

void frmConfig::ShortPause() {
    m_session.pauser.pause(std::chrono::milliseconds(200));
}

void frmConfig::TrimResponse(const QString& text) {
    const qsizetype p = text.indexOf(u'\n');
    m_session.state.Response = p >= 0 ? text.left(p + 1) : text;
}

void frmConfig::cmdEnter_Click() {
    SharedState& s = m_session.state;
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
    s.EntryPending = 1;
    s.NewValue = entry;
    txtChoice->clear();
    LOOP2();
}

void frmConfig::lstFunction_Click() {
    txtChoice->setFocus();
}

void frmConfig::lstFunction_DblClick() {
    if (cmdEnter->isEnabled()) {
        cmdEnter_Click();
    }
}

bool frmConfig::sendChecked(const QString& command, const QString& failureMessage) {
    SharedState& s = m_session.state;
    s.CommandText = command;
    sendText(s.CommandText, BusStep::Store);
    if (m_session.bus.ibsta() < 0) {
        showBusError(failureMessage, BusStep::Store);
        return false;
    }
    return true;
}

void frmConfig::reportStore(StoreAction action, const bus::StatusSnapshot* failure) {
    QString text = storeOutcome(action, addressText(), failure == nullptr);
    if (failure != nullptr) {
        text += u' ' + busAdvice(BusFailure{BusStep::Store, *failure, m_session.driverFamily, addressText(),
                                            m_session.state.ModelText});
    }
    statusLine->say(text);
}

void frmConfig::cmdSav_Click() {
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    if (sendChecked(QStringLiteral("*SAV 0"), QStringLiteral("Send SAV Error"))) {
        SavedFlag = 1;
        reportStore(StoreAction::SaveSettings, nullptr);
    } else {
        reportStore(StoreAction::SaveSettings, &m_session.bus.status());
    }
    cmdSav->setEnabled(false);
}

void frmConfig::cmdLock_Click() {
    SharedState& s = m_session.state;
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    // Both commands go out as they always have; the first failure is the one the operator hears of.
    std::optional<bus::StatusSnapshot> failure;
    for (const QString& command : {QStringLiteral("CAL:LOCK ON"), QStringLiteral("*SAV 0")}) {
        s.CommandText = command;
        sendText(s.CommandText, BusStep::Store);
        if (m_session.bus.status().failed() && !failure) {
            failure = m_session.bus.status();
        }
    }
    reportStore(StoreAction::LockSettings, failure ? &*failure : nullptr);
}

void frmConfig::cmdSRQ_Click() {
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    const bool sent = sendChecked(QStringLiteral("*PSC 0"), QStringLiteral("Send ESE Error"));
    reportStore(StoreAction::KeepStatusEnables, sent ? nullptr : &m_session.bus.status());
}

void frmConfig::cmdNoSRQ_Click() {
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    const bool sent = sendChecked(QStringLiteral("*PSC 1"), QStringLiteral("Send ESE Error"));
    reportStore(StoreAction::ClearStatusEnables, sent ? nullptr : &m_session.bus.status());
}

void frmConfig::cmdDone_Click() {
    txtGPIBErr->setVisible(false);
    statusLine->clearGuidance();
    if (SavedFlag == 1) {
        closeWindow();
        return;
    }
    txtGPIBErr->setText(QStringLiteral("Exit without saving? ") + m_session.state.CrLf +
                        QStringLiteral("Press Done again to exit"));
    txtGPIBErr->setVisible(true);
    SavedFlag = 1;
    m_session.interaction.beep();
}

void frmConfig::cmdRedo_Click() {
    statusLine->clearGuidance();
    lstFunction->clear();
    txtAddr->clear();
    txtAddr->setEnabled(true);
    txtAddr->setFocus();
    cmdSet->setEnabled(true);
    for (QPushButton* button : {cmdEnter, cmdLock, cmdSRQ, cmdSav}) {
        button->setEnabled(false);
    }
}

void frmConfig::cmdNextCh_Click() {
    SharedState& s = m_session.state;
    s.ChannelNumber += 1;
    if (!isMultiChannelModel()) {
        return;
    }
    lstFunction->clear();
    txtAddr->setText(signedNumberText(s.PrimaryAddress));
    txtAddr->setEnabled(true);
    cmdSet->setEnabled(true);
    cmdEnter->setEnabled(true);
    for (QPushButton* button : {cmdLock, cmdSRQ, cmdNoSRQ, cmdSav}) {
        button->setEnabled(false);
    }
    cmdSet_Click();
}

void frmConfig::showBusError(const QString& message, BusStep step) {
    QString report = message;
    bus::GpibErrorReport(report, m_session.bus.status(), m_session.state.GpibErrorText);
    txtGPIBErr->setText(m_session.state.GpibErrorText);
    txtGPIBErr->setVisible(true);
    statusLine->say(busAdviceNow(step));
}

QString frmConfig::busAdviceNow(BusStep step) const {
    return busAdvice(BusFailure{step, m_session.bus.status(), m_session.driverFamily, addressText(),
                                m_session.state.ModelText});
}

QString frmConfig::addressText() const {
    return QString::number(addressEntry(m_session.state.DeviceAddress));
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
    cmdDone_Click();
}

void frmConfig::closeEvent(QCloseEvent* event) {
    if (m_closing) {
        event->accept();
        return;
    }
    event->ignore();
    cmdDone_Click();
}

} // namespace ktq::ui
