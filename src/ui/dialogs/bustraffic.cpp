// The Bus Traffic window: every driver call the program made, as it made them.
#include "bustraffic.h"

#include "describe.h"
#include "interaction.h"
#include "trafficmodel.h"

#include "bus/traffic.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <utility>

namespace ktq::ui {

namespace {

using bus::TrafficColumn;

const QString textFilter = QStringLiteral("Text files (*.txt)");
const QString csvFilter = QStringLiteral("CSV files (*.csv)");

QString callCount(std::uint64_t count) {
    return count == 1 ? QStringLiteral("1 call") : QString::number(count) + QStringLiteral(" calls");
}

// The name's own extension decides; without one of ours, the filter chosen does.
bool wantsCsv(const QString& fileName, const QString& filter) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"csv" || suffix == u"txt")
        return suffix == u"csv";
    return filter == csvFilter;
}

// Each column but the call as wide as its longest text usually is, in characters.
constexpr std::array<int, bus::trafficColumnCount> columnChars{7, 13, 0, 30, 6, 7, 10};

} // namespace

BusTrafficWindow::BusTrafficWindow(bus::TrafficLog& log, Interaction& interaction, QWidget* parent)
    : QWidget(parent, Qt::Window), m_log(log), m_interaction(interaction) {
    setWindowTitle(QStringLiteral("Bus Traffic"));
    setObjectName(QStringLiteral("BusTraffic"));
    m_poll.setInterval(pollInterval);
    buildControls();
    arrangeControls();
    connectControls();
    showNote();
}

BusTrafficWindow::~BusTrafficWindow() = default;

void BusTrafficWindow::buildControls() {
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_model = new TrafficModel(m_log.capacity(), this);
    m_table = new QTableView(this);
    describe(m_table, "tableCalls", QStringLiteral("Bus calls"),
             QStringLiteral("Every driver call, the latest last; select one to see all of it below"));
    m_table->setModel(m_model);
    m_table->setFont(fixed);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setVerticalScrollMode(QAbstractItemView::ScrollPerItem); // refresh() counts in rows
    m_table->setTabKeyNavigation(false);                              // Tab goes on to the buttons
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(QFontMetrics(fixed).height() + 4);
    QHeaderView* header = m_table->horizontalHeader();
    const int digit = QFontMetrics(fixed).horizontalAdvance(u'0');
    for (int column = 0; column < bus::trafficColumnCount; ++column)
        header->resizeSection(column, columnChars.at(static_cast<std::size_t>(column)) * digit + 12);
    header->setSectionResizeMode(static_cast<int>(TrafficColumn::Call), QHeaderView::Stretch);
    header->setMinimumSectionSize(digit * 4);

    m_detail = new QPlainTextEdit(this);
    describe(m_detail, "txtDetail", QStringLiteral("Call detail"),
             QStringLiteral("The whole of the selected call: its data and the adapter's dialogue"));
    m_detail->setReadOnly(true);
    m_detail->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    m_detail->setTabChangesFocus(true);
    m_detail->setFont(fixed);
    m_detail->setFixedHeight(QFontMetrics(fixed).lineSpacing() * 9 + 2 * m_detail->frameWidth() + 8);

    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("labelNote"));
    m_copy = makeButton("cmdCopy", QStringLiteral("&Copy"), QStringLiteral("Copy"));
    m_copyAll = makeButton("cmdCopyAll", QStringLiteral("Copy &All"), QStringLiteral("Copy All"));
    m_clear = makeButton("cmdClear", QStringLiteral("C&lear"), QStringLiteral("Clear"));
    m_pause = makeButton("cmdPause", QStringLiteral("&Pause"), QStringLiteral("Pause"));
    m_pause->setCheckable(true);
    m_saveAs = makeButton("cmdSaveAs", QStringLiteral("&Save As..."), QStringLiteral("Save As"));
    m_close = makeButton("cmdClose", QStringLiteral("Cl&ose"), QStringLiteral("Close"));
    m_copy->setEnabled(false);
}

QPushButton* BusTrafficWindow::makeButton(const char* name, const QString& text, const QString& caption) {
    auto* button = new QPushButton(text, this);
    describe(button, name, caption);
    button->setAutoDefault(false);
    return button;
}

void BusTrafficWindow::arrangeControls() {
    auto* callsLabel = new QLabel(QStringLiteral("&Bus calls:"), this);
    callsLabel->setBuddy(m_table);
    auto* detailLabel = new QLabel(QStringLiteral("De&tail of the selected call:"), this);
    detailLabel->setBuddy(m_detail);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_copy, m_copyAll, m_clear, m_pause, m_saveAs})
        buttons->addWidget(button);
    buttons->addStretch(1);
    buttons->addWidget(m_close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(callsLabel);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_note);
    layout->addWidget(detailLabel);
    layout->addWidget(m_detail);
    layout->addLayout(buttons);

    QWidget* order[] = {m_table, m_detail, m_copy, m_copyAll, m_clear, m_pause, m_saveAs, m_close};
    for (std::size_t k = 1; k < std::size(order); ++k)
        setTabOrder(order[k - 1], order[k]);
    resize(QFontMetrics(m_table->font()).horizontalAdvance(QString(120, u'0')), 480);
}

