// Whole runs operated from the keyboard alone.
#include "harness.h"

#include "ui/config/frmconfig.h"
#include "ui/main/frmmain.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace ktq::test {
namespace {

// Presses a key on whatever control of the window has the keyboard focus, as an operator would.
void press(QWidget& window, Qt::Key key, int times = 1) {
    for (int k = 0; k < times; ++k) {
        QWidget* focused = window.focusWidget();
        ASSERT_NE(focused, nullptr) << "nothing has the focus";
        QTest::keyClick(focused, key);
    }
}

void type(QWidget& window, const char* text) {
    QWidget* focused = window.focusWidget();
    ASSERT_NE(focused, nullptr);
    QTest::keyClicks(focused, QString::fromLatin1(text));
}

// The main window shown on a bench that holds one unit of the model at address 5.
struct MainWindowOn {
    explicit MainWindowOn(const char* model) {
        bench.sim.addUnit(5, model);
        main.show();
    }

    Bench bench;
    ui::frmMain main{bench.session()};
};

TEST(KeyboardOnly, AWhole7174RunFromTheModelListToASavedAndLockedUnit) {
    MainWindowOn run("7174");
    Bench& bench = run.bench;
    ui::frmMain& main = run.main;

    bool closedByDone = false;
    bench.interaction.scripts.push_back([&](QDialog& dialog) {
        dialog.show();
        // The proposed address is in the box that has the focus; Return presses Set Address.
        EXPECT_EQ(dialog.focusWidget()->objectName(), QStringLiteral("txtAddr"));
        press(dialog, Qt::Key_Return);
        EXPECT_EQ(dialog.focusWidget()->objectName(), QStringLiteral("txtChoice"));
        press(dialog, Qt::Key_Return); // keep the address
        type(dialog, "16");
        press(dialog, Qt::Key_Return); // set the ESR enable bits
        press(dialog, Qt::Key_Return, 2);
        EXPECT_EQ(dialog.focusWidget()->objectName(), QStringLiteral("cmdSav"));
        press(dialog, Qt::Key_Space); // Save Configuration
        EXPECT_EQ(dialog.focusWidget()->objectName(), QStringLiteral("cmdLock"));
        press(dialog, Qt::Key_Space); // Lock Settings
        press(dialog, Qt::Key_Tab, 2);
        EXPECT_EQ(dialog.focusWidget()->objectName(), QStringLiteral("cmdNoSRQ"));
        press(dialog, Qt::Key_Space); // Don't Save SRE
        press(dialog, Qt::Key_Tab);
        QSignalSpy finished(&dialog, &QDialog::finished);
        press(dialog, Qt::Key_Space); // Done
        closedByDone = finished.count() == 1;
    });

    press(main, Qt::Key_Down, 18);
    press(main, Qt::Key_Return);

    EXPECT_TRUE(closedByDone);
    const auto wire = bench.wire();
    const std::vector<std::string> tail(wire.end() - 4, wire.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"> *SAV 0", "> CAL:LOCK ON", "> *SAV 0", "> *PSC 1"}));
    EXPECT_NE(std::find(wire.begin(), wire.end(), "> *ESE 16"), wire.end());
    EXPECT_EQ(bench.sim.unitAt(5)->value("*ESE"), "16");
    EXPECT_TRUE(bench.sim.unitAt(5)->locked());
    EXPECT_EQ(bench.state.ModelText, QStringLiteral("7174"));
}

// Next Channel pressed from the keyboard asks for the next channel and leaves the focus in the
// value box, so Return goes on walking the new channel; Return on the button that the end of a
// channel focuses presses it.
TEST(KeyboardOnly, AFourChannelUnitIsWalkedChannelByChannelWithKeysOnly) {
    MainWindowOn run("7170A");
    Bench& bench = run.bench;
    ui::frmMain& main = run.main;

    QStringList focusAfterNextChannel;
    bool closedByDone = false;
    bench.interaction.scripts.push_back([&](QDialog& dialog) {
        dialog.show();
        press(dialog, Qt::Key_Return); // Set Address opens the channel dialog
        const int functions = 15;
        for (int channel = 1; channel <= 4; ++channel) {
            press(dialog, Qt::Key_Return, functions);
            if (channel < 4) {
                EXPECT_EQ(dialog.focusWidget()->objectName(), QStringLiteral("cmdNextCh"));
                press(dialog, channel == 2 ? Qt::Key_Space : Qt::Key_Return);
                focusAfterNextChannel << dialog.focusWidget()->objectName();
            }
        }
        EXPECT_EQ(dialog.focusWidget()->objectName(), QStringLiteral("cmdSav"));
        press(dialog, Qt::Key_Return); // Save Configuration
        QSignalSpy finished(&dialog, &QDialog::finished);
        press(dialog, Qt::Key_Escape); // Done
        closedByDone = finished.count() == 1;
    });
    // Set Address, and Next Channel through it, ask for the channel; Return takes the one proposed.
    std::vector<double> proposed;
    for (int channel = 1; channel <= 4; ++channel) {
        bench.interaction.scripts.push_back([&](QDialog& channels) {
            channels.show();
            proposed.push_back(channels.findChild<QLineEdit*>(QStringLiteral("txtChNum"))->text().toDouble());
            QSignalSpy finished(&channels, &QDialog::finished);
            press(channels, Qt::Key_Return);
            EXPECT_EQ(finished.count(), 1) << "the channel dialog stayed open";
        });
    }

    press(main, Qt::Key_Down, 15); // 7170A
    press(main, Qt::Key_Return);

    EXPECT_EQ(proposed, (std::vector<double>{1, 2, 3, 4}));
    EXPECT_TRUE(closedByDone);
    EXPECT_EQ(focusAfterNextChannel, QStringList(3, QStringLiteral("txtChoice")));
    const auto wire = bench.wire();
    for (const char* channel : {"> C  1", "> C  2", "> C  3", "> C  4"}) {
        EXPECT_EQ(std::count(wire.begin(), wire.end(), channel), 1) << channel;
    }
    EXPECT_EQ(std::count(wire.begin(), wire.end(), "> *SAV 0"), 1);
    EXPECT_EQ(std::count_if(wire.begin(), wire.end(),
                            [](const std::string& line) { return line.rfind("> *SRE ", 0) == 0; }),
              0)
        << "a setting went out that nobody typed";
}

// A unit that must be switched off and on: Configure leaves the focus on Continue, and Return
// there goes on to the configuration window.
TEST(KeyboardOnly, ReturnOnContinueAfterThePowerCycleMessageOpensTheConfiguration) {
    MainWindowOn run("7185B");
    Bench& bench = run.bench;
    ui::frmMain& main = run.main;
    QString title;
    bench.interaction.scripts.push_back([&](QDialog& dialog) {
        title = dialog.findChild<QLineEdit*>(QStringLiteral("txtTitle"))->text();
        dialog.done(0);
    });

    press(main, Qt::Key_Down, 24); // 7185B
    press(main, Qt::Key_Return);
    ASSERT_EQ(main.focusWidget()->objectName(), QStringLiteral("cmdContinue"));
    press(main, Qt::Key_Return);

    EXPECT_EQ(title, QStringLiteral("7185B  CONFIGURATION ROUTINE"));
}

} // namespace
} // namespace ktq::test
