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
