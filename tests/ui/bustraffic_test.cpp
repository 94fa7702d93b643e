// The Bus Traffic window: opened from both windows, following a run, and what it gives out.
#include "configrun.h"

#include "ui/dialogs/bustraffic.h"
#include "ui/main/frmmain.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QtGui/private/qguiapplication_p.h>

#include <gtest/gtest.h>

namespace ktq::test {
namespace {

using bus::TrafficColumn;

QTableView* table(const QWidget& window) {
    return control<QTableView>(window, "tableCalls");
}
QString cell(const QWidget& window, int row, TrafficColumn column) {
    return table(window)->model()->index(row, static_cast<int>(column)).data().toString();
}
// The first row whose call begins with `call`; -1 where none does.
int rowOf(const QWidget& window, const char* call) {
    for (int row = 0; row < table(window)->model()->rowCount(); ++row)
        if (cell(window, row, TrafficColumn::Call).startsWith(QLatin1String(call)))
            return row;
    return -1;
}
void pressCtrlT(QWidget& window) {
    QApplication::setActiveWindow(&window);
    QTest::keyClick(window.focusWidget(), Qt::Key_T, Qt::ControlModifier);
}

// The working folder, the temporary one and home are one empty folder until destroyed.
struct FreshFolder {
    QTemporaryDir dir;
    QString work = QDir::currentPath();
    QByteArray temp = qgetenv("TMPDIR"), home = qgetenv("HOME");
    FreshFolder() {
        QDir::setCurrent(dir.path());
        qputenv("TMPDIR", dir.path().toLocal8Bit());
        qputenv("HOME", dir.path().toLocal8Bit());
    }
    ~FreshFolder() {
        QDir::setCurrent(work);
        qputenv("TMPDIR", temp);
        qputenv("HOME", home);
    }
};

// Ctrl+T from the model list, and again from the configuration window while it is modal: one
// window, usable during the run, listing its calls to the first function line, cell by cell to a
// screen reader. The whole run leaves no file anywhere the program might write one unasked.
TEST(BusTraffic, CtrlTFromEitherWindowShowsOneWindowListingTheRunAndNothingReachesTheDisk) {
    const FreshFolder folder;
    Bench bench;
    bench.sim.addUnit(5, "7174");
    ui::frmMain main(bench.session());
    main.show();
    pressCtrlT(main);
    auto* traffic = main.findChild<ui::BusTrafficWindow*>();
    ASSERT_NE(traffic, nullptr);
    EXPECT_EQ(traffic->windowTitle(), QStringLiteral("Bus Traffic"));
    bench.interaction.scripts.push_back([&](QDialog& config) {
        config.show(); // application-modal, as the program shows it
        EXPECT_FALSE(QGuiApplicationPrivate::instance()->isWindowBlocked(traffic->windowHandle()));
        traffic->close();
        control<QLineEdit>(config, "txtAddr")->setText(QStringLiteral("5"));
        control<QPushButton>(config, "cmdSet")->click();
        pressCtrlT(config);
        ASSERT_TRUE(traffic->isVisible());
        traffic->refresh();
        for (const char* call :
             {"ibfind(\"GPIB0\")", "FindLstn(", "DevClear(0, 5)", "Send(0, 5, \"", "Receive(0, 5"})
            EXPECT_GE(rowOf(*traffic, call), 0) << call;
        const int received = rowOf(*traffic, "Receive(0, 5");
        EXPECT_TRUE(cell(*traffic, received, TrafficColumn::Call).endsWith(QStringLiteral("\\n\"")));
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(table(*traffic));
        for (int column = 0; column < bus::trafficColumnCount; ++column)
            EXPECT_EQ(view->tableInterface()->cellAt(received, column)->text(QAccessible::Name),
                      cell(*traffic, received, static_cast<TrafficColumn>(column)));
        table(*traffic)->selectRow(received);
        auto* detail = control<QPlainTextEdit>(*traffic, "txtDetail");
        EXPECT_EQ(QAccessible::queryAccessibleInterface(detail)->text(QAccessible::Name),
                  QStringLiteral("Call detail"));
        EXPECT_TRUE(detail->toPlainText().contains(cell(*traffic, received, TrafficColumn::Call)));
        for (const char* button : {"cmdEnter", "cmdEnter", "cmdEnter", "cmdSav", "cmdDone"})
            control<QPushButton>(config, button)->click();
    });
    auto* models = control<QListWidget>(main, "listUnit");
    models->setCurrentItem(models->findItems(QStringLiteral("7174"), Qt::MatchExactly).front());
    control<QPushButton>(main, "cmdConfig")->click();
    EXPECT_EQ(main.findChildren<ui::BusTrafficWindow*>().size(), 1);
    traffic->refresh();
    EXPECT_EQ(QDir(folder.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

// Fields split at commas outside quotes, a doubled quote for one inside, rows ended by CR LF.
std::vector<QStringList> parseCsv(const QString& csv) {
    static const QRegularExpression field(QStringLiteral(R"re(("(?:[^"]|"")*"|[^,"\r\n]*)(,|\r\n))re"));
    std::vector<QStringList> rows(1);
    for (const QRegularExpressionMatch& match : field.globalMatch(csv)) {
        const QString text = match.captured(1);
        rows.back()
            << (text.startsWith(u'"')
                    ? text.mid(1, text.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""))
                    : text);
        if (match.captured(2) != u",")
            rows.emplace_back();
    }
    rows.pop_back(); // after the last row's end
    return rows;
}

// A unit that listens but never answers, and a call through an adapter with its dialogue, commas
// and quotes. The Receive failed and says so in bold, on a background of its own and to a screen
// reader; the Send before it did not. Copy gives the selected rows in the table's order; Save As
// gives every call as text or CSV by the name or the filter chosen, or says why it could not.
TEST(BusTraffic, AFailedCallStandsOutAndCopyAndSaveAsGiveTheCallsShown) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7174");
    run.bench.sim.silence(5, true);
    run.open(QStringLiteral("7174"));
    run.setAddress(QStringLiteral("5"));
    bus::CallRecord adapter;
    adapter.call = R"(Send(0, 5, "A,\"B\"", 5, 1))";
    adapter.dialogue = {"> ++addr 5", R"(> A,"B")", "< 82"};
    run.bench.gpib.traffic().add(adapter);
    const std::vector<bus::CallRecord> calls = run.bench.gpib.traffic().since(0);
    ui::BusTrafficWindow traffic(run.bench.gpib.traffic(), run.bench.interaction);
    traffic.refresh();
    QTableView* view = table(traffic);
    const int receive = rowOf(traffic, "Receive(0, 5"), last = view->model()->rowCount() - 1;
    ASSERT_GE(receive, 1);
    EXPECT_TRUE(cell(traffic, receive, TrafficColumn::Status).contains(QStringLiteral(" ERR TIMO")));
    EXPECT_EQ(cell(traffic, receive, TrafficColumn::Error), QStringLiteral("EABO"));
    QAccessibleTableInterface* cells = QAccessible::queryAccessibleInterface(view)->tableInterface();
    for (const auto& [row, failed] : {std::pair{receive, true}, {receive - 1, false}}) {
        const QModelIndex status = view->model()->index(row, static_cast<int>(TrafficColumn::Status));
        EXPECT_EQ(status.data(Qt::FontRole).value<QFont>().bold(), failed) << row;
        EXPECT_EQ(status.data(Qt::BackgroundRole).isValid(), failed) << row;
        EXPECT_EQ(cells->cellAt(row, status.column())->text(QAccessible::Name).startsWith(u"Failed"), failed);
    }

    for (const int row : {last, receive})
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QString selected = bus::trafficText({calls.at(static_cast<std::size_t>(receive)), calls.back()});
    control<QPushButton>(traffic, "cmdCopy")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), selected);

    const struct {
        const char* file;
        const char* filter;
        char wrote; // 't' text, 'c' CSV, 0 nothing
    } cases[] = {
        // clang-format off
        {"calls.txt", "CSV files (*.csv)", 't'}, {"calls.csv", "", 'c'}, {"calls", "CSV files (*.csv)", 'c'},
        {"calls", "", 't'}, {"", "", 0}, {"missing/calls.txt", "", 0},
        // clang-format on
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = c.file[0] ? dir.filePath(QString::fromLatin1(c.file)) : QString();
        run.bench.interaction.saveAnswers.push_back({path, QString::fromLatin1(c.filter)});
        const std::size_t boxes = run.bench.interaction.boxes.size();
        control<QPushButton>(traffic, "cmdSaveAs")->click();
        EXPECT_EQ(run.bench.interaction.boxes.size() - boxes, c.file[0] && !c.wrote ? 1u : 0u) << c.file;
        QFile saved(path);
        ASSERT_EQ(!path.isEmpty() && saved.open(QIODevice::ReadOnly), c.wrote != 0) << c.file;
        const QString text = c.wrote ? QString::fromUtf8(saved.readAll()) : QString();
        EXPECT_TRUE(c.wrote != 't' || text == bus::trafficText(calls)) << c.file;
        const std::vector<QStringList> rows = c.wrote == 'c' ? parseCsv(text) : std::vector<QStringList>();
        ASSERT_EQ(rows.size(), c.wrote == 'c' ? calls.size() + 1 : 0) << c.file;
        for (std::size_t k = 1; k < rows.size(); ++k) {
            QStringList cells;
            for (int column = 0; column < bus::trafficColumnCount; ++column)
                cells << bus::trafficCell(calls[k - 1], static_cast<TrafficColumn>(column));
            EXPECT_EQ(rows[k], cells << QString(k < calls.size() ? "" : "> ++addr 5\n> A,\"B\"\n< 82")) << k;
        }
    }
}

// Calls made directly into a log of 50: the view follows them unless scrolled up, where the same
// call stays on top as the oldest fall off; Pause holds it while the log goes on; Clear empties both.
TEST(BusTraffic, TheViewFollowsHoldsWhilePausedAndKeepsTheLogsCapacity) {
    bus::TrafficLog log(50);
    Bench bench;
    ui::BusTrafficWindow traffic(log, bench.interaction);
    traffic.resize(700, 400);
    traffic.show();
    QScrollBar* bar = table(traffic)->verticalScrollBar();
    const auto add = [&](int calls) {
        for (int k = 0; k < calls; ++k)
            log.add({});
        traffic.refresh();
    };
    const auto top = [&] { return cell(traffic, bar->value(), TrafficColumn::Number); };
    const auto note = [&] { return control<QLabel>(traffic, "labelNote")->text(); };
    add(30);
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(20);
    add(5);
    EXPECT_EQ(top(), QStringLiteral("21"));
    auto* pause = control<QPushButton>(traffic, "cmdPause");
    pause->click();
    add(30);
    EXPECT_EQ(table(traffic)->model()->rowCount(), 35);
    EXPECT_TRUE(note().contains(QStringLiteral("Paused: 30 calls"))) << note().toStdString();
    pause->click();
    EXPECT_EQ(table(traffic)->model()->rowCount(), 50);
    EXPECT_EQ(top(), QStringLiteral("21")) << "15 fell off the front";
    EXPECT_TRUE(note().contains(QStringLiteral("no longer kept: 15 "))) << note().toStdString();
    table(traffic)->scrollToBottom();
    add(3);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(cell(traffic, 49, TrafficColumn::Number), QStringLiteral("68"));
    control<QPushButton>(traffic, "cmdClear")->click();
    EXPECT_EQ(table(traffic)->model()->rowCount() + static_cast<int>(log.size()), 0);
    EXPECT_TRUE(control<QLabel>(traffic, "labelNote")->isHidden());
}

} // namespace
} // namespace ktq::test
