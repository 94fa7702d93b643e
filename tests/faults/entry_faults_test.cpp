// Hostile operator input in every entry box: the address, the channel dialog, the function value
// and the value of the unit's own address function.
#include "bus/calltext.h"
#include "faultrun.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

namespace ktq::test {
namespace {

const QString tenThousandNines = QString(10000, u'9');
const QString tenThousandLetters = QString(10000, u'x');
const QString fullwidthFive = QString(QChar(0xFF15));
const QString euro = QString(QChar(0x20AC));
const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");

struct AddressEntry {
    const char* name;
    QString entry;
    int word; // the device clear's address word; -1: refused, nothing on the bus
};

void PrintTo(const AddressEntry& c, std::ostream* os) {
    *os << c.name;
}

std::vector<AddressEntry> addressEntries() {
    return {
        {"Empty", QString(), 0},
        {"Blanks", QStringLiteral("   "), 0},
        {"PlusAlone", QStringLiteral("+"), 0},
        {"MinusAlone", QStringLiteral("-"), 0},
        {"Plus", QStringLiteral("+5"), 5},
        {"Minus", QStringLiteral("-5"), -1},
        {"MinusZero", QStringLiteral("-0.4"), 0},
        {"HalfUp", QStringLiteral("5.5"), 6},
        {"HalfDown", QStringLiteral("6.5"), 6},
        {"Exponent", QStringLiteral("1e3"), 1},
        {"NegativeExponent", QStringLiteral("2E-2"), 2},
        {"Secondary", QStringLiteral("502"), 5 + 256 * (2 + 96)},
        {"SecondaryTooHigh", QStringLiteral("531"), -1},
        {"Beyond16Bits", QStringLiteral("65536"), -1},
        {"Beyond32Bits", QStringLiteral("4294967296"), -1},
        {"MostNegative", QStringLiteral("-32768"), -1},
        {"TenThousandDigits", tenThousandNines, -1},
        {"TenThousandDigitsNegative", QStringLiteral("-") + tenThousandNines, -1},
        {"TenThousandLetters", tenThousandLetters, 0},
        {"ControlCharacter", QStringLiteral("\x01"), 0},
        {"ControlAfterNumber", QStringLiteral("7\x01"), 7},
        {"TabBefore", QStringLiteral("\t7"), 7},
        {"Delete", QStringLiteral("\x7f"), 0},
        {"FullwidthDigit", fullwidthFive, 0},
        {"Euro", euro + QStringLiteral("5"), 0},
        {"Emoji", emoji, 0},
        {"LineBreakInside", QStringLiteral("5\n6"), 5},
        {"LineBreakBefore", QStringLiteral("\n5"), 5},
        {"CarriageReturn", QStringLiteral("5\r\n"), 5},
    };
}

class AddressEntries : public testing::TestWithParam<AddressEntry> {};

TEST_P(AddressEntries, AreRefusedWithAMessageOrClearOneAddress) {
    const AddressEntry& c = GetParam();
    FaultRun run;
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    const std::size_t start = run.mark();
    const int beeps = run.bench.interaction.beeps;
    run.setAddress(c.entry);
    if (c.word < 0) {
        EXPECT_EQ(run.bench.wire(start), std::vector<std::string>{"beep"}) << "refused before the bus";
        EXPECT_EQ(run.bench.interaction.beeps, beeps + 1);
        EXPECT_FALSE(run.box("txtErrMsg")->isHidden());
        EXPECT_EQ(run.box("txtErrMsg")->text(), QStringLiteral("Address out of range, re-enter"));
        EXPECT_EQ(run.edit("txtAddr")->text(), c.entry) << "kept for correction";
    } else {
        const auto calls = run.bench.calls(start);
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[0], "SendIFC(0)");
        EXPECT_EQ(calls[1], "DevClear(0, " + bus::addressText(static_cast<std::uint16_t>(c.word)) + ")");
        EXPECT_TRUE(run.box("txtErrMsg")->isHidden());
    }
    // Whatever came before, a good address still starts the menu.
    run.setAddress(QStringLiteral("5"));
    EXPECT_EQ(setting(run.lines().value(0)), QStringLiteral("5"));
}

INSTANTIATE_TEST_SUITE_P(Faults, AddressEntries, testing::ValuesIn(addressEntries()),
                         [](const testing::TestParamInfo<AddressEntry>& info) { return info.param.name; });

struct ChannelEntry {
    const char* name;
    QString entry;
    int channel; // 0: refused
};

void PrintTo(const ChannelEntry& c, std::ostream* os) {
    *os << c.name;
}

std::vector<ChannelEntry> channelEntries() {
    return {
        {"Empty", QString(), 0},
        {"Blanks", QStringLiteral("   "), 0},
        {"PlusAlone", QStringLiteral("+"), 0},
        {"MinusAlone", QStringLiteral("-"), 0},
        {"Plus", QStringLiteral("+3"), 3},
        {"Minus", QStringLiteral("-1"), 0},
        {"Zero", QStringLiteral("0"), 0},
        {"Fraction", QStringLiteral("2.5"), 0},
        {"WholeWithPoint", QStringLiteral("2.0"), 2},
        {"NearlyFour", QStringLiteral("3.9999999999"), 0},
        {"JustAboveFour", QStringLiteral("4.0000000001"), 0},
        {"Exponent", QStringLiteral("1e3"), 1},
        {"Beyond16Bits", QStringLiteral("65537"), 0},
        {"Beyond32Bits", QStringLiteral("4294967297"), 0},
        {"TenThousandDigits", tenThousandNines, 0},
        {"TenThousandLetters", tenThousandLetters, 0},
        {"ControlCharacter", QStringLiteral("\x01"), 0},
        {"ControlAfterNumber", QStringLiteral("3\x01"), 3},
        {"TabBefore", QStringLiteral("\t4"), 4},
        {"FullwidthDigit", fullwidthFive, 0},
        {"Emoji", emoji, 0},
        {"LineBreakInside", QStringLiteral("3\n4"), 3},
    };
}

class ChannelEntries : public testing::TestWithParam<ChannelEntry> {};

TEST_P(ChannelEntries, TakeOnlyAWholeChannelAndTheUnitHearsOnlyItsNumber) {
    const ChannelEntry& c = GetParam();
    FaultRun run;
    run.bench.sim.addUnit(5, "7170A");
    run.open(QStringLiteral("7170A"));
    struct Seen {
        bool accepted = false;
        bool message = false;
        QString left;
    } seen;
    const int beeps = run.bench.interaction.beeps;
    run.bench.interaction.scripts.push_back([&seen, &c](QDialog& dialog) {
        auto* box = control<QLineEdit>(dialog, "txtChNum");
        box->setText(c.entry);
        control<QPushButton>(dialog, "cmdChSel")->click();
        seen.accepted = dialog.result() == QDialog::Accepted;
        seen.message = !control<ui::MessageLine>(dialog, "txtErrMsg")->isHidden() &&
                       control<ui::MessageLine>(dialog, "txtErrMsg")->text() ==
                           QStringLiteral("Number out of range, Re-enter");
        seen.left = box->text();
        if (!seen.accepted) {
            box->setText(QStringLiteral("2"));
            control<QPushButton>(dialog, "cmdChSel")->click();
        }
    });
    const std::size_t start = run.mark();
    run.setAddress(QStringLiteral("5"));

    const int channel = c.channel == 0 ? 2 : c.channel;
    EXPECT_EQ(seen.accepted, c.channel != 0);
    EXPECT_EQ(seen.message, c.channel == 0);
    if (c.channel == 0) {
        EXPECT_TRUE(seen.left.isEmpty()) << "a refused entry is cleared";
        EXPECT_EQ(run.bench.interaction.beeps, beeps + 1);
    }
    EXPECT_EQ(run.bench.state.ChannelNumber, channel);
    const auto wire = run.bench.wire(start);
    const std::string command = "> C  " + std::to_string(channel);
    EXPECT_EQ(std::count(wire.begin(), wire.end(), command), 1);
    EXPECT_EQ(run.bench.sim.unitAt(5)->selectedChannel(), channel);
    EXPECT_EQ(run.lines().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, ChannelEntries, testing::ValuesIn(channelEntries()),
                         [](const testing::TestParamInfo<ChannelEntry>& info) { return info.param.name; });

struct ValueEntry {
    const char* name;
    QString entry;
    bool refused; // with a message and a beep, nothing sent
};

void PrintTo(const ValueEntry& c, std::ostream* os) {
    *os << c.name;
}

std::vector<ValueEntry> valueEntries() {
    return {
        {"Blanks", QStringLiteral("   "), false},
        {"Plus", QStringLiteral("+5"), false},
        {"Minus", QStringLiteral("-5"), false},
        {"Fraction", QStringLiteral("5.5"), false},
        {"Exponent", QStringLiteral("1e3"), false},
        {"Beyond16Bits", QStringLiteral("65536"), false},
        {"Beyond32Bits", QStringLiteral("4294967296"), false},
        {"TenThousandDigits", tenThousandNines, false},
        {"TenThousandLetters", tenThousandLetters, false},
        {"Latin1Letter", QString::fromLatin1("\xe9"), false},
        {"ControlCharacter", QStringLiteral("\x01"), true},
        {"Delete", QStringLiteral("\x7f"), true},
        {"Tab", QStringLiteral("\t5"), true},
        {"LineBreak", QStringLiteral("5\n6"), true},
        {"CarriageReturn", QStringLiteral("5\r"), true},
        {"Nul", QString(QChar(0)), true},
        {"Euro", QStringLiteral("5") + euro, true},
        {"FullwidthDigit", fullwidthFive, true},
        {"Emoji", emoji, true},
        {"LoneSurrogate", QString(QChar(0xD800)), true},
    };
}

class ValueEntries : public testing::TestWithParam<ValueEntry> {};

TEST_P(ValueEntries, GoOutAsOneSettingExactlyAsTypedOrAreRefused) {
    const ValueEntry& c = GetParam();
    FaultRun run;
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    run.setAddress(QStringLiteral("5"));
    run.advance(1);
    const auto& heard = run.bench.sim.unitAt(5)->messages();
    const std::size_t before = heard.size();
    const std::size_t start = run.mark();
    const int beeps = run.bench.interaction.beeps;
    run.enter(c.entry);

    if (c.refused) {
        EXPECT_EQ(run.bench.wire(start), std::vector<std::string>{"beep"});
        EXPECT_EQ(run.bench.interaction.beeps, beeps + 1);
        EXPECT_FALSE(run.box("txtErrMsg")->isHidden());
        EXPECT_FALSE(run.box("txtErrMsg")->text().isEmpty());
        EXPECT_EQ(run.edit("txtChoice")->text(), c.entry);
        run.enter(QStringLiteral("7"));
        EXPECT_TRUE(run.box("txtErrMsg")->isHidden());
        EXPECT_EQ(setting(run.lines().at(1)), QStringLiteral("7"));
        return;
    }
    ASSERT_GE(heard.size(), before + 2);
    const QByteArray bytes = c.entry.toLatin1();
    EXPECT_EQ(heard[before],
              "*ESE " + std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    for (std::size_t k = before + 1; k < heard.size(); ++k) {
        EXPECT_TRUE(heard[k] == "*ESR?" || heard[k] == "*ESE?") << heard[k];
    }
    EXPECT_LE(heard.size(), before + 3);
    EXPECT_TRUE(run.box("txtErrMsg")->isHidden());
    EXPECT_EQ(run.bench.interaction.beeps, beeps);
}

INSTANTIATE_TEST_SUITE_P(Faults, ValueEntries, testing::ValuesIn(valueEntries()),
                         [](const testing::TestParamInfo<ValueEntry>& info) { return info.param.name; });

TEST(ValueEntryFaults, APasteWithLineBreaksNeverReachesTheUnitAsTwoCommands) {
    for (const QString& paste :
         {QStringLiteral("7\n*RST"), QStringLiteral("7\r\n*RST\r\n"), QStringLiteral("\n*RST")}) {
        FaultRun run;
        run.bench.sim.addUnit(5, "7174");
        run.open(QStringLiteral("7174"));
        run.setAddress(QStringLiteral("5"));
        run.advance(1);
        QGuiApplication::clipboard()->setText(paste);
        auto* choice = run.edit("txtChoice");
        choice->clear();
        choice->paste();
        ASSERT_FALSE(choice->text().isEmpty()) << "the paste arrived";
        run.button("cmdEnter")->click();
        const auto& heard = run.bench.sim.unitAt(5)->messages();
        EXPECT_EQ(std::count(heard.begin(), heard.end(), "*RST"), 0);
        const auto settings = std::count_if(heard.begin(), heard.end(),
                                            [](const std::string& m) { return m.rfind("*ESE ", 0) == 0; });
        EXPECT_LE(settings, 1);
        if (settings == 0) {
            EXPECT_FALSE(run.box("txtErrMsg")->isHidden());
        }
    }
}

struct AddressFunctionEntry {
    const char* name;
    QString entry;
    int addressAfter;
};

void PrintTo(const AddressFunctionEntry& c, std::ostream* os) {
    *os << c.name;
}

class AddressFunctionEntries : public testing::TestWithParam<AddressFunctionEntry> {};

TEST_P(AddressFunctionEntries, MoveTheProgramOnlyToAnAddressFrom0To30) {
    const AddressFunctionEntry& c = GetParam();
    FaultRun run;
    run.bench.sim.addUnit(9, "7174");
    run.open(QStringLiteral("7174"));
    run.setAddress(QStringLiteral("9"));
    run.enter(c.entry);
    EXPECT_EQ(run.bench.state.DeviceAddress, c.addressAfter);
    EXPECT_EQ(run.bench.state.PrimaryAddress, c.addressAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, AddressFunctionEntries,
    testing::Values(AddressFunctionEntry{"TenThousandDigits", tenThousandNines, 9},
                    AddressFunctionEntry{"TenThousandLetters", tenThousandLetters, 9},
                    AddressFunctionEntry{"Exponent", QStringLiteral("3e1"), 3},
                    AddressFunctionEntry{"HalfToEven", QStringLiteral("30.5"), 30},
                    AddressFunctionEntry{"JustAbove", QStringLiteral("30.51"), 9},
                    AddressFunctionEntry{"Beyond32Bits", QStringLiteral("4294967301"), 9},
                    AddressFunctionEntry{"NegativeZero", QStringLiteral("-0.2"), 0}),
    [](const testing::TestParamInfo<AddressFunctionEntry>& info) { return info.param.name; });

// Set Address again in the middle of a menu (nothing disables it): a new pass starts at function
// 1 above the lines of the earlier pass, and settings land on the new pass's lines.
TEST(OperatorFaults, SetAddressPressedAgainMidMenuStartsANewPassAboveTheOldLines) {
    FaultRun run;
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    run.setAddress(QStringLiteral("5"));
    run.advance(1);
    const QStringList earlier = run.lines();
    ASSERT_EQ(earlier.size(), 2);

    const std::size_t start = run.mark();
    run.setAddress(QStringLiteral("5"));
    const std::vector<std::string> restart = {"SendIFC(0)", "DevClear(0, 5)",         "> CAL:LOCK 0",
                                              "> *CLS",     "> SYST:COMM:GPIB:ADDR?", "< 5\\n"};
    EXPECT_EQ(run.bench.wire(start), restart);
    EXPECT_EQ(run.lines().mid(1), earlier) << "function 1 again, above the earlier pass";
    run.advance(1);
    run.enter(QStringLiteral("9"));
    const QStringList lines = run.lines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], earlier[0]);
    EXPECT_EQ(setting(lines[1]), QStringLiteral("9"));
    EXPECT_EQ(lines.mid(2), earlier);
    run.advance(2);
    ASSERT_TRUE(run.button("cmdSav")->isEnabled());
    run.button("cmdSav")->click();
    EXPECT_EQ(run.bench.sim.unitAt(5)->value("*ESE"), "9");
    EXPECT_EQ(run.bench.sim.unitAt(5)->saveCount(), 1);
}

} // namespace
} // namespace ktq::test
