// The program on an emulated "++" adapter reached as it would reach a real one: the system's
// serial port and TCP links, the finder, the main window and a whole configuration run.
#include "harness.h"

#include "bus/adapter/adapterdriver.h"
#include "bus/adapter/adapterfinder.h"
#include "bus/busthread.h"
#include "bus/driverbases.h"
#include "bus/steps/steps.h"
#include "ui/dialogs/statusline.h"
#include "ui/main/frmmain.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

namespace ktq::test {
namespace {

using sim::adapter::AdapterCore;
using sim::adapter::AdapterProfile;

struct LinkCase {
    const char* name;
    const AdapterProfile& (*profile)();
    bool tcp;
    const char* adapterName;
};

void PrintTo(const LinkCase& c, std::ostream* os) {
    *os << c.name;
}

// Qt's warnings while a test runs: the operator would see them on standard error.
class QtWarnings {
public:
    QtWarnings() {
        s_warnings.clear();
        m_previous = qInstallMessageHandler(&QtWarnings::handle);
    }
    ~QtWarnings() { qInstallMessageHandler(m_previous); }
    static std::vector<std::string> take() { return std::exchange(s_warnings, {}); }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg && type != QtInfoMsg) {
            s_warnings.push_back(message.toStdString());
        }
    }
    static inline std::vector<std::string> s_warnings;
    QtMessageHandler m_previous = nullptr;
};

class AdapterRun : public testing::TestWithParam<LinkCase> {};

// The 7174 at 5 gets its address set and saved through the adapter named by KTQ_GPIB_ADAPTER,
// from the bus thread as in the program; the main window says which adapter it used, nothing is
// warned of on standard error, and the adapter's memory is never written.
TEST_P(AdapterRun, A7174IsConfiguredThroughTheWindowsOverTheLink) {
    const LinkCase c = GetParam();
    QtWarnings warnings;
    Bench bench;
    bench.sim.addUnit(5, "7174");
    AdapterCore core(bench.sim, c.profile());
    ServedCore adapter(core, c.tcp);
    {
        std::ostringstream log;
        bus::AdapterFinder finder(std::make_unique<bus::FailingDriver>(), bus::makeSystemLinkOpener(),
                                  bus::AdapterSearch{adapter.where(), true}, log);
        bus::BusThread busThread;
        bus::Gpib32 gpib(finder, busThread);
        bus::DriverBus messages(gpib);
        ui::frmMain window(bench.session(messages));
        auto* list = control<QListWidget>(window, "listUnit");
        list->setCurrentItem(list->findItems(QStringLiteral("7174"), Qt::MatchExactly).front());
        int runs = 0;
        bench.interaction.scripts.push_back([&runs](QDialog& config) {
            ++runs;
            keepAndSaveAt5(config);
        });
        control<QPushButton>(window, "cmdConfig")->click();
        bus::finishSteps();

        const QString expected = QString::fromLatin1(c.adapterName) + QStringLiteral(" on ") +
                                 QString::fromStdString(adapter.where());
        EXPECT_TRUE(control<ui::MessageLine>(window, "txtGPIBErr")->isHidden())
            << control<ui::MessageLine>(window, "txtGPIBErr")->text().toStdString();
        EXPECT_EQ(runs, 1);
        EXPECT_EQ(control<ui::StatusLine>(window, "statusLine")->text().toStdString(),
                  expected.toStdString());
        EXPECT_EQ(log.str(), "ktqconfig: GPIB adapter: " + expected.toStdString() + "\n");
        // The adapter takes lines in order on its own thread: once it has answered the "++ver" of
        // a later ibfind, everything sent before is on the bus.
        gpib.GpibFind(QStringLiteral("GPIB0"));
        ASSERT_FALSE(gpib.status().failed());
    }
    adapter.stop();
    ASSERT_NE(bench.sim.unitAt(5), nullptr);
    EXPECT_EQ(bench.sim.unitAt(5)->saveCount(), 1);
    EXPECT_EQ(QtWarnings::take(), std::vector<std::string>{}) << "the links opened on the bus thread";
    EXPECT_EQ(core.savedWrites(), 0);
    // A Prologix is told first, at each Configure, not to save; an AR488 in controller mode gets
    // no such command.
    const std::vector<std::string> told = core.settingsCommands();
    EXPECT_EQ(told, std::vector<std::string>(c.profile().ar488 ? 0 : told.size(), "++savecfg 0"));
    EXPECT_EQ(told.empty(), c.profile().ar488);
}

INSTANTIATE_TEST_SUITE_P(
    Links, AdapterRun,
    testing::Values(LinkCase{"PrologixOverPty", &sim::adapter::prologixProfile, false,
                             "Prologix GPIB-USB 6.107"},
                    LinkCase{"PrologixEthernetOverTcp", &sim::adapter::prologixEthernetProfile, true,
                             "Prologix GPIB-ETHERNET 01.06.06.00"},
                    LinkCase{"Ar488OverPty", &sim::adapter::ar488Profile, false, "AR488 0.53.04"},
                    LinkCase{"Ar488OldOverPty", &sim::adapter::ar488OldProfile, false, "AR488 0.51.09"}),
    [](const testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.name); });

// The connection to a network adapter lost between two runs (its cable pulled and put back): the
// next Configure's ibfind finds the link gone, connects again and goes on.
TEST(AdapterLinkLost, TheNextIbfindConnectsAgain) {
    Bench bench;
    bench.sim.addUnit(5, "7174");
    AdapterCore core(bench.sim, sim::adapter::prologixEthernetProfile());
    ServedCore adapter(core, true);
    std::ostringstream log;
    bus::AdapterFinder finder(std::make_unique<bus::FailingDriver>(), bus::makeSystemLinkOpener(),
                              bus::AdapterSearch{adapter.where(), true}, log);
    bus::Gpib32 gpib(finder);
    std::int16_t descriptor = -1;
    gpib.GpibFind(QStringLiteral("GPIB0"), &descriptor);
    ASSERT_FALSE(gpib.status().failed());

    adapter.dropConnection();
    descriptor = -1;
    gpib.GpibFind(QStringLiteral("GPIB0"), &descriptor);
    EXPECT_FALSE(gpib.status().failed()) << gpib.iberr();
    EXPECT_EQ(descriptor, 0);
    const std::string line =
        "ktqconfig: GPIB adapter: Prologix GPIB-ETHERNET 01.06.06.00 on " + adapter.where() + "\n";
    EXPECT_EQ(log.str(), line + line);
    gpib.GpibSendIFC(0);
    EXPECT_FALSE(gpib.status().failed());
}

} // namespace
} // namespace ktq::test
