// The function menu engine: queries, settings and what it reports.
#include "configrun.h"

#include "bus/gpibconstants.h"
#include "run/configurationrun.h"
#include "ui/dialogs/statusline.h"

#include <gtest/gtest.h>

namespace ktq::test {
namespace {

using Wire = std::vector<std::string>;

const QString addressPrompt = QStringLiteral("Bus Address - 0 to 30 or 31");
const QString esePrompt = QStringLiteral("ESR Enable Bits - 0 to 255");
const QString srePrompt = QStringLiteral("SRE Enable Bits - 0 to 255");

struct SimpleUnitRun : ConfigRun {
    explicit SimpleUnitRun(const char* model = "7174", int address = 5) {
        bench.sim.addUnit(address, model);
        open(QString::fromLatin1(model));
    }
};

TEST(FunctionMenu, WalksTheSimpleUnitOnTheWire) {
    SimpleUnitRun run;
    const auto start = run.mark();
    run.setAddress(QStringLiteral(" 5"));
    run.advance(1);
    run.enter(QStringLiteral("32"));
    run.advance(2);

    const Wire expected = {
        "SendIFC(0)", "DevClear(0, 5)", "> CAL:LOCK 0", "> *CLS",    "> SYST:COMM:GPIB:ADDR?",
        "< 5\\n",     "> *ESE?",        "< 0\\n",       "> *ESE 32", "pause 200",
        "> *ESR?",    "< 0\\n",         "> *ESE?",      "< 32\\n",   "> *SRE?",
        "< 0\\n",
    };
    EXPECT_EQ(run.bench.wire(start), expected);
    EXPECT_EQ(run.lines(),
              (QStringList{line(addressPrompt, "5"), line(esePrompt, "32"), line(srePrompt, "0")}));
    EXPECT_EQ(run.bench.sim.unitAt(5)->value("*ESE"), "32");
    // End of the list of a single-channel unit with locking.
    for (const char* name : {"cmdSav", "cmdLock", "cmdSRQ", "cmdNoSRQ"}) {
        EXPECT_TRUE(run.button(name)->isEnabled()) << name;
    }
    EXPECT_FALSE(run.button("cmdEnter")->isEnabled());
    EXPECT_FALSE(run.button("cmdSet")->isEnabled());
}

TEST(FunctionMenu, ModelsWithTheSameTableShowTheSameLines) {
    QStringList first;
    for (const char* model : {"7174", "7179", "7147"}) {
        SimpleUnitRun run(model);
        run.setAddress(QStringLiteral("5"));
        run.advance(2);
        if (first.isEmpty()) {
            first = run.lines();
        }
        EXPECT_EQ(run.lines(), first) << model;
        EXPECT_EQ(run.lines().size(), 3);
    }
}

struct EsrCase {
    const char* reply; // nullptr: nothing comes back
    const char* shown;
};

class StatusCheck : public testing::TestWithParam<EsrCase> {};

TEST_P(StatusCheck, ShowsTheVerdictOfTheEventStatusRegister) {
    const EsrCase c = GetParam();
    SimpleUnitRun run;
    run.setAddress(QStringLiteral("5"));
    run.advance(1);
    if (c.reply != nullptr) {
        run.bench.sim.queueReply(5, c.reply);
    } else {
        run.bench.sim.failNext("Receive", bus::ni::EABO);
    }
    const auto before = run.mark();
    run.enter(QStringLiteral("7"));
    EXPECT_EQ(run.lines().at(1), line(esePrompt, QString::fromLatin1(c.shown)));
    const Wire wire = run.bench.wire(before);
    const bool requeried = std::find(wire.begin(), wire.end(), "> *ESE?") != wire.end();
    const bool verdict = QString::fromLatin1(c.shown) == QStringLiteral("Error - retry") ||
                         QString::fromLatin1(c.shown) == QStringLiteral("No response");
    EXPECT_EQ(requeried, !verdict) << "the function is queried again only when the unit took the value";
    EXPECT_TRUE(run.box("txtGPIBErr")->isHidden()) << "the status read is not checked";
}

INSTANTIATE_TEST_SUITE_P(Replies, StatusCheck,
                         testing::Values(EsrCase{nullptr, "No response"}, EsrCase{"4\n", "Error - retry"},
                                         EsrCase{"16\n", "Error - retry"}, EsrCase{"32\n", "Error - retry"},
                                         EsrCase{"+20\n", "Error - retry"}, EsrCase{"-1\n", "Error - retry"},
                                         EsrCase{"8\n", "7"}, EsrCase{"0\n", "7"}, EsrCase{"abc\n", "7"},
                                         EsrCase{"1\n", "7"}, EsrCase{"128\n", "7"}));

TEST(FunctionMenu, KeepsTheLastFourteenLinesOfALongTable) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7121");
    run.open(QStringLiteral("7121"));
    run.setAddress(QStringLiteral("5"));
    run.advance(14); // function 15 shown
    const QStringList shown = run.lines();
    ASSERT_EQ(shown.size(), 14);
    EXPECT_TRUE(shown.front().startsWith(QStringLiteral("Bus Address Ext - 1=On/0=Off")))
        << shown.front().toStdString();
    EXPECT_TRUE(shown.back().startsWith(QStringLiteral("Remote Signal Pol 0=Low, 1=Hi")));
    EXPECT_EQ(control<QListWidget>(*run.window, "lstFunction")->currentRow(), 13);

