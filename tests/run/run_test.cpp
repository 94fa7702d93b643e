// A configuration run without a window, on the simulated bench: what it makes of the unit's
// answers, and a board that is gone.
#include "run/configurationrun.h"
#include "run/pauser.h"

#include "bus/board/driverloader.h"
#include "bus/driverbases.h"
#include "models/catalogue.h"
#include "sim/simbus.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace ktq::run {
namespace {

struct NoPause final : Pauser {
    void pause(std::chrono::milliseconds) override {}
};

/// A 7174 at address 5 on the bench, its run at the bus address function.
struct BenchRun {
    explicit BenchRun(bool unit = true) {
        if (unit)
            sim.addUnit(5, "7174");
        state.Routine = models::dispatch(7174, QStringLiteral("7174"));
        state.PrimaryAddress = state.DeviceAddress = 5;
        run.startList();
    }
    sim::SimBus sim;
    sim::ScopedBench scope{sim};
    std::string missing;
    std::unique_ptr<bus::GpibDriver> driver =
        bus::makeResolvedDriver(&sim::resolveSymbol, bus::linuxGpibConstants(), missing);
    bus::Gpib32 gpib{*driver};
    SharedState state;
    NoPause pauser;
    ConfigurationRun run{gpib, state, pauser, {}};
};

// What the unit said to a value decides the line, whether Done must warn, and where the
// program talks next.
TEST(ConfigurationRun, TheUnitsVerdictDecidesTheLineTheSaveAndTheAddress) {
    const struct {
        bool unit;
        const char* value; // for the bus address, function 1
        const char* shown;
        bool refused;
        bool saved; // after a save, before the value
        int address;
    } cases[] = {
        {true, "7", "7\n", false, false, 7},
        {true, "999", "Error - retry\n", true, true, 5},
        {true, "31", "5/31\n", false, false, 5}, // the switches' address: the program stays
        {false, "7", "No response\n", false, true, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        BenchRun b(c.unit);
        b.run.setSaved(true);
        const SettingVerdict verdict = b.run.setFunction(QString::fromLatin1(c.value));
        EXPECT_EQ(verdict.shown, QString::fromLatin1(c.shown));
        EXPECT_EQ(verdict.refused, c.refused);
        EXPECT_EQ(b.run.saved(), c.saved);
        EXPECT_EQ(b.state.DeviceAddress, c.address);
    }
}

// A 7174 asked as a 7121: the address answers, the 7121's own query does not, and the run says so.
TEST(ConfigurationRun, AUnitThatIsNotTheModelChosenIsToldAtTheSecondQuery) {
    BenchRun b;
    b.state.Routine = models::dispatch(7121, QStringLiteral("7121"));
    const FunctionReading first = b.run.readFunction();
    EXPECT_FALSE(first.failure);
    EXPECT_EQ(first.setting, QStringLiteral("5\n"));
    ASSERT_TRUE(b.run.nextFunction());
    const FunctionReading second = b.run.readFunction();
    ASSERT_TRUE(second.failure);
    EXPECT_TRUE(second.silentUnit);
}

/// Counts the calls that reach the driver.
struct Counted final : bus::ForwardingDriver {
    using ForwardingDriver::ForwardingDriver;
    void beforeCall(const char*) override { ++calls; }
    int calls = 0;
};

// Once linux-gpib says the board is gone, nothing more is sent, and each step hears of it.
TEST(ConfigurationRun, NothingGoesToABoardThatIsGoneUntilItIsTriedAgain) {
    bus::FailingDriver gone(bus::linuxGpibConstants().family, bus::ni::EDVR, ENODEV);
    Counted driver(gone);
    bus::Gpib32 gpib(driver);
    SharedState state;
    NoPause pauser;
    std::vector<BusStep> told;
    ConfigurationRun run(gpib, state, pauser, [&](BusStep step) { told.push_back(step); });
    run.sendText(QStringLiteral("*CLS"), BusStep::ClearUnit);
    run.sendText(QStringLiteral("*SAV 0"), BusStep::Store);
    EXPECT_EQ(driver.calls, 1);
    EXPECT_EQ(told, (std::vector<BusStep>{BusStep::ClearUnit, BusStep::Store}));
    run.tryBoardAgain();
    run.sendText(QStringLiteral("*CLS"));
    EXPECT_EQ(driver.calls, 2);
}

} // namespace
} // namespace ktq::run