void BusTrafficWindow::connectControls() {
    connect(&m_poll, &QTimer::timeout, this, &BusTrafficWindow::refresh);
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { showDetail(current); });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { m_copy->setEnabled(m_table->selectionModel()->hasSelection()); });
    // A reset leaves nothing selected without saying so.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        m_detail->clear();
        m_copy->setEnabled(false);
    });
    // The table's own Ctrl+C would copy one cell: here it copies the rows, as Copy does.
    auto* copyKey = new QAction(m_table);
    copyKey->setShortcut(QKeySequence::Copy);
    copyKey->setShortcutContext(Qt::WidgetShortcut);
    m_table->addAction(copyKey);
    connect(copyKey, &QAction::triggered, this, &BusTrafficWindow::copySelected);
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this, &QWidget::close);

    connect(m_copy, &QPushButton::clicked, this, &BusTrafficWindow::copySelected);
    connect(m_copyAll, &QPushButton::clicked, this, &BusTrafficWindow::copyAll);
    connect(m_clear, &QPushButton::clicked, this, &BusTrafficWindow::clear);
    connect(m_saveAs, &QPushButton::clicked, this, &BusTrafficWindow::saveAs);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    connect(m_pause, &QPushButton::toggled, this, [this] { refresh(); });
}

void BusTrafficWindow::refresh() {
    if (!m_pause->isChecked()) {
        std::vector<bus::CallRecord> calls = m_log.since(m_lastNumber);
        if (!calls.empty()) {
            m_lastNumber = calls.back().number;
            QScrollBar* bar = m_table->verticalScrollBar();
            const int top = bar->value();
            const bool following = top >= bar->maximum();
            const std::size_t removed = m_model->append(std::move(calls));
            // The operator who scrolled up to read keeps the same calls in view.
            if (following)
                m_table->scrollToBottom();
            else
                bar->setValue(std::max(0, top - static_cast<int>(removed)));
        }
    }
    showNote();
}

void BusTrafficWindow::showNote() {
    QStringList parts;
    if (const std::uint64_t dropped = m_log.dropped(); dropped > 0)
        parts << QStringLiteral("Earlier calls no longer kept: %1 (the latest %2 are).")
                     .arg(dropped)
                     .arg(m_log.capacity());
    if (m_pause->isChecked())
        parts << QStringLiteral("Paused: %1 not shown yet.").arg(callCount(m_log.latest() - m_lastNumber));
    m_note->setText(parts.join(u' '));
    m_note->setVisible(!parts.isEmpty());
}

void BusTrafficWindow::showDetail(const QModelIndex& current) {
    QString text = current.isValid() ? bus::trafficDetail(m_model->record(current.row())) : QString();
    if (text.endsWith(u'\n'))
        text.chop(1); // a last empty line would cost the box a line of room
    m_detail->setPlainText(text);
}

std::vector<bus::CallRecord> BusTrafficWindow::selectedRecords() const {
    QList<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        rows << index.row();
    return m_model->records(rows);
}

void BusTrafficWindow::copySelected() {
    const std::vector<bus::CallRecord> calls = selectedRecords();
    if (!calls.empty())
        QGuiApplication::clipboard()->setText(bus::trafficText(calls));
}

void BusTrafficWindow::copyAll() {
    QGuiApplication::clipboard()->setText(bus::trafficText(m_model->records()));
}

void BusTrafficWindow::clear() {
    m_log.clear();
    m_model->clear();
    showNote();
}

// What the window shows is saved, paused or not: the same calls Copy All would give.
void BusTrafficWindow::saveAs() {
    QString filter = textFilter;
    const QString fileName = m_interaction.saveFileName(
        this, QStringLiteral("Save Bus Traffic"), textFilter + QStringLiteral(";;") + csvFilter, &filter);
    if (fileName.isEmpty())
        return;
    const std::vector<bus::CallRecord> calls = m_model->records();
    const QString text = wantsCsv(fileName, filter) ? bus::trafficCsv(calls) : bus::trafficText(calls);
    if (QString error; !write(fileName, text.toUtf8(), error))
        m_interaction.messageBox(this, QStringLiteral("Save As"),
                                 QStringLiteral("The bus traffic was not saved to %1: %2")
                                     .arg(QDir::toNativeSeparators(fileName), error));
}

// Written whole or not at all, byte for byte: no text mode, which would double the CSV's
// carriage returns on Windows.
bool BusTrafficWindow::write(const QString& fileName, const QByteArray& bytes, QString& error) const {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

void BusTrafficWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    m_poll.start();
}

void BusTrafficWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_poll.stop();
}

} // namespace ktq::ui
