// A configuration run without a window, on the simulated bench: what it makes of the unit's
// answers, and a board that is gone.
#include "run/bringup.h"
#include "run/configurationrun.h"
#include "run/pauser.h"

#include "bus/board/driverloader.h"
#include "bus/driverbases.h"
#include "bus/driverbus.h"
#include "bus/gpib32.h"
#include "models/catalogue.h"
#include "sim/simbus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
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
    bus::DriverBus messages{gpib};
    SharedState state;
    NoPause pauser;
    ConfigurationRun run{messages, state, pauser, {}};
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
    bus::DriverBus messages(gpib);
    SharedState state;
    NoPause pauser;
    std::vector<BusStep> told;
    ConfigurationRun run(messages, state, pauser,
                         [&](BusStep step, const bus::StatusSnapshot&) { told.push_back(step); });
    run.sendText(QStringLiteral("*CLS"), BusStep::ClearUnit);
    run.sendText(QStringLiteral("*SAV 0"), BusStep::Store);
    EXPECT_EQ(driver.calls, 1);
    EXPECT_EQ(told, (std::vector<BusStep>{BusStep::ClearUnit, BusStep::Store}));
    run.tryBoardAgain();
    run.sendText(QStringLiteral("*CLS"));
    EXPECT_EQ(driver.calls, 2);
}

// Each end-of-run button sends its commands, all of them whatever the first did, and only a save
// that went out tells Done that the unit's memory holds the settings.
TEST(ConfigurationRun, EndOfRunButtonsSendTheirCommandsAndOnlyASaveThatWentOutCounts) {
    const struct {
        StoreAction action;
        std::vector<std::string> sent;
        bool savedWithUnit;
    } cases[] = {
        {StoreAction::SaveSettings, {"\"*SAV 0\""}, true},
        {StoreAction::LockSettings, {"\"CAL:LOCK ON\"", "\"*SAV 0\""}, false},
        {StoreAction::KeepStatusEnables, {"\"*PSC 0\""}, false},
        {StoreAction::ClearStatusEnables, {"\"*PSC 1\""}, false},
    };
    for (const auto& c : cases) {
        for (const bool unit : {true, false}) {
            SCOPED_TRACE(c.sent.front() + (unit ? " to a unit" : " to nobody"));
            BenchRun b(unit);
            const StoreOutcome outcome = b.run.store(c.action);
            std::vector<std::string> sent;
            for (const std::string& line : b.sim.trace()) {
                if (line.rfind("Send(", 0) == 0)
                    sent.push_back(line.substr(line.find('"'), line.rfind('"') - line.find('"') + 1));
            }
            EXPECT_EQ(sent, c.sent);
            EXPECT_EQ(outcome.failure.has_value(), !unit);
            EXPECT_EQ(outcome.last.failed(), !unit);
            EXPECT_EQ(b.run.saved(), unit && c.savedWithUnit);
        }
    }
}

// The search reports what it found and its status; a driver fault finds nobody, not the last run's unit.
TEST(ConfigurationRun, TheSearchFindsTheUnitsAndAFaultFindsNobody) {
    BenchRun b;
    b.sim.addUnit(9, "7121");
    const ListenerSearch found = b.run.findListeners();
    EXPECT_EQ(found.count, 2);
    EXPECT_EQ(found.addresses, (std::vector<std::int16_t>{5, 9}));
    EXPECT_FALSE(found.status.failed());

    bus::FailingDriver broken({}, bus::ni::EDVR, 1);
    bus::Gpib32 gpib(broken);
    bus::DriverBus messages(gpib);
    ConfigurationRun run(messages, b.state, b.pauser, {});
    const ListenerSearch none = run.findListeners();
    EXPECT_EQ(none.count, 0);
    EXPECT_TRUE(none.addresses.empty());
    EXPECT_EQ(none.status.iberr, bus::ni::EDVR);
}

// The bring-up stops at the first call that fails and names it; the next gives the board's
// descriptor back first.
TEST(BoardBringUp, StopsAtTheFirstCallThatFailsAndNamesIt) {
    const struct {
        const char* failing; // on the bench, with EDVR
        const char* message; // empty: none fails
        BusStep step;
        std::size_t calls;
    } cases[] = {
        {"ibfind", "ibfind error", BusStep::FindBoard, 1},
        {"ibask", "ibask error", BusStep::SetUpBoard, 2},
        {"SendIFC", "SendIFC error", BusStep::SetUpBoard, 3},
        {"ibsre", "ibsre Error", BusStep::SetUpBoard, 4},
        {"ibtmo", "ibtmo Error", BusStep::SetUpBoard, 5},
        {"", "", BusStep::SetUpBoard, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        BenchRun b;
        if (*c.failing != '\0')
            b.sim.failNext(c.failing, bus::ni::EDVR);
        BoardBringUp bringUp(b.messages, b.state);
        const std::optional<BringUpFailure> failure = bringUp.bringUp();
        EXPECT_EQ(failure ? failure->message : QString(), QString::fromLatin1(c.message));
        if (failure) {
            EXPECT_EQ(failure->step, c.step);
            EXPECT_TRUE(failure->status.failed());
        }
        ASSERT_EQ(b.sim.trace().size(), c.calls);
        bringUp.bringUp();
        ASSERT_GT(b.sim.trace().size(), c.calls);
        EXPECT_EQ(b.sim.trace()[c.calls].rfind("ibonl(", 0) == 0, c.calls > 1) << b.sim.trace()[c.calls];
    }
}

} // namespace
} // namespace ktq::run
