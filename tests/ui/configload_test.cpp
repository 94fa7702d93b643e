// The configuration window as it opens and reopens.
#include "configrun.h"

#include <QLabel>

#include <gtest/gtest.h>

namespace ktq::test {
namespace {

void expectFreshWindow(const ConfigRun& run, const QString& title) {
    EXPECT_EQ(run.window->windowTitle(), QStringLiteral("Configuration Form"));
    EXPECT_EQ(control<QLineEdit>(*run.window, "txtTitle")->text(), title);
    for (const char* name : {"cmdEnter", "cmdRedo", "cmdSav", "cmdLock", "cmdSRQ", "cmdNoSRQ", "cmdNextCh"}) {
        EXPECT_FALSE(run.button(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(run.button("cmdSet")->isEnabled());
    EXPECT_TRUE(run.button("cmdDone")->isEnabled());
    EXPECT_TRUE(control<QLineEdit>(*run.window, "txtAddr")->isEnabled());
    for (const char* name : {"txtErrMsg", "txtGPIBErr"}) {
        EXPECT_TRUE(run.box(name)->isHidden()) << name;
    }
    EXPECT_TRUE(run.button("cmdNextCh")->isHidden());
    EXPECT_TRUE(control<QLineEdit>(*run.window, "txtChNum")->isHidden());
    EXPECT_TRUE(control<QLabel>(*run.window, "labelChoice")->isHidden());
    EXPECT_TRUE(run.lines().isEmpty());
    EXPECT_EQ(run.bench.state.ChannelNumber, 1);
}

TEST(ConfigurationWindowLoad, StartsInAddressEntryWithTheModelInTheTitle) {
    ConfigRun run;
    run.open(QStringLiteral("7181B"));
    expectFreshWindow(run, QStringLiteral("7181B  CONFIGURATION ROUTINE"));
    // Nothing saved yet: Done asks once, on two lines, before it closes.
    EXPECT_FALSE(run.leavesAtOnce());
    EXPECT_EQ(run.box("txtGPIBErr")->text(),
              QStringLiteral("Exit without saving? \r\nPress Done again to exit"));
    EXPECT_EQ(run.window->focusWidget(), control<QLineEdit>(*run.window, "txtAddr"));
    EXPECT_EQ(tabOrder(*run.window, control<QLineEdit>(*run.window, "txtAddr")),
              (QStringList{"txtAddr", "cmdSet", "lstFunction", "txtChoice", "cmdEnter", "cmdRedo",
                           "cmdNextCh", "cmdSav", "cmdLock", "cmdSRQ", "cmdNoSRQ", "cmdDone"}));
}

TEST(ConfigurationWindowLoad, CarriesTheCaptionsAndTooltipsOfItsControls) {
    ConfigRun run;
    run.open(QStringLiteral("7174"));
    const struct {
        const char* name;
        const char* caption;
        const char* tooltip;
    } buttons[] = {
        {"cmdSet", "Set Address", "Enters the device address into the program"},
        {"cmdEnter", "Enter or Advance",
         "Enters a new value or keeps current value and advances to next fiunction"},
        {"cmdRedo", "Redo from Start", "Restarts the configuration process"},
        {"cmdNextCh", "Next Channel", "Advances to next channel for multi-channel devices."},
        {"cmdSav", "Save Configuration", "Saves current settings"},
        {"cmdLock", "Lock Settings", "Turns lock on after the save"},
        {"cmdSRQ", "Save ESE and SRE", "Saves ESE and SRE values.  Normally they are not saved."},
        {"cmdNoSRQ", "Don't Save SRE", "Blocks SRe from being saved by the configuration program"},
        {"cmdDone", "Done", "Closes the Configuration Window and returns to the Selection Window"},
    };
    for (const auto& b : buttons) {
        EXPECT_EQ(run.button(b.name)->text(), QString::fromLatin1(b.caption));
        EXPECT_EQ(run.button(b.name)->toolTip(), QString::fromLatin1(b.tooltip));
        EXPECT_EQ(run.button(b.name)->accessibleName(), QString::fromLatin1(b.caption));
        EXPECT_EQ(run.button(b.name)->accessibleDescription(), QString::fromLatin1(b.tooltip));
    }
    EXPECT_EQ(control<QLabel>(*run.window, "labelFunction")->text(),
              QStringLiteral("   Unit function  - Choices                    Current Setting"));
    EXPECT_EQ(control<QLabel>(*run.window, "Label1")->text(),
              QStringLiteral("Verify device address and press Set Address button"));
    EXPECT_EQ(control<QLabel>(*run.window, "labelChoice")->text(),
              QStringLiteral("Enter a new value or click Enter/Advance  to keep current value"));
}

TEST(ConfigurationWindowLoad, ASecondRunStartsCleanWhateverTheFirstLeft) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    run.setAddress(QStringLiteral("5"));
    run.advance(3);
    run.button("cmdSav")->click();
    run.bench.state.ChannelNumber = 4;
    ASSERT_TRUE(run.leavesAtOnce()) << "saved";

    run.open(QStringLiteral("7121"));
    expectFreshWindow(run, QStringLiteral("7121  CONFIGURATION ROUTINE"));
    EXPECT_EQ(control<QLineEdit>(*run.window, "txtAddr")->text(), QStringLiteral(" 5"));
    EXPECT_FALSE(run.leavesAtOnce()) << "the first run's save does not count for the second";
}

} // namespace
} // namespace ktq::test
