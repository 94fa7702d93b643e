// The traffic the program records over whole runs: the same calls as the bench's own trace, and
// through an adapter the same lines as the adapter heard.
#include "configrun.h"

#include "bus/calltext.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace ktq::test {
namespace {

// A 7174 brought up, walked to the end of its list, saved and left, as an operator does.
void saveAndLeave(FinishedRun& run) {
    run.button("cmdSav")->click();
    EXPECT_TRUE(run.leavesAtOnce());
}

// Over the drop-in library and, with the linux-gpib prefix, the real library on the emulated
// board: what the program recorded is what reached the driver, call for call.
TEST(Traffic, EqualsTheBenchTraceCallForCallOverAWhole7174Run) {
    FinishedRun run;
    saveAndLeave(run);
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
    bool replySeen = false;
    for (const bus::CallRecord& record : run.bench.gpib.traffic().since(0)) {
        if (record.call.starts_with("Send(") || record.call.starts_with("Receive(") ||
            record.call.starts_with("DevClear(")) {
            EXPECT_FALSE(record.dialogue.empty()) << record.call;
        }
        for (const std::string& line : record.dialogue) {
            if (line.starts_with("> "))
                sent.push_back(line);
            // The 7174's answer to its first query, a number, comes back under the Receive.
            replySeen = replySeen || (record.call.starts_with("Receive(") && line.starts_with("< ") &&
                                      line.size() > 2 && std::isdigit(static_cast<unsigned char>(line[2])));
        }
    }
    EXPECT_TRUE(replySeen);
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

} // namespace
} // namespace ktq::test
