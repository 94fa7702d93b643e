// Units that misbehave on the bench in the middle of a run: one goes quiet and comes back, one is
// switched off and on, one moves to another address, two answer at the same address.
#include "faultrun.h"

#include "sim/linuxgpib.h"

#include <gtest/gtest.h>

namespace ktq::test {
namespace {

const QString blankSetting = QString(17, u' ');

// How many settings ("HEADER value") the unit at 5 was sent: one per value the operator typed.
int settingsSent(const Bench& bench, std::size_t from) {
    int count = 0;
    for (const std::string& line : bench.wire(from)) {
        if (line.rfind("> ", 0) == 0 && line.find('?') == std::string::npos &&
            line.find(' ', 2) != std::string::npos && line != "> CAL:LOCK 0" && line != "> CAL:LOCK ON" &&
            line != "> *SAV 0") {
            ++count;
        }
    }
    return count;
}

TEST(UnitFaults, AUnitThatFallsSilentMidMenuIsReportedAndTheMenuGoesOnWhenItIsBack) {
    FaultRun run;
    run.bench.sim.addUnit(5, "7121");
    run.open(QStringLiteral("7121"));
    run.setAddress(QStringLiteral("5"));
    run.advance(4);
    const std::size_t start = run.mark();

    run.bench.sim.silence(5, true);
    run.advance(1);
    EXPECT_EQ(run.box("txtGPIBErr")->text(),
              expectedReport(QStringLiteral("Receive Error"), sim::lg::EABO, 0, unansweredReceive));
    EXPECT_EQ(setting(run.lines().at(5)), blankSetting);
    run.enter(QStringLiteral("1"));
    EXPECT_EQ(setting(run.lines().at(5)), QStringLiteral("No response"));
    EXPECT_TRUE(run.box("txtGPIBErr")->isHidden()) << "the status read is not checked";
    run.advance(1);
    EXPECT_FALSE(run.box("txtGPIBErr")->isHidden());

    run.bench.sim.silence(5, false);
    run.enter(QStringLiteral("1"));
    EXPECT_EQ(setting(run.lines().at(6)), QStringLiteral("1"));
    run.advance(1);
    EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
    EXPECT_EQ(run.lines().size(), 8);
    EXPECT_EQ(settingsSent(run.bench, start), 2) << "each value typed went out once";
    for (int address : deviceAddresses(run.bench, start)) {
        EXPECT_EQ(address, 5);
    }
    run.advance(14);
    EXPECT_TRUE(run.button("cmdSav")->isEnabled());
}

TEST(UnitFaults, AUnitSwitchedOffAndOnMidMenuIsReportedAndRestartedFromTheAddress) {
    FaultRun run;
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    run.setAddress(QStringLiteral("5"));
    run.enter(QStringLiteral("5"));

    run.bench.sim.removeUnit(5);
    run.advance(1);
    EXPECT_EQ(run.box("txtGPIBErr")->text(),
              expectedReport(QStringLiteral("Receive Error"), sim::lg::EABO, 0, unansweredReceive));
    run.enter(QStringLiteral("9"));
    EXPECT_EQ(setting(run.lines().at(1)), QStringLiteral("No response"));

    run.bench.sim.addUnit(5, "7174");
    run.button("cmdRedo")->click();
    run.setAddress(QStringLiteral("5"));
    EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
    run.advance(1);
    run.enter(QStringLiteral("9"));
    EXPECT_EQ(setting(run.lines().at(1)), QStringLiteral("9"));
    EXPECT_EQ(run.bench.sim.unitAt(5)->value("*ESE"), "9");
}

TEST(UnitFaults, AUnitMovedBehindTheProgramsBackIsFoundAgainAtItsNewAddress) {
    FaultRun run;
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    run.setAddress(QStringLiteral("5"));
    // Someone sets address 9 at the unit's front panel.
    run.bench.sim.unitAt(5)->setValue("SYST:COMM:GPIB:ADDR", "9");
    ASSERT_NE(run.bench.sim.unitAt(9), nullptr);

    run.advance(1);
    EXPECT_EQ(run.box("txtGPIBErr")->text(),
              expectedReport(QStringLiteral("Receive Error"), sim::lg::EABO, 0, unansweredReceive));
    run.button("cmdRedo")->click();
    run.setAddress(QStringLiteral("5")); // the clear goes out to nobody; the first query shows it
    EXPECT_EQ(run.box("txtGPIBErr")->text(),
              expectedReport(QStringLiteral("Receive Error"), sim::lg::EABO, 0, unansweredReceive));
    EXPECT_EQ(run.lines().size(), 1);

    run.setAddress(QStringLiteral("9"));
    EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
    EXPECT_EQ(setting(run.lines().value(0)), QStringLiteral("9"));
    const std::size_t start = run.mark();
    run.advance(2);
    for (int address : deviceAddresses(run.bench, start)) {
        EXPECT_EQ(address, 9);
    }
}

TEST(UnitFaults, TwoUnitsAtOneAddressGarbleTheRepliesButNothingStrayGoesOut) {
    FaultRun run;
    run.bench.sim.addUnit(5, "7174");
    // The bench keeps one unit per address ...
    EXPECT_THROW(run.bench.sim.addUnit(5, "7179"), std::invalid_argument);
    run.open(QStringLiteral("7174"));
    // ... so the second unit shows as replies of its own: it answers every query as well, and
    // when both talk at once the bytes of the two are mixed.
    run.bench.sim.queueReply(5, "5\n");
    run.bench.sim.queueReply(5, "5\n");
    run.bench.sim.queueReply(5, "0\x85\n");
    run.bench.sim.queueReply(5, "16\n");
    const std::size_t start = run.mark();
    run.setAddress(QStringLiteral("5"));
    run.advance(1);
    run.enter(QStringLiteral("7"));
    run.enter(QStringLiteral("7"));
    run.advance(2);
    ASSERT_TRUE(run.button("cmdSav")->isEnabled());
    run.button("cmdSav")->click();
    EXPECT_EQ(run.lines().size(), 3);
    EXPECT_EQ(settingsSent(run.bench, start), 2);
    for (int address : deviceAddresses(run.bench, start)) {
        EXPECT_EQ(address, 5);
    }
    const auto& heard = run.bench.sim.unitAt(5)->messages();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "*SAV 0"), 1);
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "*ESE 7"), 2);
    EXPECT_EQ(run.bench.sim.unitAt(5)->value("*ESE"), "7");
}

} // namespace
} // namespace ktq::test
