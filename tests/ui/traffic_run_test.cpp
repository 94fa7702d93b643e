// The traffic the program records over whole runs: the same calls as the bench's own trace, and
// through an adapter the same lines as the adapter heard.
#include "configrun.h"

#include "bus/calltext.h"
#include "ui/dialogs/bustraffic.h"
#include "ui/main/frmmain.h"

#include <QApplication>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace ktq::test {
namespace {

// Over the drop-in library and, with the linux-gpib prefix, the real library on the emulated
// board: what the program recorded is what reached the driver, call for call.
TEST(Traffic, EqualsTheBenchTraceCallForCallOverAWhole7174Run) {
    FinishedRun run;
    run.button("cmdSav")->click();
    EXPECT_TRUE(run.leavesAtOnce());
    const std::vector<std::string> recorded = trafficCalls(run.bench.gpib.traffic());
    ASSERT_GE(recorded.size(), 10u);
    EXPECT_EQ(recorded, traceCalls(run.bench.sim.trace()));
    EXPECT_TRUE(recorded.back().starts_with("Send(0, 5, \"*SAV 0\", 6, NLend)")) << recorded.back();
}

class AdapterTraffic : public testing::TestWithParam<AdapterSide> {};

// Every call through an adapter carries the lines it took, and together they are the lines the
// adapter heard, in order.
TEST_P(AdapterTraffic, EachCallCarriesTheDialogueItTook) {
    ConfigRun run(GetParam());
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    run.setAddress(QStringLiteral("5"));
    run.advance(3);

    std::vector<std::string> sent;
    for (const bus::CallRecord& record : run.bench.gpib.traffic().since(0)) {
        // What the unit answered comes back under the Receive that asked for it.
        EXPECT_TRUE(!record.call.starts_with("Receive(") ||
                    (!record.dialogue.empty() && record.dialogue.back().starts_with("< ")))
            << record.call;
        for (const std::string& line : record.dialogue)
            if (line.starts_with("> "))
                sent.push_back(line);
    }
    std::vector<std::string> heard;
    for (const std::string& line : run.bench.adapter->dialogue())
        if (line.starts_with("> "))
            heard.push_back(line);
    // The identification before the run went through no wrapper, so the adapter heard it alone.
    ASSERT_GE(heard.size(), sent.size());
    EXPECT_EQ(std::vector<std::string>(heard.end() - static_cast<std::ptrdiff_t>(sent.size()), heard.end()),
              sent);
}

INSTANTIATE_TEST_SUITE_P(Sides, AdapterTraffic,
                         testing::ValuesIn(adapterSides().begin(), adapterSides().begin() + 2),
                         [](const auto& info) { return std::string(info.param.name); });

// Resident memory of this process in KiB, as the kernel counts it.
long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * 4;
}

// Configure and Done again and again with the Bus Traffic window open: the log keeps its last
// 10,000 calls, the window no more rows than that, and memory stays where it was once the ring
// is full. KTQ_SOAK_CYCLES sets the cycles (scripts/soak gives 5000); the memory is judged only
// then, where nothing else of the test suite shares the process.
TEST(TrafficSoak, ConfigureAndDoneCyclesKeepTheRingAndTheMemory) {
    const char* setting = std::getenv("KTQ_SOAK_CYCLES");
    const int cycles = setting != nullptr ? std::atoi(setting) : 1600;
    Bench bench;
    ui::frmMain window(bench.session());
    window.show();
    auto* list = control<QListWidget>(window, "listUnit");
    list->setCurrentItem(list->findItems(QStringLiteral("7174"), Qt::MatchExactly).front());
    QApplication::setActiveWindow(&window);
    QTest::keyClick(list, Qt::Key_T, Qt::ControlModifier);
    auto* traffic = window.findChild<ui::BusTrafficWindow*>();
    ASSERT_NE(traffic, nullptr);
    bench.sim.addUnit(5, "7174");
    long fullAt = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        bench.interaction.scripts.push_back([](QDialog& config) {
            control<QPushButton>(config, "cmdDone")->click();
            config.done(0);
        });
        control<QPushButton>(window, "cmdConfig")->click();
        bench.sim.clearTrace(); // the bench's own record is not what is measured
        bench.interaction.boxes.clear();
        bench.interaction.modals.clear();
        traffic->refresh();
        QCoreApplication::processEvents(); // as the program's event loop does between presses
        if (fullAt == 0 && bench.gpib.traffic().dropped() > 0)
            fullAt = residentKiB();
    }
    const bus::TrafficLog& log = bench.gpib.traffic();
    EXPECT_EQ(log.size(), log.capacity());
    EXPECT_GT(log.dropped(), 0u);
    EXPECT_EQ(control<QTableView>(*traffic, "tableCalls")->model()->rowCount(),
              static_cast<int>(log.capacity()));
    if (setting != nullptr) {
        const long end = residentKiB();
        std::printf("soak: %d cycles, %llu calls, %zu kept, resident %ld KiB when full, %ld KiB at the end\n",
                    cycles, static_cast<unsigned long long>(log.latest()), log.size(), fullAt, end);
        EXPECT_LT(end - fullAt, 4096) << "memory grew once the ring was full";
    }
}

} // namespace
} // namespace ktq::test
