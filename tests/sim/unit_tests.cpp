// The simulated units' rules: queries, settings, status and saving.
#include "simdriver.h"

#include <gtest/gtest.h>

namespace ktq::sim::test {
namespace {

constexpr const char* addressHeader = "SYST:COMM:GPIB:ADDR";

class UnitRules : public ::testing::Test {
protected:
    SimBus bench;
    ScopedBench installed{bench};
    Driver driver = Driver::inProcess();
};

TEST_F(UnitRules, QueryAnswersTheValueWithLineFeedAndEoi) {
    bench.addUnit(5, "7174");
    EXPECT_EQ(driver.ask(5, "SYST:COMM:GPIB:ADDR?"), "5\n");
    EXPECT_EQ(driver.ThreadIbsta() & lg::END, lg::END);
    EXPECT_EQ(driver.ask(5, "syst:comm:gpib:addr?"), "5\n");
    EXPECT_EQ(driver.esr(5), 0);
}

TEST_F(UnitRules, NewAddressMovesTheUnitAfterTheCommand) {
    SimUnit& unit = bench.addUnit(5, "7174");
    driver.send(5, "SYST:COMM:GPIB:ADDR 7");
    EXPECT_EQ(unit.primary(), 7);
    EXPECT_EQ(bench.unitAt(7), &unit);
    driver.send(5, "*ESR?");
    EXPECT_EQ(driver.ThreadIberr(), lg::ENOL);
    EXPECT_EQ(driver.esr(7), 0);
    EXPECT_EQ(driver.ask(7, "SYST:COMM:GPIB:ADDR?"), "7\n");
}

TEST_F(UnitRules, Address31KeepsTheAddressAndReportsThirtyTwoMore) {
    SimUnit& unit = bench.addUnit(5, "7174");
    driver.send(5, "SYST:COMM:GPIB:ADDR 31");
    EXPECT_EQ(driver.esr(5), 0);
    EXPECT_EQ(unit.primary(), 5);
    EXPECT_EQ(driver.ask(5, "SYST:COMM:GPIB:ADDR?"), "37\n");
    driver.send(5, "SYST:COMM:GPIB:ADDR 6");
    EXPECT_EQ(driver.ask(6, "SYST:COMM:GPIB:ADDR?"), "6\n");
}

TEST_F(UnitRules, EventStatusTellsBadValueFromUnknownHeaderAndClears) {
    SimUnit& unit = bench.addUnit(5, "7174");
    struct Case {
        const char* message;
        int esr;
    };
    const Case cases[] = {
        {"SYST:COMM:GPIB:ADDR 32", SimUnit::ExecutionError},
        {"SYST:COMM:GPIB:ADDR -1", SimUnit::ExecutionError},
        {"SYST:COMM:GPIB:ADDR 5.5", SimUnit::ExecutionError},
        {"SYST:COMM:GPIB:ADDR five", SimUnit::ExecutionError},
        {"*ESE 256", SimUnit::ExecutionError},
        {"SYST:COMM:GPIB:ADDR    ", SimUnit::CommandError},
        {"SYST:COMM:GPIB:ADRS 5", SimUnit::CommandError},
        {"CONF:INP:POL?", SimUnit::CommandError},
        {"SYST:COMM:GPIB:ADDR? 5", SimUnit::CommandError},
        {"*CLS 1", SimUnit::CommandError},
        {"*SAV 1", SimUnit::ExecutionError},
        {"SYST:COMM:GPIB:ADDR 05", 0},
        {"*ESE 255", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        driver.send(5, c.message);
        EXPECT_EQ(unit.esr(), c.esr);
        EXPECT_EQ(driver.esr(5), c.esr);
        EXPECT_EQ(unit.esr(), 0) << "*ESR? clears the register";
    }
    EXPECT_EQ(unit.primary(), 5);

    driver.send(5, "NO:SUCH 1");
    driver.send(5, "*ESE 300");
    EXPECT_EQ(unit.esr(), SimUnit::CommandError | SimUnit::ExecutionError);
    driver.send(5, "*CLS");
    EXPECT_EQ(driver.esr(5), 0);
}

TEST_F(UnitRules, LockRefusesSettingsUntilUnlocked) {
    SimUnit& unit = bench.addUnit(5, "7174");
    driver.send(5, "CAL:LOCK ON");
    EXPECT_TRUE(unit.locked());
    driver.send(5, "SYST:COMM:GPIB:ADDR 8");
    EXPECT_EQ(driver.esr(5), SimUnit::ExecutionError);
    EXPECT_EQ(unit.primary(), 5);
    driver.send(5, "*ESE 4"); // status masks are not settings the lock guards
    EXPECT_EQ(unit.ese(), 4);
    driver.send(5, "CAL:LOCK 0");
    driver.send(5, "SYST:COMM:GPIB:ADDR 8");
    EXPECT_EQ(driver.esr(8), 0);
    EXPECT_FALSE(unit.locked());
}

TEST_F(UnitRules, PowerCycleReturnsToSavedSettingsAndHonoursPsc) {
    struct Case {
        const char* psc;
        int eseAfter;
    };
    for (const Case c : {Case{"*PSC 0", 12}, Case{"*PSC 1", 0}, Case{nullptr, 0}}) {
        SCOPED_TRACE(c.psc ? c.psc : "no *PSC");
        SimBus local;
        ScopedBench scoped(local);
        SimUnit& unit = local.addUnit(5, "7174");
        driver.send(5, "SYST:COMM:GPIB:ADDR 31");
        driver.send(5, "CAL:LOCK ON");
        driver.send(5, "*SAV 0");
        driver.send(5, "CAL:LOCK 0");
        driver.send(5, "SYST:COMM:GPIB:ADDR 9");
        driver.send(9, "*ESE 12");
        driver.send(9, "*SRE 3");
        if (c.psc)
            driver.send(9, c.psc);
        driver.send(9, "CAL:LOCK ON");
        driver.send(9, "BAD");
        EXPECT_EQ(unit.savedValue(addressHeader), "37");

        unit.powerCycle();
        EXPECT_EQ(unit.primary(), 5);
        EXPECT_EQ(unit.value(addressHeader), "37");
        EXPECT_TRUE(unit.locked());
        EXPECT_EQ(unit.esr(), 0);
        EXPECT_EQ(unit.ese(), c.eseAfter);
        EXPECT_EQ(driver.ask(5, "*SRE?"), c.eseAfter ? "3\n" : "0\n");
    }
}

TEST_F(UnitRules, PowerCycleWithoutSaveRestoresDeliveryState) {
    SimUnit& unit = bench.addUnit(5, "7174");
    driver.send(5, "SYST:COMM:GPIB:ADDR 10");
    unit.powerCycle();
    EXPECT_EQ(bench.unitAt(5), &unit);
    EXPECT_EQ(unit.saveCount(), 0);
}

} // namespace
} // namespace ktq::sim::test
