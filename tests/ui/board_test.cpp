// The board over a long day and from any gpib.conf: one descriptor at a time, and the 3 s timeout.
#include "harness.h"

#include "bus/busthread.h"
#include "bus/steps/steps.h"
#include "sim/linuxgpib.h"
#include "ui/main/frmmain.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace ktq::test {
namespace {

using namespace std::chrono_literals;

void choose(ui::frmMain& window, const char* model) {
    auto* list = control<QListWidget>(window, "listUnit");
    list->setCurrentItem(list->findItems(QString::fromLatin1(model), Qt::MatchExactly).front());
}

// Done twice: the first press only warns that nothing was saved.
void pressDone(QDialog& dialog) {
    for (int press = 0; press < 2; ++press) {
        control<QPushButton>(dialog, "cmdDone")->click();
    }
}

// Every Configure opens the board with ibfind, and linux-gpib has room for 4,080 descriptors. It
// hands out the lowest free one, so the same descriptor on every Configure means no other is open.
TEST(BoardDescriptor, FiveThousandConfigureAndDoneCyclesKeepOneDescriptorOpen) {
    constexpr int cycles = 5000;
    Bench bench;
    bench.sim.addUnit(5, "7174");
    auto window = std::make_unique<ui::frmMain>(bench.session());
    choose(*window, "7174");
    auto* configure = control<QPushButton>(*window, "cmdConfig");
    auto* message = control<ui::MessageLine>(*window, "txtGPIBErr");

    std::int16_t first = -1;
    int opened = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        bench.interaction.scripts.push_back([&opened](QDialog& dialog) {
            ++opened;
            pressDone(dialog);
        });
        configure->click();
        ASSERT_TRUE(message->isHidden()) << "cycle " << cycle << ": " << message->text().toStdString();
        ASSERT_EQ(opened, cycle + 1);
        if (cycle == 0) {
            first = bench.state.BoardDescriptor;
            ASSERT_NE(first, bench.state.BoardIndex);
        }
        ASSERT_EQ(bench.state.BoardDescriptor, first) << "cycle " << cycle;
        const auto calls = bench.calls();
        if (cycle > 0) {
            ASSERT_EQ(calls.at(0), "ibonl(" + std::to_string(first) + ", 0)") << "cycle " << cycle;
            ASSERT_EQ(calls.at(1), "ibfind(\"GPIB0\")") << "cycle " << cycle;
        }
        bench.sim.clearTrace();
        bench.interaction.boxes.clear();
        bench.interaction.modals.clear();
    }

    // The program's end gives the last one back.
    window.reset();
    ASSERT_EQ(bench.calls(), std::vector<std::string>{"ibonl(" + std::to_string(first) + ", 0)"});
    int value = -1;
    bench.driver->ibask(first, sim::lg::IbaPAD, &value);
    EXPECT_EQ(bench.driver->ThreadIbsta() & sim::lg::ERR, sim::lg::ERR) << "the descriptor is still open";
    EXPECT_EQ(bench.driver->ThreadIberr(), sim::lg::EARG);
}

// As the program ends: its event loop has returned, the bus thread is still there, and the main
// window goes, giving back what the last Configure opened.
TEST(BoardDescriptor, TheProgramsEndGivesTheLastOneBackOnTheBusThread) {
    Bench bench;
    bench.sim.addUnit(5, "7174");
    bus::BusThread busThread;
    bus::Gpib32 threaded(*bench.driver, busThread);
    bus::DriverBus messages(threaded);
    auto window = std::make_unique<ui::frmMain>(bench.session(messages));
    choose(*window, "7185B"); // stops after the bring-up, for the power cycle
    control<QPushButton>(*window, "cmdConfig")->click();
    bus::finishSteps();
    const std::string opened = std::to_string(bench.state.BoardDescriptor);
    ASSERT_EQ(bench.calls().front(), "ibfind(\"GPIB0\")");

    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    const std::size_t end = bench.sim.trace().size();
    window.reset();
    EXPECT_EQ(bench.calls(end), std::vector<std::string>{"ibonl(" + opened + ", 0)"});
    EXPECT_EQ(bench.sim.trace().back().find("-> 0x8"), std::string::npos) << bench.sim.trace().back();
}

struct BoardStart {
    const char* config; // in the emulated board's folder
    int timeoutCode;    // what the board's timeout is before the bring-up
    const char* name;
};

void PrintTo(const BoardStart& start, std::ostream* os) {
    *os << start.name;
}

class BoardTimeout : public testing::TestWithParam<BoardStart> {};

// linux-gpib keeps an ibtmo for the descriptor it was made on; Send and Receive on the board index
// wait as long as gpib.conf says for the board, unless the bring-up set the board index's too.
TEST_P(BoardTimeout, AQueryNobodyAnswersWaitsThreeSecondsWhateverGpibConfSays) {
    if (!Bench::onRealLibrary()) {
        GTEST_SKIP() << "gpib.conf is the real linux-gpib library's";
    }
    const BoardStart start = GetParam();
    setenv("IB_CONFIG", (std::string(KTQ_SIM_BOARD_DIR) + "/" + start.config).c_str(), 1);
    Bench bench;
    bench.sim.addUnit(5, "7174");
    std::vector<std::chrono::microseconds> waits;
    bench.sim.wire().setTimeoutWait(
        [&waits](std::chrono::microseconds timeout) { waits.push_back(timeout); });
    int before = -1;
    bench.driver->ibask(0, sim::lg::IbaTMO, &before);
    ASSERT_EQ(before, start.timeoutCode) << "linux-gpib reads gpib.conf once per process: run this test in a "
                                            "process of its own, as ctest does";

    ui::frmMain window(bench.session());
    choose(window, "7174");
    bench.interaction.scripts.push_back([&bench](QDialog& dialog) {
        bench.sim.silence(5, true);
        control<QLineEdit>(dialog, "txtAddr")->setText(QStringLiteral("5"));
        control<QPushButton>(dialog, "cmdSet")->click();
        pressDone(dialog);
    });
    control<QPushButton>(window, "cmdConfig")->click();
    ASSERT_EQ(bench.interaction.modals.size(), 1u);
    ASSERT_FALSE(waits.empty()) << "the silent unit was never asked";
    for (const auto waited : waits) {
        EXPECT_EQ(waited, std::chrono::microseconds(3s));
    }
}

INSTANTIATE_TEST_SUITE_P(GpibConf, BoardTimeout,
                         testing::Values(BoardStart{"gpib.conf", sim::lg::T10s, "T10s"},
                                         BoardStart{"gpib-TNONE.conf", sim::lg::TNONE, "TNONE"}),
                         [](const testing::TestParamInfo<BoardStart>& info) { return info.param.name; });

} // namespace
} // namespace ktq::test
