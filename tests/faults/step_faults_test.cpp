// Every driver call of the configuration window fails in turn, with every error code: the step
// reports what it checks, carries on where it does not, and the operator can still retry, go back
// to the address and leave.
#include "faultrun.h"

#include "models/routines.h"

#include "sim/linuxgpib.h"

#include <gtest/gtest.h>

#include <functional>

namespace ktq::test {
namespace {

const QString esePrompt = QStringLiteral("ESR Enable Bits - 0 to 255");
const QString blankSetting = QString(17, u' ');

struct StepFault {
    const char* name;
    const char* model;
    const char* function; // the driver call that fails
    int nth;              // which of its calls within the action, from 1
    std::function<void(FaultRun&)> reach;
    std::function<void(FaultRun&)> act;
    // The report's message; nullptr when the step goes on without one.
    const char* report = nullptr;
    // The report names the read that came after the failed call, which timed out.
    bool reportsFollowingTimeout = false;
    // Discovery treats only a system error as a failure.
    bool onlySystemErrorReported = false;
    std::function<void(FaultRun&)> then = [](FaultRun&) {};
};

void PrintTo(const StepFault& step, std::ostream* os) {
    *os << step.name;
}

// Set Address on the unit at 5; the four-channel 7170 is told channel 2.
void startMenu(FaultRun& run) {
    if (run.bench.state.ModelNumber == 7170) {
        run.bench.interaction.scripts.push_back(answerChannel(QStringLiteral("2")));
    }
    run.setAddress(QStringLiteral("5"));
}

std::function<void(FaultRun&)> openAndStart(int advances = 0) {
    return [advances](FaultRun& run) {
        startMenu(run);
        run.advance(advances);
    };
}

void click(FaultRun& run, const char* name) {
    run.button(name)->click();
}

sim::SimUnit& unit(FaultRun& run) {
    return *run.bench.sim.unitAt(5);
}

// The setting that went wrong is typed again and taken.
void eseRetried(FaultRun& run) {
    run.enter(QStringLiteral("7"));
    EXPECT_EQ(setting(run.lines().at(1)), QStringLiteral("7"));
    EXPECT_EQ(unit(run).value("*ESE"), "7");
}

std::vector<StepFault> stepFaults() {
    const auto nothing = [](FaultRun&) {};
    const auto openOnly = [](FaultRun& run) {
        run.open(QString::fromLatin1(run.bench.sim.unitAt(5)->model().c_str()));
    };
    std::vector<StepFault> steps;

    steps.push_back(
        {.name = "Discovery",
         .model = "7174",
         .function = "FindLstn",
         .nth = 1,
         .reach = nothing,
         .act = openOnly,
         .report = "FindLstn error",
         .onlySystemErrorReported = true,
         .then = [](FaultRun& run) {
             ASSERT_EQ(run.bench.interaction.boxes.size(), 1u);
             EXPECT_EQ(run.bench.interaction.boxes[0].title, QStringLiteral("WARNING - No devices found"));
             EXPECT_TRUE(run.edit("txtAddr")->text().isEmpty()) << "nothing found, nothing proposed";
         }});
    steps.push_back({.name = "SetAddressInterfaceClear",
                     .model = "7174",
                     .function = "SendIFC",
                     .nth = 1,
                     .reach = openOnly,
                     .act = openAndStart(),
                     .then = [](FaultRun& run) { EXPECT_EQ(run.lines().size(), 1); }});
    steps.push_back({.name = "SetAddressDeviceClear",
                     .model = "7174",
                     .function = "DevClear",
                     .nth = 1,
                     .reach = openOnly,
                     .act = openAndStart(),
                     .report = "DevClear Error",
                     .then = [](FaultRun& run) {
                         EXPECT_TRUE(run.lines().isEmpty());
                         EXPECT_FALSE(run.button("cmdEnter")->isEnabled());
                         EXPECT_TRUE(run.button("cmdSet")->isEnabled());
                         EXPECT_EQ(run.edit("txtAddr")->text(), QStringLiteral("5")) << "kept for a retry";
                         EXPECT_TRUE(unit(run).messages().empty()) << "nothing follows a failed device clear";
                     }});
    steps.push_back({.name = "SetAddressChannelCommand",
                     .model = "7170A",
                     .function = "Send",
                     .nth = 1,
                     .reach = openOnly,
                     .act = openAndStart(),
                     .then = [](FaultRun& run) {
                         EXPECT_EQ(unit(run).selectedChannel(), 1) << "the unit never heard the channel";
                         EXPECT_EQ(run.edit("txtChNum")->text(), QStringLiteral("Configuring channel # 2"));
                         EXPECT_EQ(run.lines().size(), 1);
                     }});
    steps.push_back({.name = "MenuStartUnlock",
                     .model = "7174",
                     .function = "Send",
                     .nth = 1,
                     .reach = openOnly,
                     .act = openAndStart()});
    steps.push_back({.name = "MenuStartClearStatus",
                     .model = "7174",
                     .function = "Send",
                     .nth = 2,
                     .reach = openOnly,
                     .act = openAndStart()});

    const auto firstLineBlankThenGoesOn = [](FaultRun& run) {
        ASSERT_EQ(run.lines().size(), 1);
        EXPECT_EQ(setting(run.lines()[0]), blankSetting);
        run.advance(1);
        EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
        EXPECT_EQ(run.lines().at(1).left(esePrompt.size()), esePrompt);
        EXPECT_EQ(setting(run.lines().at(1)), QStringLiteral("0"));
    };
    steps.push_back({.name = "ShowFirstQuery",
                     .model = "7174",
                     .function = "Send",
                     .nth = 3,
                     .reach = openOnly,
                     .act = openAndStart(),
                     .report = "Receive Error",
                     .reportsFollowingTimeout = true,
                     .then = firstLineBlankThenGoesOn});
    steps.push_back({.name = "ShowFirstRead",
                     .model = "7174",
                     .function = "Receive",
                     .nth = 1,
                     .reach = openOnly,
                     .act = openAndStart(),
                     .report = "Receive Error",
                     .then = firstLineBlankThenGoesOn});

    const auto secondLineBlankThenGoesOn = [](FaultRun& run) {
        ASSERT_EQ(run.lines().size(), 2);
        EXPECT_EQ(setting(run.lines()[1]), blankSetting);
        run.advance(1);
        EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
        EXPECT_EQ(setting(run.lines().at(2)), QStringLiteral("0"));
    };
    const auto atFunctionOne = [](FaultRun& run) {
        run.open(QStringLiteral("7174"));
        startMenu(run);
    };
    const auto advanceOnce = [](FaultRun& run) { run.advance(1); };
    steps.push_back({.name = "ShowNextQuery",
                     .model = "7174",
                     .function = "Send",
                     .nth = 1,
                     .reach = atFunctionOne,
                     .act = advanceOnce,
                     .report = "Receive Error",
                     .reportsFollowingTimeout = true,
                     .then = secondLineBlankThenGoesOn});
    steps.push_back({.name = "ShowNextRead",
                     .model = "7174",
                     .function = "Receive",
                     .nth = 1,
                     .reach = atFunctionOne,
                     .act = advanceOnce,
                     .report = "Receive Error",
                     .then = secondLineBlankThenGoesOn});

    const auto atEse = [](FaultRun& run) {
        run.open(QStringLiteral("7174"));
        startMenu(run);
        run.advance(1);
    };
    const auto enterSeven = [](FaultRun& run) { run.enter(QStringLiteral("7")); };
    const auto eseShows = [](const char* shown, const char* unitHas) {
        return [shown, unitHas](FaultRun& run) {
            EXPECT_EQ(setting(run.lines().at(1)), QString::fromLatin1(shown));
            EXPECT_EQ(unit(run).value("*ESE"), unitHas);
            eseRetried(run); // the same function stays current
        };
    };
    steps.push_back({.name = "SetValue",
                     .model = "7174",
                     .function = "Send",
                     .nth = 1,
                     .reach = atEse,
                     .act = enterSeven,
                     .then = eseShows("0", "0")});
    steps.push_back({.name = "SetStatusQuery",
                     .model = "7174",
                     .function = "Send",
                     .nth = 2,
                     .reach = atEse,
                     .act = enterSeven,
                     .then = eseShows("No response", "7")});
    steps.push_back({.name = "SetStatusRead",
                     .model = "7174",
                     .function = "Receive",
                     .nth = 1,
                     .reach = atEse,
                     .act = enterSeven,
                     .then = eseShows("No response", "7")});
    steps.push_back({.name = "SetRequery",
                     .model = "7174",
                     .function = "Send",
                     .nth = 3,
                     .reach = atEse,
                     .act = enterSeven,
                     .then = eseShows("                 ", "7")});
    steps.push_back({.name = "SetRequeryRead",
                     .model = "7174",
                     .function = "Receive",
                     .nth = 2,
                     .reach = atEse,
                     .act = enterSeven,
                     .then = eseShows("                 ", "7")});
    steps.push_back({.name = "SetAddressFunctionRequeryRead",
                     .model = "7174",
                     .function = "Receive",
                     .nth = 2,
                     .reach = atFunctionOne,
                     .act = [](FaultRun& run) { run.enter(QStringLiteral("5")); },
                     .then =
                         [](FaultRun& run) {
                             // Nothing came back: no address is made up for the unit.
                             EXPECT_EQ(setting(run.lines().at(0)), blankSetting);
                             run.enter(QStringLiteral("5"));
                             EXPECT_EQ(setting(run.lines().at(0)), QStringLiteral("5"));
                         }});

    const auto atEnd = [](FaultRun& run) {
        run.open(QStringLiteral("7174"));
        startMenu(run);
        run.advance(3);
        ASSERT_TRUE(run.button("cmdSav")->isEnabled());
    };
    steps.push_back({.name = "Save",
                     .model = "7174",
                     .function = "Send",
                     .nth = 1,
                     .reach = atEnd,
                     .act = [](FaultRun& run) { click(run, "cmdSav"); },
                     .report = "Send SAV Error",
                     .then =
                         [](FaultRun& run) {
                             EXPECT_FALSE(run.button("cmdSav")->isEnabled());
                             EXPECT_EQ(unit(run).saveCount(), 0);
                             EXPECT_FALSE(run.leavesAtOnce()) << "Done still asks";
                         }});
    steps.push_back({.name = "LockCommand",
                     .model = "7174",
                     .function = "Send",
                     .nth = 1,
                     .reach = atEnd,
                     .act = [](FaultRun& run) { click(run, "cmdLock"); },
                     .then =
                         [](FaultRun& run) {
                             EXPECT_FALSE(unit(run).locked());
                             EXPECT_EQ(unit(run).saveCount(), 1);
                             click(run, "cmdLock");
                             EXPECT_TRUE(unit(run).locked());
                         }});
    steps.push_back({.name = "LockSave",
                     .model = "7174",
                     .function = "Send",
                     .nth = 2,
                     .reach = atEnd,
                     .act = [](FaultRun& run) { click(run, "cmdLock"); },
                     .then =
                         [](FaultRun& run) {
                             EXPECT_TRUE(unit(run).locked());
                             EXPECT_EQ(unit(run).saveCount(), 0);
                             click(run, "cmdLock");
                             EXPECT_EQ(unit(run).saveCount(), 1);
                         }});
    steps.push_back({.name = "SaveEseAndSre",
                     .model = "7174",
                     .function = "Send",
                     .nth = 1,
                     .reach = atEnd,
                     .act = [](FaultRun& run) { click(run, "cmdSRQ"); },
                     .report = "Send ESE Error",
                     .then =
                         [](FaultRun& run) {
                             EXPECT_TRUE(unit(run).powerOnStatusClear());
                             ASSERT_TRUE(run.button("cmdSRQ")->isEnabled());
                             click(run, "cmdSRQ");
                             EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
                             EXPECT_FALSE(unit(run).powerOnStatusClear());
                         }});
    steps.push_back({.name = "DontSaveSre",
                     .model = "7174",
                     .function = "Send",
                     .nth = 1,
                     .reach =
                         [atEnd](FaultRun& run) {
                             atEnd(run);
                             click(run, "cmdSRQ");
                         },
                     .act = [](FaultRun& run) { click(run, "cmdNoSRQ"); },
                     .report = "Send ESE Error",
                     .then =
                         [](FaultRun& run) {
                             EXPECT_FALSE(unit(run).powerOnStatusClear());
                             click(run, "cmdNoSRQ");
                             EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
                             EXPECT_TRUE(unit(run).powerOnStatusClear());
                         }});
    for (int k = 1; k <= 4; ++k) {
        StepFault trigger{.name = "",
                          .model = "7185B",
                          .function = "SendCmds",
                          .nth = k,
                          .reach = openOnly,
                          .act = openAndStart()};
        static const char* const names[] = {"TriggerUnlisten", "TriggerListen", "TriggerUnlistenAgain",
                                            "TriggerGroupExecute"};
        trigger.name = names[k - 1];
        if (k == 4) {
            // Without Group Execute Trigger the unit passes the query on to its port and says nothing.
            trigger.report = "Receive Error";
            trigger.reportsFollowingTimeout = true;
            trigger.then = [](FaultRun& run) { EXPECT_FALSE(unit(run).triggered()); };
        } else {
            trigger.then = [](FaultRun& run) { EXPECT_TRUE(unit(run).triggered()); };
        }
        steps.push_back(trigger);
    }
    return steps;
}

// The first function line of a fault-free run of the model.
QString referenceLine(const char* model) {
    FaultRun run;
    run.bench.sim.addUnit(5, model);
    run.open(QString::fromLatin1(model));
    startMenu(run);
    return run.lines().value(0);
}

using StepCase = std::tuple<StepFault, DriverError>;

class EveryCallOfEveryStep : public testing::TestWithParam<StepCase> {};

TEST_P(EveryCallOfEveryStep, ReportsOrCarriesOnAndStaysUsable) {
    const auto& [step, error] = GetParam();
    const QString reference = referenceLine(step.model);
    FaultRun run;
    run.bench.sim.addUnit(5, step.model);
    run.bench.state.ModelText = QString::fromLatin1(step.model);
    run.bench.state.ModelNumber = static_cast<std::int16_t>(QString::fromLatin1(step.model).left(4).toInt());
    step.reach(run);
    ASSERT_TRUE(run.box("txtGPIBErr")->isHidden()) << "the way to the step is clean";
    const std::size_t start = run.mark();

    run.injector.arm(step.function, step.nth, error.iberr);
    step.act(run);
    ASSERT_TRUE(run.injector.fired()) << step.function << " call " << step.nth << " never came";

    const bool reported =
        step.report != nullptr && (!step.onlySystemErrorReported || error.iberr == sim::lg::EDVR);
    if (reported) {
        EXPECT_FALSE(run.box("txtGPIBErr")->isHidden());
        const int shownCode = step.reportsFollowingTimeout ? sim::lg::EABO : error.iberr;
        EXPECT_EQ(run.box("txtGPIBErr")->text(),
                  expectedReport(QString::fromLatin1(step.report), shownCode, 0,
                                 step.reportsFollowingTimeout ? unansweredReceive : nullptr));
    } else {
        EXPECT_TRUE(run.box("txtGPIBErr")->isHidden()) << run.box("txtGPIBErr")->text().toStdString();
    }
    EXPECT_EQ(run.closed.count(), 0);
    step.then(run);

    // The operator goes back to the address and starts again; it works as on a fresh window.
    if (run.button("cmdRedo")->isEnabled()) {
        run.button("cmdRedo")->click();
        EXPECT_TRUE(run.lines().isEmpty());
        EXPECT_TRUE(run.edit("txtAddr")->isEnabled());
    }
    startMenu(run);
    EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
    EXPECT_EQ(run.lines(), QStringList{reference});

    // Nothing went anywhere but to the unit.
    for (int address : deviceAddresses(run.bench, start)) {
        EXPECT_EQ(address, 5);
    }

    // And the operator can leave: Done asks once when nothing was saved, then closes.
    run.button("cmdDone")->click();
    if (run.closed.count() == 0) {
        EXPECT_FALSE(run.box("txtGPIBErr")->isHidden());
        run.button("cmdDone")->click();
    }
    EXPECT_EQ(run.closed.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, EveryCallOfEveryStep,
                         testing::Combine(testing::ValuesIn(stepFaults()), testing::ValuesIn(driverErrors())),
                         [](const testing::TestParamInfo<StepCase>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

// Next Channel runs Set Address; when its device clear fails, Enter stays enabled on the finished
// list (the buttons stay as Next Channel set them). Pressing it sends nothing and touches no function
// of the table, and Set Address with the right address starts the channel's menu.
TEST(NextChannelFaults, AFailedDeviceClearLeavesEnterHarmlessAndSetAddressStartsTheChannel) {
    for (const DriverError& error : driverErrors()) {
        FaultRun run;
        run.bench.sim.addUnit(5, "7189");
        run.open(QStringLiteral("7189"));
        run.bench.interaction.scripts.push_back(answerChannel(QStringLiteral("1")));
        run.setAddress(QStringLiteral("5"));
        const int count = models::Config7189.functionCount();
        run.advance(count);
        ASSERT_TRUE(run.button("cmdNextCh")->isEnabled());

        run.bench.interaction.scripts.push_back(answerChannel(QStringLiteral("2")));
        run.injector.arm("DevClear", 1, error.iberr);
        run.button("cmdNextCh")->click();
        EXPECT_EQ(run.box("txtGPIBErr")->text(),
                  expectedReport(QStringLiteral("DevClear Error"), error.iberr));
        EXPECT_TRUE(run.lines().isEmpty());
        ASSERT_TRUE(run.button("cmdEnter")->isEnabled());

        const std::size_t start = run.mark();
        run.enter(QStringLiteral("3"));
        run.advance(2);
        EXPECT_TRUE(run.bench.calls(start).empty()) << "nothing goes out for a function past the table";
        EXPECT_TRUE(run.lines().isEmpty());

        run.bench.interaction.scripts.push_back(answerChannel(QStringLiteral("2")));
        run.setAddress(QStringLiteral("5"));
        EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
        EXPECT_EQ(run.bench.state.DeviceAddress, 5 + 256 * (12 + 96)) << "channel 2";
        EXPECT_EQ(run.lines().size(), 1);
        run.advance(count);
        EXPECT_TRUE(run.button("cmdNextCh")->isEnabled());
        EXPECT_EQ(run.lines().size(), std::min(count, 14));
    }
}

} // namespace
} // namespace ktq::test