    // A setting replaces the line of the current function, not another one.
    run.enter(QStringLiteral("1"));
    EXPECT_EQ(run.lines().size(), 14);
    EXPECT_EQ(run.lines().back(), line(QStringLiteral("Remote Signal Pol 0=Low, 1=Hi"), QStringLiteral("1")));

    run.advance(7);
    EXPECT_EQ(run.lines().size(), 14);
    EXPECT_TRUE(run.lines().back().startsWith(QStringLiteral("SRE Enable Bits - 0 to 255")));
    EXPECT_TRUE(run.button("cmdSav")->isEnabled());
}

TEST(FunctionMenu, ShowsTheUnitsOwnAddressInItsTwoForms) {
    SimpleUnitRun run;
    run.bench.sim.queueReply(5, "37\n");
    run.setAddress(QStringLiteral("5"));
    EXPECT_EQ(run.lines().at(0), line(addressPrompt, "5/31"));

    SimpleUnitRun zero;
    zero.bench.sim.queueReply(5, "05\n");
    zero.setAddress(QStringLiteral("5"));
    EXPECT_EQ(zero.lines().at(0), line(addressPrompt, "05")) << "shown as received";
    zero.bench.sim.queueReply(5, "0\n");  // *ESR?
    zero.bench.sim.queueReply(5, "05\n"); // the re-query
    zero.enter(QStringLiteral("5"));
    EXPECT_EQ(zero.lines().at(0), line(addressPrompt, "5")) << "read back as a number";
}

struct AddressEntry {
    const char* entry;
    int deviceAfter; // where the status query goes
    int pauses;      // before the status query
};

class AddressFunction : public testing::TestWithParam<AddressEntry> {};

TEST_P(AddressFunction, MovesTheProgramOnlyToAnAddressTheUnitCanTake) {
    const AddressEntry c = GetParam();
    SimpleUnitRun run("7174", 9);
    run.setAddress(QStringLiteral("9"));
    const auto before = run.mark();
    run.enter(QString::fromLatin1(c.entry));
    const Wire wire = run.bench.wire(before);
    ASSERT_GE(wire.size(), 2u);
    EXPECT_EQ(wire[0], "> SYST:COMM:GPIB:ADDR " + std::string(c.entry))
        << "the setting goes to the old address";
    EXPECT_EQ(std::count(wire.begin(), wire.end(), "pause 200"), c.pauses);
    const auto calls = run.bench.calls(before);
    const auto esr = std::find_if(calls.begin(), calls.end(), [](const std::string& l) {
        return l.find("\"*ESR?\"") != std::string::npos;
    });
    ASSERT_NE(esr, calls.end());
    EXPECT_EQ(esr->rfind("Send(0, " + std::to_string(c.deviceAfter) + ",", 0), 0u) << *esr;
    EXPECT_EQ(run.bench.state.DeviceAddress, c.deviceAfter);
    EXPECT_EQ(run.bench.state.PrimaryAddress, c.deviceAfter);
}

INSTANTIATE_TEST_SUITE_P(Entries, AddressFunction,
                         testing::Values(AddressEntry{"5", 5, 2}, AddressEntry{"0", 0, 2},
                                         AddressEntry{"31", 9, 2}, AddressEntry{"45", 9, 2},
                                         AddressEntry{"99999", 9, 2}, AddressEntry{"-1", 9, 2},
                                         AddressEntry{"4.5", 4, 2}, AddressEntry{"xxx", 9, 2}));

TEST(FunctionMenu, AnAddressMoveCarriesAllLaterTrafficAndTheUnitAnswersThere) {
    SimpleUnitRun run("7174", 9);
    run.setAddress(QStringLiteral("9"));
    run.enter(QStringLiteral("5"));
    EXPECT_EQ(run.lines().at(0), line(addressPrompt, "5"));
    const auto before = run.mark();
    run.advance(1);
    EXPECT_EQ(run.bench.calls(before).at(0).rfind("Send(0, 5, \"*ESE?\"", 0), 0u);
    EXPECT_EQ(run.lines().at(1), line(esePrompt, "0"));

    SimpleUnitRun keep("7174", 9);
    keep.setAddress(QStringLiteral("9"));
    keep.enter(QStringLiteral("31"));
    EXPECT_EQ(keep.lines().at(0), line(addressPrompt, "9/31"));
}

TEST(FunctionMenu, SendsAnEntryExactlyAsTyped) {
    for (const QString& entry : {QStringLiteral("   "), QStringLiteral(" 12 "), QStringLiteral("ASCii"),
                                 QString(300, u'9'), QStringLiteral("1;*RST")}) {
        SimpleUnitRun run;
        run.setAddress(QStringLiteral("5"));
        run.advance(1);
        const auto before = run.mark();
        run.enter(entry);
        EXPECT_EQ(run.bench.wire(before).at(0), "> *ESE " + entry.toStdString());
    }
}

TEST(FunctionMenu, RefusesAnEntryHoldingALineBreakOrControlCharacter) {
    for (const QString& entry : {QStringLiteral("5\n*RST"), QStringLiteral("5\r"), QStringLiteral("\t5"),
                                 QString(QChar(0)) + QStringLiteral("5"), QStringLiteral("5\x1b")}) {
        SimpleUnitRun run;
        run.setAddress(QStringLiteral("5"));
        run.advance(1);
        const auto before = run.mark();
        const int beeps = run.bench.interaction.beeps;
        run.enter(entry);
        EXPECT_EQ(run.bench.wire(before), Wire{"beep"});
        EXPECT_EQ(run.bench.interaction.beeps, beeps + 1);
        EXPECT_FALSE(run.box("txtErrMsg")->isHidden());
        EXPECT_EQ(control<QLineEdit>(*run.window, "txtChoice")->text(), entry) << "kept for correction";

        run.enter(QStringLiteral("5"));
        EXPECT_TRUE(run.box("txtErrMsg")->isHidden());
        EXPECT_EQ(run.bench.sim.unitAt(5)->value("*ESE"), "5");
    }
}

TEST(FunctionMenu, AFailedReadStillShowsTheLineAndTheOperatorGoesOn) {
    SimpleUnitRun run;
    run.setAddress(QStringLiteral("5"));
    run.bench.sim.failNext("Receive", bus::ni::EABO);
    run.advance(1);
    EXPECT_FALSE(run.box("txtGPIBErr")->isHidden());
    EXPECT_TRUE(
        run.box("txtGPIBErr")
            ->text()
            .startsWith(QStringLiteral(
                "Receive Error,  ibsta = &HC000 <  ERR TIMO  >, iberr =  6 EABO <Operation aborted>")));
    EXPECT_EQ(run.lines().at(1), line(esePrompt, QString(17, u' ')));
    run.advance(1);
    EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
    EXPECT_EQ(run.lines().at(2), line(srePrompt, "0"));
}

// The advice names what went wrong first: a query nobody took leaves the receive after it nothing
// to wait for, and that timeout is not the unit's silence. The report stays the receive's.
TEST(FunctionMenu, AdvisesOnTheFirstCallOfAQueryThatFailed) {
    const struct {
        int sendError; // -1: the query goes out
        const char* advice;
    } cases[] = {
        {bus::ni::ENOL, "No unit listens at address 5:"},
        {-1, "The unit at address 5 does not answer as a 7174:"},
    };
    for (const auto& c : cases) {
        SimpleUnitRun run;
        run.setAddress(QStringLiteral("5"));
        if (c.sendError >= 0) {
            run.bench.sim.failNext("Send", c.sendError);
        }
        run.bench.sim.failNext("Receive", bus::ni::EABO);
        run.advance(1);
        EXPECT_TRUE(
            run.box("txtGPIBErr")
                ->text()
                .startsWith(QStringLiteral(
                    "Receive Error,  ibsta = &HC000 <  ERR TIMO  >, iberr =  6 EABO <Operation aborted>")))
            << run.box("txtGPIBErr")->text().toStdString();
        const QString advice = control<ui::StatusLine>(*run.window, "statusLine")->text();
        EXPECT_TRUE(advice.startsWith(QLatin1String(c.advice))) << advice.toStdString();
    }
}

TEST(FunctionMenu, RepliesThatFillTheBufferAreCutToSeventeenCharacters) {
    SimpleUnitRun run;
    run.setAddress(QStringLiteral("5"));
    run.bench.sim.queueReply(5, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    run.advance(1);
    EXPECT_EQ(run.lines().at(1), line(esePrompt, "ABCDEFGHIJKLMNOPQ"));
}

TEST(FunctionMenu, DoubleClickActsAsEnterOnlyWhileEnterIsOffered) {
    SimpleUnitRun run;
    run.setAddress(QStringLiteral("5"));
    const auto first = run.mark();
    run.window->lstFunction_DblClick();
    EXPECT_EQ(run.bench.wire(first), (Wire{"> *ESE?", "< 0\\n"})) << "moved on to function 2";
    run.advance(2);
    ASSERT_FALSE(run.button("cmdEnter")->isEnabled());
    const auto before = run.mark();
    control<QLineEdit>(*run.window, "txtChoice")->setText(QStringLiteral("9"));
    run.window->lstFunction_DblClick();
    run.window->lstFunction_DblClick();
    EXPECT_TRUE(run.bench.wire(before).empty());
    EXPECT_EQ(run.lines().size(), 3);
}

TEST(FunctionMenu, TriggersTheUnitBeforeTheFirstQueryWhenTheTableAsks) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7185B");
    run.open(QStringLiteral("7185B"));
    const auto before = run.mark();
    run.setAddress(QStringLiteral("5"));
    const Wire expected = {"SendIFC(0)", "DevClear(0, 5)", "cmd ?",       "pause 200",
                           "cmd %",      "pause 200",      "cmd ?",       "pause 200",
                           "cmd %\\x08", "pause 200",      "> SYST:MODE?"};
    Wire wire = run.bench.wire(before);
    ASSERT_GE(wire.size(), expected.size());
    wire.resize(expected.size());
    EXPECT_EQ(wire, expected);
    EXPECT_FALSE(run.lines().at(0).trimmed().endsWith(QStringLiteral("G/S")))
        << "the triggered unit answered";
}

TEST(PrepItem, PutsTheSettingInColumnThirtySix) {
    const struct {
        int promptLength;
        qsizetype settingAt;
    } cases[] = {{0, 35}, {20, 35}, {33, 35}, {34, 35}, {35, 36}, {40, 41}};
    for (const auto& c : cases) {
        const QString shown = ui::frmConfig::PrepItem(QString(c.promptLength, u'p'), QStringLiteral("42\n"));
        EXPECT_EQ(shown.indexOf(u'4'), c.settingAt) << c.promptLength;
        EXPECT_TRUE(shown.endsWith(QStringLiteral("42"))) << "the last character is dropped";
    }
}

TEST(TrimResponse, CutsAfterTheFirstLineFeedOrKeepsTheWholeBuffer) {
    using ui::frmConfig;
    EXPECT_EQ(run::ConfigurationRun::TrimResponse(QStringLiteral("12\n34\n            ")),
              QStringLiteral("12\n"));
    EXPECT_EQ(run::ConfigurationRun::TrimResponse(QStringLiteral("no line feed here ")),
              QStringLiteral("no line feed here "));
    EXPECT_EQ(run::ConfigurationRun::TrimResponse(QStringLiteral("\n")), QStringLiteral("\n"));
}

} // namespace
} // namespace ktq::test
