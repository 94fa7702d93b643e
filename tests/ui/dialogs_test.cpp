// The dialogs: value entry, the notice and the channel dialog.
#include "harness.h"

#include "run/numbers.h"
#include "ui/dialogs/frmchannels.h"
#include "ui/dialogs/frmnotice.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace ktq::test {
namespace {

using run::numericValue;

TEST(TextValue, ReadsTheLeadingNumberOfAText) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"", 0},   {"abc", 0},   {" 5", 5},   {"\t\n7", 7}, {"3x", 3},        {"-2.5", -2.5},
        {"+4", 4}, {"5.5", 5.5}, {".5", 0.5}, {"1e3", 1},   {"- 5", 0},       {"7134A", 7134},
        {"-", 0},  {"12.", 12},  {"0x1F", 0}, {"37\n", 37}, {"  -0012", -12}, {"\r5", 0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(run::numericValue(QString::fromLatin1(c.text)), c.value) << c.text;
    }
}

TEST(TextValue, RoundsHalvesToEvenAndKnowsTheSixteenBitRange) {
    EXPECT_EQ(run::roundHalfEven(5.5), 6);
    EXPECT_EQ(run::roundHalfEven(6.5), 6);
    EXPECT_EQ(run::roundHalfEven(-2.5), -2);
    EXPECT_EQ(run::roundHalfEven(0.5), 0);
    EXPECT_EQ(run::toInt16(32767.4), std::optional<std::int16_t>(32767));
    EXPECT_EQ(run::toInt16(32767.5), std::nullopt);
    EXPECT_EQ(run::toInt16(-32768), std::optional<std::int16_t>(-32768));
    EXPECT_EQ(run::toInt16(-32769), std::nullopt);
    EXPECT_EQ(run::toInt16(1e300), std::nullopt);
}

TEST(TextValue, WritesNumbersWithTheirSignPosition) {
    EXPECT_EQ(run::signedNumberText(5), QStringLiteral(" 5"));
    EXPECT_EQ(run::signedNumberText(0), QStringLiteral(" 0"));
    EXPECT_EQ(run::signedNumberText(-3), QStringLiteral("-3"));
    EXPECT_EQ(run::signedNumberText(502), QStringLiteral(" 502"));
    EXPECT_EQ(run::numberText(2.5), QStringLiteral("2.5"));
}

struct ChannelCase {
    const char* entry;
    bool accepted;
    double channel;
};

class ChannelDialog : public testing::TestWithParam<ChannelCase> {};

TEST_P(ChannelDialog, AcceptsOnlyWholeChannelsOneToFour) {
    const ChannelCase c = GetParam();
    Bench bench;
    ui::frmChannels dialog(1, bench.interaction);
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.show();
    control<QLineEdit>(dialog, "txtChNum")->setText(QString::fromLatin1(c.entry));
    control<QPushButton>(dialog, "cmdChSel")->click();

    auto* error = control<ui::MessageLine>(dialog, "txtErrMsg");
    if (c.accepted) {
        EXPECT_EQ(finished.count(), 1);
        EXPECT_EQ(dialog.channel(), c.channel);
        EXPECT_EQ(bench.interaction.beeps, 0);
    } else {
        EXPECT_EQ(finished.count(), 0);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_FALSE(error->isHidden());
        EXPECT_EQ(error->text(), QStringLiteral("Number out of range, Re-enter"));
        EXPECT_EQ(bench.interaction.beeps, 1);
        EXPECT_TRUE(control<QLineEdit>(dialog, "txtChNum")->text().isEmpty());
        EXPECT_EQ(dialog.focusWidget(), control<QLineEdit>(dialog, "txtChNum"));
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, ChannelDialog,
                         testing::Values(ChannelCase{"1", true, 1}, ChannelCase{"2", true, 2},
                                         ChannelCase{"3", true, 3}, ChannelCase{"4", true, 4},
                                         ChannelCase{"3x", true, 3}, ChannelCase{" 2", true, 2},
                                         ChannelCase{"0", false, 0}, ChannelCase{"5", false, 0},
                                         ChannelCase{"-1", false, 0}, ChannelCase{"abc", false, 0},
                                         ChannelCase{"", false, 0}, ChannelCase{"2.5", false, 0},
                                         ChannelCase{"4.5", false, 0}, ChannelCase{"1e1", true, 1}));

TEST(ChannelDialogLoad, ProposesTheChannelAndMovesFocusOnlyWhenTheOperatorTypes) {
    Bench bench;
    ui::frmChannels dialog(2, bench.interaction);
    dialog.show();
    auto* box = control<QLineEdit>(dialog, "txtChNum");
    EXPECT_EQ(box->text(), QStringLiteral("2"));
    EXPECT_EQ(dialog.focusWidget(), box);
    EXPECT_TRUE(control<ui::MessageLine>(dialog, "txtErrMsg")->isHidden());

    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_3);
    EXPECT_EQ(dialog.focusWidget(), control<QPushButton>(dialog, "cmdChSel"));

    // The operator who typed a channel presses Return next, on the button that now has the focus.
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(dialog.channel(), 3);
}

TEST(ChannelDialogLoad, EscapeAndCloseDoNotLeaveWithoutAChannel) {
    Bench bench;
    ui::frmChannels dialog(5, bench.interaction); // Next Channel after the last channel proposes 5
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(dialog.isVisible());
    answerChannel(QStringLiteral("4"))(dialog);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(dialog.channel(), 4);
}

TEST(NoticeDialog, ShowsTheTextOfEachOpeningAndCancelCloses) {
    for (const QString& text : {QStringLiteral("first notice"), QString(), QString(600, u'x')}) {
        ui::frmNotice notice(text);
        QSignalSpy finished(&notice, &QDialog::finished);
        notice.show();
        EXPECT_EQ(notice.windowTitle(), QStringLiteral("NOTICE"));
        EXPECT_EQ(control<ui::MessageLine>(notice, "txtNotice")->text(), text);
        control<QPushButton>(notice, "cmdCancel")->click();
        EXPECT_EQ(finished.count(), 1);
        EXPECT_FALSE(notice.isVisible());
    }
}

// The desktop opens the run's window modally and returns at once (the handler that opened it goes
// back to the event loop); what follows its close runs once per opening, however often the same
// window is opened again.
TEST(DesktopModal, OpensAtOnceAndTellsEachCloseOnce) {
    QDialog dialog;
    ui::DesktopInteraction desktop;
    int closed = 0;
    for (int opening = 1; opening <= 2; ++opening) {
        desktop.openModal(dialog, [&] { ++closed; });
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.isModal());
        EXPECT_EQ(closed, opening - 1) << "told of the close before it came";
        dialog.done(QDialog::Accepted);
        EXPECT_EQ(closed, opening);
    }
}

} // namespace
} // namespace ktq::test
