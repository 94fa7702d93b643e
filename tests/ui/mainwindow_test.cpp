// The main window: its model list, Configure, Exit and the version.
#include "harness.h"

#include "bus/gpibconstants.h"
#include "ui/config/frmconfig.h"
#include "ui/main/frmmain.h"

#include <QApplication>
#include <QFile>
#include <QFocusEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

namespace ktq::test {
namespace {

struct MainWindow {
    Bench bench;
    ui::frmMain window{bench.session()};

    QListWidget* list() { return control<QListWidget>(window, "listUnit"); }
    QPushButton* configure() { return control<QPushButton>(window, "cmdConfig"); }
    QPushButton* cont() { return control<QPushButton>(window, "cmdContinue"); }
    ui::MessageLine* message() { return control<ui::MessageLine>(window, "txtGPIBErr"); }
    void choose(const QString& model) {
        const auto items = list()->findItems(model, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1);
        list()->setCurrentItem(items.front());
    }
    // Configure on a model; the configuration window, when it opens, is closed again at once.
    void configureModel(const QString& model) {
        choose(model);
        bench.interaction.scripts.push_back([](QDialog& dialog) { dialog.done(0); });
        configure()->click();
    }
    int configRuns() const {
        return static_cast<int>(std::count(bench.interaction.modals.begin(), bench.interaction.modals.end(),
                                           QStringLiteral("Configuration Form")));
    }
};

TEST(MainWindowLoad, ShowsTitlesModelsAndTouchesNothing) {
    MainWindow m;
    EXPECT_EQ(m.window.windowTitle(), QStringLiteral("KTQ GPIB Configuration"));
    EXPECT_EQ(control<QLabel>(m.window, "labelTitle")->text(),
              QStringLiteral("WELCOME TO KTQ's GPIB CONFIGUATION PROGRAM"));
    EXPECT_EQ(control<QLabel>(m.window, "labelRev")->text(), QStringLiteral("Revised  01-25-2012"));
    EXPECT_EQ(control<QLineEdit>(m.window, "txtRev")->text(), QStringLiteral("Revised 01-25-2012"));
    ASSERT_EQ(m.list()->count(), 28);
    EXPECT_EQ(m.list()->item(0)->text(), QStringLiteral("7121"));
    EXPECT_EQ(m.list()->item(27)->text(), QStringLiteral("7199A"));
    EXPECT_TRUE(m.list()->selectedItems().isEmpty());
    EXPECT_FALSE(m.configure()->isEnabled());
    EXPECT_FALSE(m.cont()->isEnabled());
    EXPECT_TRUE(m.message()->isHidden());
    EXPECT_EQ(m.list()->toolTip(),
              QStringLiteral("Highlight the unit's model number and press the Configure button to start."));
    EXPECT_TRUE(m.bench.sim.trace().empty());
}

// A fault report asks for the program's version: pointing at the revision date shows it, and it is
// the release the desktop metainfo names, the one the package and the installer carry.
TEST(MainWindowLoad, TheRevisionDateOffersTheVersionOfTheRelease) {
    QFile metainfo(QStringLiteral(KTQ_METAINFO));
    ASSERT_TRUE(metainfo.open(QIODevice::ReadOnly));
    const QRegularExpressionMatch release =
        QRegularExpression(QStringLiteral("<release version=\"([^\"]+)\""))
            .match(QString::fromUtf8(metainfo.readAll()));
    ASSERT_TRUE(release.hasMatch());
    MainWindow m;
    for (const char* name : {"labelRev", "txtRev"}) {
        auto* revision = control<QWidget>(m.window, name);
        EXPECT_EQ(revision->toolTip(), QStringLiteral("ktqconfig version ") + release.captured(1)) << name;
        EXPECT_EQ(revision->accessibleDescription(), revision->toolTip()) << name;
    }
}

TEST(MainWindowLoad, FocusOnTheListDoesNotChooseARow) {
    MainWindow m;
    m.window.show();
    QApplication::setActiveWindow(&m.window);
    m.list()->setFocus();
    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(m.list(), &focusIn);
    EXPECT_FALSE(m.configure()->isEnabled());
    QTest::keyClick(m.list(), Qt::Key_Down);
    EXPECT_TRUE(m.configure()->isEnabled()) << "a row chosen with the keyboard counts as a click";
}

TEST(MainWindowLoad, TabOrderFollowsTheListThenTheButtons) {
    MainWindow m;
    EXPECT_EQ(tabOrder(m.window, m.list()),
              (QStringList{"listUnit", "cmdConfig", "txtGPIBErr", "cmdContinue", "cmdExit"}));
}

TEST(MainWindowConfigure, BringsUpTheBusInOrderAndOpensTheConfigurationWindow) {
    MainWindow m;
    m.choose(QStringLiteral("7134A"));
    EXPECT_TRUE(m.configure()->isEnabled());
    m.configureModel(QStringLiteral("7174"));
    const auto calls = m.bench.calls();
    ASSERT_GE(calls.size(), 6u);
    EXPECT_EQ(calls[0], "ibfind(\"GPIB0\")");
    // The board's own calls go to the descriptor ibfind handed out (never 0 with linux-gpib), the
    // bus calls to board index 0.
    const std::string descriptor = std::to_string(m.bench.state.BoardDescriptor);
    EXPECT_NE(descriptor, "0");
    EXPECT_EQ(calls[1].rfind("ibask(" + descriptor + ", 1)", 0), 0u);
    EXPECT_EQ(calls[2], "SendIFC(0)");
    EXPECT_EQ(calls[3], "ibsre(" + descriptor + ", 1)");
    EXPECT_EQ(calls[4], "ibtmo(" + descriptor + ", 12)");
    // The bus calls wait as long as the board index's own timeout says.
    EXPECT_EQ(calls[5], "ibtmo(0, 12)");
    EXPECT_EQ(m.bench.state.ModelNumber, 7174);
    EXPECT_EQ(m.bench.state.ModelText, QStringLiteral("7174"));
    EXPECT_EQ(m.configRuns(), 1);
    // Back from the configuration window: as before, Configure enabled, message hidden.
    EXPECT_TRUE(m.configure()->isEnabled());
    EXPECT_TRUE(m.message()->isHidden());
    EXPECT_EQ(m.list()->currentItem()->text(), QStringLiteral("7174"));
}

struct BringUpFailure {
    const char* function;
    const char* message;
    std::size_t callsMade;
};

class MainWindowBringUp : public testing::TestWithParam<BringUpFailure> {};

TEST_P(MainWindowBringUp, StopsAtTheFirstFailedStepWithItsReport) {
    const BringUpFailure f = GetParam();
    MainWindow m;
    m.bench.sim.failNext(f.function, bus::ni::ENEB);
    m.configureModel(QStringLiteral("7121"));
    const QString expected =
        QString::fromLatin1(f.message) +
        QStringLiteral(",  ibsta = &H8000 <  ERR  >, iberr =  7 ENEB <No GPIB board>, ibcnt =  0");
    EXPECT_EQ(m.message()->text(), expected);
    EXPECT_FALSE(m.message()->isHidden());
    EXPECT_EQ(m.bench.calls().size(), f.callsMade);
    EXPECT_EQ(m.configRuns(), 0);
    EXPECT_TRUE(m.configure()->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Steps, MainWindowBringUp,
                         testing::Values(BringUpFailure{"ibfind", "ibfind error", 1},
                                         BringUpFailure{"ibask", "ibask error", 2},
                                         BringUpFailure{"SendIFC", "SendIFC error", 3},
                                         BringUpFailure{"ibsre", "ibsre Error", 4},
                                         BringUpFailure{"ibtmo", "ibtmo Error", 5}));

TEST(MainWindowConfigure, WithoutADriverLibraryShowsTheIbfindReport) {
    MainWindow m;
    const auto unavailable = bus::makeUnavailableDriver();
    bus::Gpib32 gpib(*unavailable);
    bus::DriverBus messages(gpib);
    ui::frmMain window(m.bench.session(messages));
    const auto items =
        control<QListWidget>(window, "listUnit")->findItems(QStringLiteral("7121"), Qt::MatchExactly);
    control<QListWidget>(window, "listUnit")->setCurrentItem(items.front());
    control<QPushButton>(window, "cmdConfig")->click();
    EXPECT_EQ(control<ui::MessageLine>(window, "txtGPIBErr")->text(),
              QStringLiteral(
                  "ibfind error,  ibsta = &H8000 <  ERR  >, iberr =  0 EDVR <Op System Error>, ibcnt =  0"));
    EXPECT_EQ(m.configRuns(), 0);
}

TEST(MainWindowConfigure, RefusesANumberOutsideTheFamily) {
    MainWindow m;
    m.window.cmdConfig_Click(); // nothing selected
    EXPECT_EQ(m.message()->text(), QStringLiteral("Model numberwrong, reselect model number"));
    EXPECT_FALSE(m.message()->isHidden());
    EXPECT_TRUE(m.bench.sim.trace().empty());
}

TEST(MainWindowConfigure, PowerCycleModelsWaitForContinue) {
    for (const char* model : {"7134A", "7134B", "7181A", "7181B", "7185A", "7185B", "7187"}) {
        MainWindow m;
        m.configureModel(QString::fromLatin1(model));
        EXPECT_EQ(m.message()->text(),
                  QStringLiteral("Turn unit off and back on\r\nPress Continue when RDY LED on."))
            << model;
        EXPECT_TRUE(m.cont()->isEnabled());
        EXPECT_EQ(m.configRuns(), 0);
        EXPECT_EQ(m.bench.calls().size(), 6u);

        m.bench.interaction.scripts.push_back([](QDialog& dialog) { dialog.done(0); });
        m.cont()->click();
        EXPECT_EQ(m.configRuns(), 1);
        EXPECT_FALSE(m.cont()->isEnabled());
        EXPECT_TRUE(m.message()->isHidden());
        EXPECT_EQ(m.bench.state.ModelText, QString::fromLatin1(model));
        EXPECT_EQ(m.bench.calls().size() > 6, true) << "the configuration window searches the bus";
    }
}

TEST(MainWindowConfigure, ContinueStaysForTheLastModelConfigured) {
    MainWindow m;
    m.configureModel(QStringLiteral("7185B"));
    m.configureModel(QStringLiteral("7121"));
    EXPECT_EQ(m.configRuns(), 1);
    EXPECT_TRUE(m.cont()->isEnabled());
    m.bench.interaction.scripts.push_back([](QDialog& dialog) { dialog.done(0); });
    m.cont()->click();
    EXPECT_EQ(m.configRuns(), 2);
    EXPECT_EQ(m.bench.state.ModelText, QStringLiteral("7121"));
    EXPECT_EQ(m.bench.state.ModelNumber, 7121);
}

TEST(MainWindowConfigure, DoubleClickAndReturnStartAConfiguration) {
    MainWindow m;
    m.choose(QStringLiteral("7147"));
    m.bench.interaction.scripts.push_back([](QDialog& dialog) { dialog.done(0); });
    m.window.listUnit_DblClick();
    EXPECT_EQ(m.configRuns(), 1);

    m.bench.interaction.scripts.push_back([](QDialog& dialog) { dialog.done(0); });
    m.window.show();
    QTest::keyClick(m.list(), Qt::Key_Return);
    EXPECT_EQ(m.configRuns(), 2);
}

TEST(MainWindowExit, ClosesAtOnceEvenWithAMessageShown) {
    MainWindow m;
    m.window.show();
    m.window.cmdConfig_Click();
    control<QPushButton>(m.window, "cmdExit")->click();
    EXPECT_FALSE(m.window.isVisible());
}

} // namespace
} // namespace ktq::test
