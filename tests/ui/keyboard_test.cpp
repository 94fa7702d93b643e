#include "harness.h"

#include "ui/config/frmconfig.h"
#include "ui/main/frmmain.h"

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

TEST(KeyboardOnly, AWhole7174RunFromTheModelListToASavedAndLockedUnit) {
    Bench bench;
    bench.sim.addUnit(5, "7174");
    ui::frmMain main(bench.session());
    main.show();

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

} // namespace
} // namespace ktq::test
