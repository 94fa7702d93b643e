// The configuration window's controls: how each frame is built and what each phase of a run enables.
#include "frmconfig.h"

#include "ui/dialogs/describe.h"
#include "ui/dialogs/layoutroom.h"
#include "ui/dialogs/leaving.h"
#include "ui/dialogs/messageline.h"
#include "ui/dialogs/returnkey.h"
#include "ui/dialogs/statusline.h"

#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>
#include <array>
#include <string_view>

namespace ktq::ui {

namespace {

constexpr int shownLines = 14;

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QString& tooltip) {
    auto* button = new QPushButton(caption, parent);
    describe(button, name, caption, tooltip);
    // Return in an entry box presses that box's own button, never a dialog default; Return on
    // the button itself presses it.
    pressOnReturn(button);
    return button;
}

// Fixed-pitch as drawn: a blank, a narrow and a wide letter take the same room. A system that
// lacks a family can stand a proportional font in for it and still call it fixed-pitch (wine
// without the Windows fonts does), and the list's columns are then lost.
bool drawsFixedPitch(const QFont& font) {
    const QFontMetrics metrics(font);
    const int wide = metrics.horizontalAdvance(u'M');
    return metrics.horizontalAdvance(u' ') == wide && metrics.horizontalAdvance(u'i') == wide;
}

QFont listFont() {
    QFont fixed(QStringLiteral("Courier New"), 9);
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setFixedPitch(true);
    if (drawsFixedPitch(fixed)) {
        return fixed;
    }
    const QFont system = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (drawsFixedPitch(system)) {
        return system;
    }
    QStringList families{QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                         QStringLiteral("Consolas"), QStringLiteral("Lucida Console")};
    families += QFontDatabase::families();
    for (const QString& family : families) {
        const QFont candidate(family, fixed.pointSize());
        if (QFontDatabase::isFixedPitch(family) && drawsFixedPitch(candidate)) {
            return candidate;
        }
    }
    return fixed;
}

// The function list's column header. Its caption was spaced for a proportional font, which puts
// "Current Setting" a dozen characters right of the settings once drawn in the list's fixed-pitch
// font. The caption is kept as it is; its parts are drawn where the list's columns stand, in the
// list's font, from the list's own geometry, so that they line up whatever font the system gives.
class ColumnHeader final : public QLabel {
public:
    ColumnHeader(const QString& caption, const QString& settingsTitle, QWidget* parent)
        : QLabel(caption, parent), m_settingsTitle(settingsTitle) {}

    void alignWith(const QListWidget* list) { m_list = list; }

protected:
    void paintEvent(QPaintEvent* event) override {
        if (m_list == nullptr || !text().contains(m_settingsTitle)) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter painter(this);
        painter.setFont(m_list->font());
        painter.setPen(palette().color(QPalette::WindowText));
        const QFontMetrics metrics(m_list->font());
        const int baseline = (height() - metrics.height()) / 2 + metrics.ascent();
        const qsizetype split = text().indexOf(m_settingsTitle);
        const int firstColumn = listTextLeft();
        const int settings =
            firstColumn + metrics.horizontalAdvance(QString(frmConfig::settingsColumn, u' '));
        painter.drawText(firstColumn, baseline, text().left(split));
        painter.drawText(settings, baseline, text().mid(split));
    }

private:
    // Where the list's item views start their text: its viewport, plus the margin the styles keep
    // between an item's edge and its text.
    int listTextLeft() const {
        const int viewport =
            m_list->viewport()->mapTo(window(), QPoint()).x() - mapTo(window(), QPoint()).x();
        return viewport + m_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list) + 1;
    }

    QString m_settingsTitle;
    const QListWidget* m_list = nullptr;
};

} // namespace

void frmConfig::buildControls() {
    setWindowTitle(QStringLiteral("Configuration Form"));
    setModal(true);
    buildTitleLines();
    buildAddressFrame();
    buildMenuFrame();
    buildEndButtons();
    arrangeControls();
    connectControls();
}

void frmConfig::buildTitleLines() {
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
    // Each as high as its longest text: an entry error wraps once at most, a bus report can take
    // three lines. The window keeps room for both all run long, so none is spent beyond that.
    const auto linesHigh = [](const MessageLine* box, int lines) {
        return box->fontMetrics().lineSpacing() * lines + 2 * qRound(box->document()->documentMargin()) +
               2 * box->frameWidth();
    };
    txtErrMsg->setFixedHeight(linesHigh(txtErrMsg, 2));
    txtGPIBErr->setFixedHeight(linesHigh(txtGPIBErr, 3));
    statusLine = new StatusLine(this);
    txtChNum = new QLineEdit(this);
    describe(txtChNum, "txtChNum", QStringLiteral("Channel"));
    txtChNum->setReadOnly(true);
    txtChNum->setFocusPolicy(Qt::NoFocus);
}

void frmConfig::buildAddressFrame() {
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

    auto* addrLayout = new QHBoxLayout(frameAddr);
    addrLayout->addWidget(Label1, 1);
    addrLayout->addWidget(txtAddr);
    addrLayout->addWidget(cmdSet);
}

