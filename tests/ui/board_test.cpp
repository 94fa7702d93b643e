// The board from any gpib.conf: the bus calls wait the program's 3 s.
#include "harness.h"

#include "sim/linuxgpib.h"
#include "ui/main/frmmain.h"

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
