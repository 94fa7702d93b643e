// Bus bring-up on the main window: each of its five calls fails with each error code, and the
// board goes away between two runs.
#include "faultrun.h"

#include "sim/linuxgpib.h"

#include <gtest/gtest.h>

namespace ktq::test {
namespace {

// What linux-gpib counts for a board device it cannot use: the system's ENODEV.
constexpr long absentBoardCount = 19;
// With the board gone the status has no board state, only the END that linux-gpib keeps from the
// last message sent with EOI.
constexpr const char* keptEnd = "&HA000 <  ERR END  >";

struct BringUpCall {
    const char* function;
    const char* message;
};

void PrintTo(const BringUpCall& call, std::ostream* os) {
    *os << call.function;
}

const BringUpCall bringUpCalls[] = {
    {"ibfind", "ibfind error"}, {"ibask", "ibask error"}, {"SendIFC", "SendIFC error"},
    {"ibsre", "ibsre Error"},   {"ibtmo", "ibtmo Error"},
};

using BringUpCase = std::tuple<BringUpCall, DriverError>;

class BringUpFaults : public testing::TestWithParam<BringUpCase> {};

TEST_P(BringUpFaults, ReportsTheStepStopsThereAndConfigureWorksAgain) {
    const auto& [call, error] = GetParam();
    for (const char* model : {"7174", "7134A"}) {
        Bench bench;
        bench.sim.addUnit(5, "7174");
        MainRun main(bench.session(), bench.interaction);
        main.choose(QString::fromLatin1(model));
        bench.sim.failNext(call.function, error.iberr);
        main.configure();

        EXPECT_FALSE(main.message()->isHidden());
        EXPECT_EQ(main.message()->text(), expectedReport(QString::fromLatin1(call.message), error.iberr))
            << model;
        EXPECT_EQ(main.configRuns(), 0);
        EXPECT_FALSE(control<QPushButton>(main.window, "cmdContinue")->isEnabled()) << "no power-cycle step";
        const auto calls = bench.calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().rfind(std::string(call.function) + "(", 0), 0u)
            << "nothing after the failed step";

        // Retry: the whole bring-up runs again and goes through.
        main.configure();
        if (QString::fromLatin1(model) == QStringLiteral("7174")) {
            EXPECT_EQ(main.configRuns(), 1);
            EXPECT_TRUE(main.message()->isHidden());
        } else {
            EXPECT_EQ(main.message()->text(),
                      QStringLiteral("Turn unit off and back on\r\nPress Continue when RDY LED on."));
            EXPECT_TRUE(control<QPushButton>(main.window, "cmdContinue")->isEnabled());
        }
        EXPECT_TRUE(bench.sim.remoteEnabled());
        EXPECT_EQ(bench.sim.timeoutCode(), sim::lg::T3s);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, BringUpFaults,
                         testing::Combine(testing::ValuesIn(bringUpCalls), testing::ValuesIn(driverErrors())),
                         [](const testing::TestParamInfo<BringUpCase>& info) {
                             return std::string(std::get<0>(info.param).function) + "_" +
                                    std::get<1>(info.param).name;
                         });

// The board index's timeout is set last, after the descriptor's; failing, it is the timeout step
// that failed, and the configuration window stays shut.
TEST(BringUpFaults, TheBoardIndexTimeoutFailingIsReportedAsTheTimeoutStep) {
    for (const DriverError& error : driverErrors()) {
        Bench bench;
        bench.sim.addUnit(5, "7174");
        FaultInjector injector(*bench.driver, bench.sim);
        bus::Gpib32 gpib(injector);
        bus::DriverBus messages(gpib);
        MainRun main(bench.session(messages), bench.interaction);
        main.choose(QStringLiteral("7174"));
        injector.arm("ibtmo", 2, error.iberr);
        main.configure();
        ASSERT_TRUE(injector.fired());
        EXPECT_EQ(main.message()->text(), expectedReport(QStringLiteral("ibtmo Error"), error.iberr))
            << error.name;
        EXPECT_EQ(main.configRuns(), 0);
        EXPECT_EQ(bench.calls().back(), "ibtmo(0, 12)");
    }
}

TEST(BoardFaults, ABoardGoneBetweenTwoRunsIsReportedAtConfigureAndComingBackIsEnough) {
    Bench bench;
    bench.sim.addUnit(5, "7174");
    MainRun main(bench.session(), bench.interaction);
    main.choose(QStringLiteral("7174"));
    main.configure(keepAndSaveAt5);
    ASSERT_EQ(main.configRuns(), 1);
    ASSERT_EQ(bench.sim.unitAt(5)->saveCount(), 1);

    const std::string opened = std::to_string(bench.state.BoardDescriptor);
    bench.sim.setBoardPresent(false);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::size_t before = bench.sim.trace().size();
        main.configure();
        EXPECT_FALSE(main.message()->isHidden());
        EXPECT_EQ(main.message()->text(),
                  expectedReport(QStringLiteral("ibfind error"), sim::lg::EDVR, absentBoardCount));
        EXPECT_EQ(main.configRuns(), 1);
        // The descriptor of the run before is given back first, and only once.
        std::vector<std::string> calls{"ibfind(\"GPIB0\")"};
        if (attempt == 0) {
            calls.insert(calls.begin(), "ibonl(" + opened + ", 0)");
        }
        EXPECT_EQ(bench.calls(before), calls);
    }

    bench.sim.setBoardPresent(true);
    main.configure();
    EXPECT_EQ(main.configRuns(), 2);
    EXPECT_TRUE(main.message()->isHidden());
}

TEST(BoardFaults, ABoardGoneInTheMiddleOfAMenuLeavesEveryButtonWorking) {
    FaultRun run;
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    run.setAddress(QStringLiteral("5"));
    run.bench.sim.setBoardPresent(false);

    run.advance(1);
    EXPECT_EQ(run.box("txtGPIBErr")->text(),
              expectedReport(QStringLiteral("Receive Error"), sim::lg::EDVR, absentBoardCount, keptEnd));
    run.enter(QStringLiteral("7"));
    EXPECT_EQ(setting(run.lines().at(1)), QStringLiteral("No response"));
    run.advance(2);
    ASSERT_TRUE(run.button("cmdSav")->isEnabled());
    run.button("cmdSav")->click();
    EXPECT_EQ(run.box("txtGPIBErr")->text(),
              expectedReport(QStringLiteral("Send SAV Error"), sim::lg::EDVR, absentBoardCount, keptEnd));
    run.button("cmdNoSRQ")->click();
    EXPECT_EQ(run.box("txtGPIBErr")->text(),
              expectedReport(QStringLiteral("Send ESE Error"), sim::lg::EDVR, absentBoardCount, keptEnd));
    run.button("cmdRedo")->click();
    run.setAddress(QStringLiteral("5"));
    EXPECT_EQ(run.box("txtGPIBErr")->text(),
              expectedReport(QStringLiteral("DevClear Error"), sim::lg::EDVR, absentBoardCount, keptEnd));
    EXPECT_TRUE(run.lines().isEmpty());

    run.bench.sim.setBoardPresent(true);
    run.setAddress(QStringLiteral("5"));
    EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
    EXPECT_EQ(setting(run.lines().value(0)), QStringLiteral("5"));
    run.button("cmdDone")->click();
    run.button("cmdDone")->click();
    EXPECT_EQ(run.closed.count(), 1);
}

} // namespace
} // namespace ktq::test
