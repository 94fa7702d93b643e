// NI-488.2's library over the simulated bench (ni4882.dll on Windows, libni4882.so on Linux), loaded
// from its file the way the program loads it: the bring-up and a whole 7174 run through it, the
// advice when it loads but finds no board, and on Linux the system loader finding it by NI's name.
#include "configrun.h"

#include "bus/adapter/adapterfinder.h"
#include "bus/board/driverloader.h"
#include "bus/driverbus.h"
#include "ui/dialogs/statusline.h"
#include "ui/main/frmmain.h"

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace ktq::test {
namespace {

/// The main window on the driver the loader returned for the simulated NI library, whose own bench
/// is built from GPIB_SIM_BENCH and writes its trace to a file. The notes bench only keeps what the
/// interaction and pause fakes note.
struct NiLibraryRun {
    // `load` returns the driver, once the library's bench is described in the environment.
    NiLibraryRun(const char* layout,
                 const std::function<std::unique_ptr<bus::GpibDriver>(std::ostream&)>& load)
        : environment(layout, tracePath()), driver(load(log)) {}

    struct Environment {
        Environment(const char* layout, const std::string& trace) {
            qputenv("GPIB_SIM_BENCH", layout);
            qputenv("GPIB_SIM_TRACE", QByteArray::fromStdString(trace));
        }
        ~Environment() {
            qunsetenv("GPIB_SIM_BENCH");
            qunsetenv("GPIB_SIM_TRACE");
        }
    };

    std::string tracePath() const {
        return QDir::toNativeSeparators(folder.filePath(QStringLiteral("trace.txt"))).toStdString();
    }
    // The driver calls the library passed to its bench, one a line.
    std::vector<std::string> trace() const {
        std::ifstream file(tracePath());
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    void choose(const QString& model) {
        auto* list = control<QListWidget>(window, "listUnit");
        list->setCurrentItem(list->findItems(model, Qt::MatchExactly).front());
    }
    // Configure; `inside` runs in the configuration window if it opens, which is then closed.
    void configure(const std::function<void(QDialog&)>& inside) {
        interaction.scripts.push_back([inside](QDialog& dialog) {
            inside(dialog);
            dialog.done(0);
        });
        control<QPushButton>(window, "cmdConfig")->click();
        interaction.scripts.clear();
    }
    int configRuns() const {
        return static_cast<int>(std::count(interaction.modals.begin(), interaction.modals.end(),
                                           QStringLiteral("Configuration Form")));
    }

    QTemporaryDir folder;
    Environment environment;
    std::ostringstream log;
    std::unique_ptr<bus::GpibDriver> driver;
    sim::SimBus notes;
    FakeInteraction interaction{notes};
    FakePauser pauser{notes};
    bus::Gpib32 gpib{*driver};
    bus::DriverBus messages{gpib};
    ui::SharedState state;
    ui::frmMain window{ui::Session{messages, state, interaction, pauser}};
};

std::unique_ptr<bus::GpibDriver> loadSimulatedNiLibrary(std::ostream& log) {
    const std::array<bus::DriverCandidate, 1> candidates{{{KTQ_SIM_NI4882_LIB, &bus::niGpibConstants()}}};
    return bus::loadFirstDriver(candidates, log);
}

// Sets the address and walks a 7174 to the end of its list, as the operator does.
QStringList walk7174(QDialog& config) {
    control<QLineEdit>(config, "txtAddr")->setText(QStringLiteral("5"));
    control<QPushButton>(config, "cmdSet")->click();
    for (int k = 0; k < 3; ++k) {
        control<QLineEdit>(config, "txtChoice")->clear();
        control<QPushButton>(config, "cmdEnter")->click();
    }
    QStringList lines;
    auto* list = control<QListWidget>(config, "lstFunction");
    for (int k = 0; k < list->count(); ++k) {
        lines << list->item(k)->text();
    }
    return lines;
}

// What the window shows after the same walk on the in-process bench, in linux-gpib's shapes.
QStringList linuxGpibWalk() {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    return walk7174(*run.window);
}

TEST(NiLibrary, A7174RunsThroughItFromBringUpToTheEndOfTheList) {
    NiLibraryRun run("5=7174", loadSimulatedNiLibrary);
    ASSERT_TRUE(run.log.str().ends_with(" (NI-488.2)\n")) << run.log.str();

    run.choose(QStringLiteral("7174"));
    QString proposed;
    QStringList lines;
    run.configure([&](QDialog& config) {
        proposed = control<QLineEdit>(config, "txtAddr")->text();
        lines = walk7174(config);
    });
    EXPECT_EQ(run.configRuns(), 1);
    EXPECT_TRUE(control<ui::MessageLine>(run.window, "txtGPIBErr")->isHidden());
    EXPECT_EQ(proposed, QStringLiteral(" 5")) << "the search found the unit through the library";
    EXPECT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines, linuxGpibWalk()) << "the same run as through linux-gpib's shapes";

    // NI's numbers reached the library unchanged: NLend 1 on every message, each transfer's count
    // whole, and no call failed.
    static const std::regex send(R"re(^Send\(0, 5, "(.*)", (\d+), (\w+)\) -> 0x[0-9A-Fa-f]{4} 0 (\d+)$)re");
    static const std::regex receive(R"re(^Receive\(0, 5, \d+, \d+\) "(.*)" -> 0x[0-9A-Fa-f]{4} 0 (\d+)$)re");
    int sends = 0;
    int receives = 0;
    for (const std::string& line : run.trace()) {
        std::smatch m;
        if (std::regex_match(line, m, send)) {
            ++sends;
            EXPECT_EQ(m[3].str(), "NLend") << "the bench reads NI's numbers: " << line;
            EXPECT_EQ(m[2].str(), std::to_string(m[1].length())) << line;
            EXPECT_EQ(m[4].str(), std::to_string(m[1].length() + 1)) << "the line feed NLend adds: " << line;
        } else if (std::regex_match(line, m, receive)) {
            ++receives;
            EXPECT_FALSE(m[1].str().empty()) << line;
            EXPECT_NE(m[2].str(), "0") << line;
        }
        std::smatch status;
        ASSERT_TRUE(std::regex_search(line, status, std::regex(R"re( -> 0x([0-9A-Fa-f]{4}) )re"))) << line;
        EXPECT_EQ(std::stoi(status[1].str(), nullptr, 16) & 0x8000, 0) << "a call failed: " << line;
    }
    EXPECT_GE(sends, 4);
    EXPECT_GE(receives, 2);
    EXPECT_EQ(trafficCalls(run.gpib.traffic()), traceCalls(run.trace())) << "what the program recorded";
}

// The library loads but the board is not there: the status line speaks of the board, not of a
// missing library.
TEST(NiLibrary, ABoardItCannotOpenIsAdvisedAsTheBoardNotTheLibrary) {
    // A bench layout that cannot be built gives a bench without a board.
    NiLibraryRun run("no board here", loadSimulatedNiLibrary);
    ASSERT_TRUE(run.log.str().ends_with(" (NI-488.2)\n")) << run.log.str();
    run.choose(QStringLiteral("7174"));
    run.configure([](QDialog&) {});

    EXPECT_EQ(run.configRuns(), 0);
    EXPECT_TRUE(control<ui::MessageLine>(run.window, "txtGPIBErr")->text().startsWith(u"ibfind error"));
    const QString advice = control<ui::StatusLine>(run.window, "statusLine")->text();
    EXPECT_TRUE(advice.contains(QLatin1String("could not open board GPIB0"))) << advice.toStdString();
    EXPECT_FALSE(advice.contains(QLatin1String("No GPIB driver library"))) << advice.toStdString();
}

// The main window opens saying what Configure will use, learnt without a call to the library; a
// named adapter that cannot be opened is said at Configure, where only standard error said it.
TEST(NiLibrary, TheStartSaysWhatConfigureWillUseAndCallsNothing) {
    const struct {
        const char* setting;
        bool library;
        const char* says;
        const char* afterConfigure;
    } cases[] = {
        {"", true, "Configure will open board GPIB0 through NI-488.2 (", nullptr},
        {"/nowhere/ttyKTQ", true,
         "Configure will use the GPIB adapter KTQ_GPIB_ADAPTER names, /nowhere/ttyKTQ,",
         "/nowhere/ttyKTQ (KTQ_GPIB_ADAPTER) cannot be opened: "},
        {"", false, "No GPIB driver library was found", nullptr},
    };
    for (const auto& c : cases) {
        NiLibraryRun run("5=7174", [&c](std::ostream& log) -> std::unique_ptr<bus::GpibDriver> {
            return std::make_unique<bus::AdapterFinder>(
                c.library ? loadSimulatedNiLibrary(log) : bus::makeUnavailableDriver(),
                bus::makeSystemLinkOpener(), bus::AdapterSearch{c.setting}, log);
        });
        auto* statusLine = control<ui::StatusLine>(run.window, "statusLine");
        EXPECT_TRUE(statusLine->text().startsWith(QLatin1String(c.says))) << statusLine->text().toStdString();
        EXPECT_TRUE(run.trace().empty());
        if (c.afterConfigure != nullptr) {
            run.choose(QStringLiteral("7174"));
            run.configure([](QDialog&) {});
            EXPECT_TRUE(statusLine->text().startsWith(QLatin1String(c.afterConfigure)))
                << statusLine->text().toStdString();
        }
    }
}

#ifndef _WIN32
// Run by ctest with the simulated library's folder on LD_LIBRARY_PATH, as NI's installer puts its
// own on the library path: the system loader finds NI-488.2 for Linux by the name NI gives it.
TEST(NiSystemLibrary, IsFoundByNisNameAndBringsTheBusUp) {
    if (void* linuxGpib = dlopen("libgpib.so.0", RTLD_NOW | RTLD_LOCAL)) {
        dlclose(linuxGpib);
        GTEST_SKIP() << "linux-gpib is installed here, and the loader rightly takes it first";
    }
    NiLibraryRun run("5=7174", [](std::ostream& log) { return bus::loadSystemDriver(log); });
    const std::string line = run.log.str();
    ASSERT_TRUE(line.starts_with("ktqconfig: GPIB driver: loaded ")) << line;
    EXPECT_NE(line.find("/libni4882.so (NI-488.2)\n"), std::string::npos) << line;

    run.choose(QStringLiteral("7174"));
    QString proposed;
    run.configure([&proposed](QDialog& config) { proposed = control<QLineEdit>(config, "txtAddr")->text(); });
    EXPECT_EQ(run.configRuns(), 1);
    EXPECT_EQ(proposed, QStringLiteral(" 5"));
}
#endif

} // namespace
} // namespace ktq::test