void frmConfig::buildMenuFrame() {
    frameMenu = new QFrame(this);
    frameMenu->setObjectName(QStringLiteral("frameMenu"));
    frameMenu->setFrameShape(QFrame::StyledPanel);
    auto* header =
        new ColumnHeader(QStringLiteral("   Unit function  - Choices                    Current Setting"),
                         QStringLiteral("Current Setting"), frameMenu);
    labelFunction = header;
    describe(labelFunction, "labelFunction", QStringLiteral("Unit function and current setting"));
    labelFunction->setAutoFillBackground(true);
    QPalette headerColours = labelFunction->palette();
    headerColours.setColor(QPalette::Window, QColor(0x00, 0x00, 0x80));
    headerColours.setColor(QPalette::WindowText, Qt::white);
    labelFunction->setPalette(headerColours);
    lstFunction = new QListWidget(frameMenu);
    describe(
        lstFunction, "lstFunction", QStringLiteral("Functions"),
        QStringLiteral("Displays function and current setting.  Enter a new setting on the right or press "
                       "Enter/Advance button"));
    const QFont fixed = listFont();
    lstFunction->setFont(fixed);
    labelFunction->setFont(fixed);
    header->alignWith(lstFunction);
    lstFunction->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(QString(56, u'M')));
    // A row is as high as the style draws it, which is more than a line of text in some (the
    // Windows styles): the list shows its lines without scrolling in each.
    lstFunction->addItem(QStringLiteral("M"));
    const int rowHeight = std::max(QFontMetrics(fixed).lineSpacing(), lstFunction->sizeHintForRow(0));
    lstFunction->clear();
    lstFunction->setMinimumHeight(rowHeight * shownLines + 2 * lstFunction->frameWidth() + 2);
    // sic: the two blanks before "to" are the window's own text.
    labelChoice = new QLabel(
        QStringLiteral("Enter a new value or click Enter/Advance  to keep current value"), frameMenu);
    describe(labelChoice, "labelChoice", labelChoice->text());
    txtChoice = new QLineEdit(frameMenu);
    describe(txtChoice, "txtChoice", QStringLiteral("New setting"),
             QStringLiteral("Enter any new setting values here and then press the Enter/Advance button"));
    labelChoice->setBuddy(txtChoice);
    cmdEnter = makeButton(
        frameMenu, "cmdEnter", QStringLiteral("Enter or Advance"),
        // sic: "fiunction" is the window's own text.
        QStringLiteral("Enters a new value or keeps current value and advances to next fiunction"));
    cmdRedo = makeButton(frameMenu, "cmdRedo", QStringLiteral("Redo from Start"),
                         QStringLiteral("Restarts the configuration process"));
    cmdNextCh = makeButton(frameMenu, "cmdNextCh", QStringLiteral("Next Channel"),
                           QStringLiteral("Advances to next channel for multi-channel devices."));

    auto* menuLayout = new QGridLayout(frameMenu);
    menuLayout->addWidget(labelFunction, 0, 0, 1, 3);
    menuLayout->addWidget(lstFunction, 1, 0, 1, 3);
    menuLayout->addWidget(labelChoice, 2, 0, 1, 3);
    menuLayout->addWidget(txtChoice, 3, 0);
    menuLayout->addWidget(cmdEnter, 3, 1);
    menuLayout->addWidget(cmdRedo, 4, 1);
    menuLayout->addWidget(cmdNextCh, 4, 2);
    menuLayout->setColumnStretch(0, 1);
}

void frmConfig::buildEndButtons() {
    cmdSav = makeButton(this, "cmdSav", QStringLiteral("Save Configuration"),
                        QStringLiteral("Saves current settings"));
    cmdLock = makeButton(this, "cmdLock", QStringLiteral("Lock Settings"),
                         QStringLiteral("Turns lock on after the save"));
    cmdSRQ = makeButton(this, "cmdSRQ", QStringLiteral("Save ESE and SRE"),
                        QStringLiteral("Saves ESE and SRE values.  Normally they are not saved."));
    // sic: "SRe" is the window's own text.
    cmdNoSRQ = makeButton(this, "cmdNoSRQ", QStringLiteral("Don't Save SRE"),
                          QStringLiteral("Blocks SRe from being saved by the configuration program"));
    cmdDone =
        makeButton(this, "cmdDone", QStringLiteral("Done"),
                   QStringLiteral("Closes the Configuration Window and returns to the Selection Window"));
    markLeaving(cmdDone);
    markEscapeLeaves(this);
}

