// Saving, Redo and Done at the end of a configuration run.
#include "configrun.h"

#include "bus/gpibconstants.h"
#include "ui/main/frmmain.h"

#include <gtest/gtest.h>

namespace ktq::test {
namespace {

using Wire = std::vector<std::string>;

TEST(Finishing, EachButtonSendsItsCommandsInOrder) {
    const struct {
        const char* button;
        Wire sent;
        int savedFlag;
        bool savStaysEnabled;
    } cases[] = {
        {"cmdSav", {"> *SAV 0"}, 1, false},
        {"cmdLock", {"> CAL:LOCK ON", "> *SAV 0"}, 0, true},
        {"cmdSRQ", {"> *PSC 0"}, 0, true},
        {"cmdNoSRQ", {"> *PSC 1"}, 0, true},
    };
    for (const auto& c : cases) {
        FinishedRun run;
        const auto before = run.mark();
        run.button(c.button)->click();
        EXPECT_EQ(run.bench.wire(before), c.sent) << c.button;
        EXPECT_EQ(run.enabled("cmdSav"), c.savStaysEnabled) << c.button;
        EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
        EXPECT_EQ(run.leavesAtOnce(), c.savedFlag == 1) << c.button;
    }
}

TEST(Finishing, LockAndStatusButtonsMayBePressedAgainInAnyOrder) {
    FinishedRun run;
    const auto before = run.mark();
    run.button("cmdSRQ")->click();
    run.button("cmdNoSRQ")->click();
    run.button("cmdLock")->click();
    run.button("cmdSRQ")->click();
    EXPECT_EQ(run.bench.wire(before),
              (Wire{"> *PSC 0", "> *PSC 1", "> CAL:LOCK ON", "> *SAV 0", "> *PSC 0"}));
    EXPECT_TRUE(run.enabled("cmdLock") && run.enabled("cmdSRQ") && run.enabled("cmdNoSRQ"));
    EXPECT_TRUE(run.bench.sim.unitAt(5)->locked());
}

TEST(Finishing, AFailedSendIsReportedWithTheButtonsMessage) {
    const struct {
        const char* button;
        const char* message;
        bool savEnabledAfter;
    } cases[] = {
        {"cmdSav", "Send SAV Error", false},
        {"cmdSRQ", "Send ESE Error", true},
        {"cmdNoSRQ", "Send ESE Error", true},
    };
    for (const auto& c : cases) {
        FinishedRun run;
        run.bench.sim.failNext("Send", bus::ni::ENOL);
        run.button(c.button)->click();
        EXPECT_FALSE(run.box("txtGPIBErr")->isHidden()) << c.button;
        EXPECT_EQ(
            run.box("txtGPIBErr")->text(),
            QString::fromLatin1(c.message) +
                QStringLiteral(",  ibsta = &H8000 <  ERR  >, iberr =  2 ENOL <No Listener>, ibcnt =  0"));
        EXPECT_EQ(run.enabled("cmdSav"), c.savEnabledAfter);
        EXPECT_FALSE(run.leavesAtOnce()) << c.button << ": Done still asks";
    }
    FinishedRun lock;
    lock.bench.sim.failNext("Send", bus::ni::ENOL, 2);
    lock.button("cmdLock")->click();
    EXPECT_TRUE(lock.box("txtGPIBErr")->isHidden()) << "Lock Settings does not check its sends";
}

TEST(Done, AsksOnceBeforeLeavingWithoutASave) {
    FinishedRun run;
    run.button("cmdDone")->click();
    EXPECT_EQ(run.closed.count(), 0);
    EXPECT_EQ(run.box("txtGPIBErr")->text(),
              QStringLiteral("Exit without saving? \r\nPress Done again to exit"));
    EXPECT_FALSE(run.box("txtGPIBErr")->isHidden());
    EXPECT_EQ(run.bench.interaction.beeps, 0 + 0 + 1);
    run.button("cmdDone")->click();
    EXPECT_EQ(run.closed.count(), 1);
}

TEST(Done, ClosesAtOnceAfterASaveButStillAsksAfterAFailedOne) {
    FinishedRun saved;
    saved.button("cmdSav")->click();
    saved.button("cmdDone")->click();
    EXPECT_EQ(saved.closed.count(), 1);

    FinishedRun failed;
    failed.bench.sim.failNext("Send", bus::ni::EABO);
    failed.button("cmdSav")->click();
    failed.button("cmdDone")->click();
    EXPECT_EQ(failed.closed.count(), 0);
    EXPECT_TRUE(failed.box("txtGPIBErr")->text().startsWith(QStringLiteral("Exit without saving?")));
}

TEST(Done, OneWarningServesTheWholeRunEvenAcrossRedo) {
    FinishedRun run;
    run.button("cmdDone")->click();
    run.button("cmdRedo")->click();
    run.button("cmdDone")->click();
    EXPECT_EQ(run.closed.count(), 1);
}

TEST(Done, EscapeAndTheCloseButtonGoThroughDone) {
    FinishedRun run;
    run.window->show();
    run.window->reject();
    EXPECT_EQ(run.closed.count(), 0);
    EXPECT_FALSE(run.box("txtGPIBErr")->isHidden());
    run.window->close();
    EXPECT_EQ(run.closed.count(), 1);
}

TEST(Redo, ReturnsToAddressEntryAndLeavesDontSaveSreAsItWas) {
    FinishedRun run;
    run.button("cmdRedo")->click();
    EXPECT_TRUE(run.lines().isEmpty());
    EXPECT_TRUE(control<QLineEdit>(*run.window, "txtAddr")->text().isEmpty());
    EXPECT_EQ(run.window->focusWidget(), control<QLineEdit>(*run.window, "txtAddr"));
    EXPECT_TRUE(run.enabled("cmdSet"));
    for (const char* name : {"cmdEnter", "cmdLock", "cmdSRQ", "cmdSav"}) {
        EXPECT_FALSE(run.enabled(name)) << name;
    }
    EXPECT_TRUE(run.enabled("cmdNoSRQ"));
    EXPECT_TRUE(run.enabled("cmdRedo"));
    EXPECT_TRUE(run.bench.wire(run.mark()).empty());

    // The next pass starts again with the unlock and clear.
    const auto before = run.mark();
    run.setAddress(QStringLiteral("5"));
    const Wire wire = run.bench.wire(before);
    ASSERT_GE(wire.size(), 4u);
    EXPECT_EQ(wire[2], "> CAL:LOCK 0");
    EXPECT_EQ(run.lines().size(), 1);
}

TEST(NextChannel, OnlyCountsForAModelWithOneChannel) {
    FinishedRun run;
    const auto before = run.mark();
    run.button("cmdNextCh")->setEnabled(true); // it is never offered here; the handler must still be safe
    run.window->cmdNextCh_Click();
    EXPECT_EQ(run.bench.state.ChannelNumber, 2);
    EXPECT_TRUE(run.bench.wire(before).empty());
    EXPECT_EQ(run.lines().size(), 3);
}

TEST(WholeRun, SavesAndLocksA7174FromTheModelListAndTheNextRunStartsClean) {
    Bench bench;
    bench.sim.addUnit(5, "7174");
    ui::frmMain main(bench.session());
    auto* list = control<QListWidget>(main, "listUnit");
    list->setCurrentItem(list->findItems(QStringLiteral("7174"), Qt::MatchExactly).front());

    bench.interaction.scripts.push_back([&bench](QDialog& dialog) {
        auto* window = dynamic_cast<ui::frmConfig*>(&dialog);
        ASSERT_NE(window, nullptr);
        control<QPushButton>(dialog, "cmdSet")->click(); // the proposed " 5"
        for (const char* value : {"", "16", "", ""}) {
            control<QLineEdit>(dialog, "txtChoice")->setText(QString::fromLatin1(value));
            control<QPushButton>(dialog, "cmdEnter")->click();
        }
        control<QPushButton>(dialog, "cmdSav")->click();
        control<QPushButton>(dialog, "cmdLock")->click();
        control<QPushButton>(dialog, "cmdNoSRQ")->click();
        control<QPushButton>(dialog, "cmdDone")->click();
        EXPECT_EQ(bench.state.ChannelNumber, 1);
    });
    control<QPushButton>(main, "cmdConfig")->click();

    sim::SimUnit& unit = *bench.sim.unitAt(5);
    EXPECT_TRUE(unit.locked());
    EXPECT_EQ(unit.saveCount(), 2);
    EXPECT_EQ(unit.value("*ESE"), "16");
    unit.powerCycle();
    EXPECT_TRUE(unit.locked());
    EXPECT_EQ(unit.value("*ESE"), "0") << "the masks are cleared at power-up after *PSC 1";

    bench.interaction.scripts.push_back([](QDialog& dialog) {
        auto& window = dynamic_cast<ui::frmConfig&>(dialog);
        for (const char* name : {"cmdSav", "cmdLock", "cmdSRQ", "cmdNoSRQ", "cmdEnter", "cmdRedo"}) {
            EXPECT_FALSE(control<QPushButton>(dialog, name)->isEnabled()) << name;
        }
        // The first run's save does not count for the second: Done asks first.
        control<QPushButton>(dialog, "cmdDone")->click();
        EXPECT_TRUE(
            control<ui::MessageLine>(dialog, "txtGPIBErr")->text().startsWith(u"Exit without saving?"));
        window.done(0);
    });
    control<QPushButton>(main, "cmdConfig")->click();
    EXPECT_EQ(bench.interaction.modals.size(), 2u);
}

} // namespace
} // namespace ktq::test
