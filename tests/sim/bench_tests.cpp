// Bench layouts and timing read from the environment.
#include "sim/simbus.h"

#include <gtest/gtest.h>

namespace ktq::sim {
namespace {

TEST(BenchLayout, PlacesEachListedModelAtItsAddress) {
    const auto bench = SimBus::fromBenchLayout(" 5=7174; 9 = 7189 ;12=7181B;");
    ASSERT_EQ(bench->units().size(), 3u);
    EXPECT_EQ(bench->unitAt(5)->model(), "7174");
    EXPECT_EQ(bench->unitAt(9)->model(), "7189");
    EXPECT_EQ(bench->unitAt(12)->model(), "7181B");
    EXPECT_EQ(bench->unitAt(6), nullptr);
}

TEST(BenchLayout, BlankLayoutGivesTheDemoUnitAtFive) {
    for (const char* layout : {"", "  "}) {
        const auto bench = SimBus::fromBenchLayout(layout);
        ASSERT_EQ(bench->units().size(), 1u);
        ASSERT_NE(bench->unitAt(5), nullptr);
        EXPECT_EQ(bench->unitAt(5)->model(), "demo");
    }
}

TEST(BenchLayout, RefusesWhatItCannotBuild) {
    for (const char* layout : {"5", "=7174", "31=7174", "-1=7174", "x=7174", "5.5=7174", "5=9999",
                               "5=", "5=7174;5=7179", "5=7174;6"}) {
        SCOPED_TRACE(layout);
        EXPECT_THROW(SimBus::fromBenchLayout(layout), std::invalid_argument);
    }
}

TEST(BenchLayout, NamesTheBadEntry) {
    try {
        SimBus::fromBenchLayout("5=7174;7=7000");
        FAIL() << "no exception";
    } catch (const std::invalid_argument& error) {
        EXPECT_NE(std::string(error.what()).find("7=7000"), std::string::npos) << error.what();
    }
}

TEST(BenchLayout, AddUnitRefusesATakenAddress) {
    SimBus bench;
    bench.addUnit(5, "7174");
    EXPECT_THROW(bench.addUnit(5, "7179"), std::invalid_argument);
    EXPECT_THROW(bench.addUnit(31, "7179"), std::invalid_argument);
    bench.removeUnit(5);
    EXPECT_EQ(bench.addUnit(5, "7179").model(), "7179");
}

} // namespace
} // namespace ktq::sim

namespace ktq::sim {
namespace {

class RecordingSleeper final : public Sleeper {
public:
    void sleep(std::chrono::milliseconds duration) override { slept.push_back(duration.count()); }
    std::vector<long> slept;
};

// GPIB_SIM_TIMING=real: each transfer takes its few milliseconds (GPIB_SIM_DELAY_MS sets how
// many, with or without it) and a unit that does not answer holds the Receive for the timeout
// last set with ibtmo. Without either nothing takes time.
TEST(BenchTiming, TransfersAndSilentUnitsTakeTheTimeTheSettingsGive) {
    struct Case {
        const char* mode;
        const char* delayMs;
        std::vector<long> slept;
    };
    for (const Case& c : {Case{nullptr, nullptr, {}}, Case{"real", nullptr, {3, 3, 3000, 1000}},
                          Case{"real", "10", {10, 10, 3000, 1000}}, Case{"fast", "7", {7, 7}}}) {
        SimBus bench;
        bench.addUnit(5, "7174");
        RecordingSleeper sleeper;
        bench.setSleeper(&sleeper);
        bench.setTiming(Timing::fromSettings(c.mode, c.delayMs));
        char reply[18] = {};
        bench.ibtmo(0, lg::T3s);
        bench.Send(0, 5, "*ESE?", 5, lg::NLend);
        bench.Receive(0, 5, reply, sizeof reply, 0);
        bench.Receive(0, 5, reply, sizeof reply, 0); // nothing left to say
        bench.ibtmo(0, lg::T3s - 1);                 // 1 s
        bench.silence(5, true);
        bench.Receive(0, 5, reply, sizeof reply, 0);
        EXPECT_EQ(bench.lastStatus().iberr, lg::EABO);
        EXPECT_EQ(sleeper.slept, c.slept) << (c.mode ? c.mode : "-") << " " << (c.delayMs ? c.delayMs : "-");
    }
}

} // namespace
} // namespace ktq::sim