void frmConfig::arrangeControls() {
    auto* endButtons = new QHBoxLayout;
    for (QPushButton* button : {cmdSav, cmdLock, cmdSRQ, cmdNoSRQ}) {
        endButtons->addWidget(button);
    }
    endButtons->addStretch(1);
    endButtons->addWidget(cmdDone);

    auto* layout = new QVBoxLayout(this);
    // Tighter than the styles' own spacing: with every line of a run given room from the start,
    // the window is as high as a 768-pixel screen less a task bar allows.
    layout->setSpacing(4);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->addWidget(txtTitle);
    layout->addWidget(frameAddr);
    layout->addWidget(txtChNum);
    layout->addWidget(frameMenu, 1);
    layout->addLayout(endButtons);
    layout->addWidget(txtErrMsg);
    layout->addWidget(txtGPIBErr);
    layout->addWidget(statusLine);
    keepRoomWhenHidden({txtChNum, labelChoice, cmdNextCh, txtErrMsg, txtGPIBErr});

    QWidget* order[] = {txtAddr,   cmdSet, lstFunction, txtChoice, cmdEnter, cmdRedo,
                        cmdNextCh, cmdSav, cmdLock,     cmdSRQ,    cmdNoSRQ, cmdDone};
    for (std::size_t k = 1; k < std::size(order); ++k) {
        setTabOrder(order[k - 1], order[k]);
    }
}

void frmConfig::connectControls() {
    const auto step = [this](QWidget* control, void (frmConfig::*handler)()) {
        return m_gate.step(control, [this, handler] { (this->*handler)(); });
    };
    connect(cmdSet, &QPushButton::clicked, this, step(cmdSet, &frmConfig::cmdSet_Click));
    connect(txtAddr, &QLineEdit::returnPressed, this, step(cmdSet, &frmConfig::cmdSet_Click));
    connect(cmdEnter, &QPushButton::clicked, this, step(cmdEnter, &frmConfig::cmdEnter_Click));
    connect(txtChoice, &QLineEdit::returnPressed, this, step(cmdEnter, &frmConfig::cmdEnter_Click));
    connect(lstFunction, &QListWidget::itemClicked, this, step(lstFunction, &frmConfig::lstFunction_Click));
    connect(lstFunction, &QListWidget::itemDoubleClicked, this,
            step(lstFunction, &frmConfig::lstFunction_DblClick));
    for (const auto& [button, handler] : {std::pair{cmdSav, &frmConfig::cmdSav_Click},
                                          {cmdLock, &frmConfig::cmdLock_Click},
                                          {cmdSRQ, &frmConfig::cmdSRQ_Click},
                                          {cmdNoSRQ, &frmConfig::cmdNoSRQ_Click},
                                          {cmdDone, &frmConfig::cmdDone_Click},
                                          {cmdRedo, &frmConfig::cmdRedo_Click},
                                          {cmdNextCh, &frmConfig::cmdNextCh_Click}}) {
        connect(button, &QPushButton::clicked, this, step(button, handler));
    }
}

void frmConfig::applyPhase(Phase phase) {
    // One row per phase, one character per column: '+' enables or shows, '-' disables or hides,
    // '.' leaves the control as the run had it. A phase changes only what it names, so that, for
    // instance, Redo leaves Don't Save SRE as the end of the list left it.
    struct Row {
        Phase phase;
        std::string_view enables; // txtAddr cmdSet cmdEnter cmdRedo cmdLock cmdSRQ cmdNoSRQ cmdSav cmdNextCh
        std::string_view shows;   // cmdNextCh labelChoice txtChNum
    };
    // clang-format off
    static constexpr std::array rows{
        Row{Phase::Created,          "........-", "-.."},
        Row{Phase::Loaded,           "++------.", ".--"},
        Row{Phase::AddressSet,       "..++.....", ".+."},
        Row{Phase::ChannelRunning,   "........-", "-.."},
        Row{Phase::MoreChannels,     "..-.....+", "+.."},
        Row{Phase::LastChannelDone,  "..-....+.", "..."},
        Row{Phase::ListDone,         ".--....+.", "..."},
        Row{Phase::ListDoneLockable, ".--.++++.", "..."},
        Row{Phase::Saved,            ".......-.", "..."},
        Row{Phase::Redone,           "++-.--.-.", "..."},
        Row{Phase::NextChannel,      "+++.----.", "..."},
    };
    // clang-format on
    QWidget* const enabled[] = {txtAddr, cmdSet,   cmdEnter, cmdRedo,  cmdLock,
                                cmdSRQ,  cmdNoSRQ, cmdSav,   cmdNextCh};
    QWidget* const shown[] = {cmdNextCh, labelChoice, txtChNum};
    const auto row =
        std::find_if(rows.begin(), rows.end(), [phase](const Row& r) { return r.phase == phase; });
    for (std::size_t k = 0; k < std::size(enabled); ++k) {
        if (row->enables[k] != '.') {
            enabled[k]->setEnabled(row->enables[k] == '+');
        }
    }
    for (std::size_t k = 0; k < std::size(shown); ++k) {
        if (row->shows[k] != '.') {
            shown[k]->setVisible(row->shows[k] == '+');
        }
    }
}

// The controls as a freshly created window has them; the run's values are not touched.
void frmConfig::resetControls() {
    lstFunction->clear();
    txtChoice->clear();
    txtChoice->setEnabled(true);
    txtGPIBErr->setText(QString());
    txtGPIBErr->setVisible(false);
    txtErrMsg->setText(QString());
    statusLine->clearGuidance();
    txtChNum->clear();
    applyPhase(Phase::Created);
    labelFunction->setVisible(true);
    lstFunction->setEnabled(true);
    m_closing = false;
}

} // namespace ktq::ui
