// Every family of the catalogue run through the configuration window.
#include "bus/calltext.h"
#include "configrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>

// Every family of the catalogue driven through the configuration window against a simulated unit
// of that family: what each table sends before its first query, which lines it shows, how the
// four-channel units move from channel to channel, and what the unit keeps after a save.

namespace ktq::test {
namespace {

using Wire = std::vector<std::string>;

const char* const lockButtons[] = {"cmdLock", "cmdSRQ", "cmdNoSRQ"};

// A window opened for `model`, with one unit of that model on the bus at `address`.
struct UnitRun : ConfigRun {
    UnitRun(const char* model, int address) : unit(bench.sim.addUnit(address, model)) {
        open(QString::fromLatin1(model));
    }
    bool shown(const char* name) const { return !button(name)->isHidden() && button(name)->isEnabled(); }
    bool anyLockButtonEnabled() const {
        return std::any_of(std::begin(lockButtons), std::end(lockButtons),
                           [this](const char* name) { return button(name)->isEnabled(); });
    }
    sim::SimUnit& unit;
};

// Enter or Advance on an empty box until the list is finished.
void finishList(ConfigRun& run) {
    for (int guard = 0; guard < 30 && run.button("cmdEnter")->isEnabled(); ++guard) {
        run.enter();
    }
}

// Each function's line as it was shown, from the one Set Address showed to the end of the list.
QStringList walk(ConfigRun& run) {
    QStringList shown;
    if (!run.lines().isEmpty()) {
        shown << run.lines().back();
    }
    for (int guard = 0; guard < 30; ++guard) {
        run.enter();
        if (!run.button("cmdEnter")->isEnabled()) {
            break;
        }
        shown << run.lines().back();
    }
    return shown;
}

// The function queries that went out, in order (the status queries left out).
Wire queries(const Wire& wire) {
    Wire out;
    std::copy_if(wire.begin(), wire.end(), std::back_inserter(out), [](const std::string& l) {
        return l.starts_with("> ") && l.ends_with("?") && l != "> *ESR?";
    });
    return out;
}

long countStarting(const Wire& wire, const std::string& head) {
    return std::count_if(wire.begin(), wire.end(), [&](const std::string& l) { return l.starts_with(head); });
}

Wire cat(Wire first, const Wire& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// Unlisten, the unit's listen address, Unlisten, listen address with Group Execute Trigger.
Wire triggerSequence(int address) {
    const std::string listen(1, static_cast<char>(32 + address));
    return {"cmd ?", "pause 200", "cmd " + listen,           "pause 200",
            "cmd ?", "pause 200", "cmd " + listen + "\\x08", "pause 200"};
}

// Answers the channel dialog with its own proposal and notes what it proposed.
std::function<void(QDialog&)> acceptProposal(QStringList& proposals) {
    return [&proposals](QDialog& dialog) {
        proposals << control<QLineEdit>(dialog, "txtChNum")->text();
        control<QPushButton>(dialog, "cmdChSel")->click();
    };
}

struct StartCase {
    const char* model;
    int address;
    Wire start;       // from Set Address to the reply of function 1
    bool lockOffered; // Lock Settings, Save ESE and SRE, Don't Save SRE at the end of the first list
};

const Wire clearAt5 = {"SendIFC(0)", "DevClear(0, 5)"};
const Wire unlockAndAsk = {"> CAL:LOCK 0", "> *CLS", "> SYST:COMM:GPIB:ADDR?", "< 5\\n"};

StartCase parallel(const char* model) {
    return {model, 5, cat(cat(clearAt5, {"modal NOTICE", "SendIFC(0)"}), unlockAndAsk), true};
}
StartCase locking(const char* model) {
    return {model, 5, cat(clearAt5, unlockAndAsk), true};
}
StartCase triggered(const char* model, int address, const std::string& firstQuery, const std::string& reply) {
    return {model, address,
            cat(cat({"SendIFC(0)", "DevClear(0, " + std::to_string(address) + ")"}, triggerSequence(address)),
                {firstQuery, reply}),
            false};
}

void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.model;
}

class CatalogueStart : public testing::TestWithParam<StartCase> {};

TEST_P(CatalogueStart, OpensTheMenuAsTheModelsTableAsks) {
    const StartCase& c = GetParam();
    UnitRun run(c.model, c.address);
    QString notice;
    run.bench.interaction.scripts.push_back([&notice](QDialog& dialog) {
        if (dialog.windowTitle() == QStringLiteral("NOTICE")) {
            notice = control<ui::MessageLine>(dialog, "txtNotice")->text();
            control<QPushButton>(dialog, "cmdCancel")->click();
        } else {
            answerChannel(QStringLiteral("1"))(dialog);
        }
    });
    const auto before = run.mark();
    run.setAddress(QString::number(c.address));
    const Wire wire = run.bench.wire(before);
    ASSERT_GE(wire.size(), c.start.size());
    EXPECT_EQ(Wire(wire.begin(), wire.begin() + static_cast<long>(c.start.size())), c.start);
    EXPECT_FALSE(run.anyLockButtonEnabled());

    const bool withNotice = countStarting(c.start, "modal NOTICE") == 1;
    if (withNotice) {
        // The first sentence names the model chosen, whichever of the four it is.
        EXPECT_TRUE(notice.startsWith(
            QStringLiteral("    NOTE - This routine configures a ") + QString::fromLatin1(c.model) +
            QStringLiteral(" for string data transfer and does NOT configure the unit for "
                           "byte transfer nor for monitoring input data in the "
                           "Questionable Register.")))
            << notice.toStdString();
    }

    // Nothing of the start-up is repeated later in the pass.
    finishList(run);
    const Wire pass = run.bench.wire(before);
    EXPECT_EQ(countStarting(pass, "cmd "), countStarting(c.start, "cmd "));
    EXPECT_EQ(countStarting(pass, "SendIFC"), countStarting(c.start, "SendIFC"));
    EXPECT_EQ(countStarting(pass, "modal NOTICE"), withNotice ? 1 : 0);
    EXPECT_EQ(countStarting(pass, "> CAL:LOCK 0"), countStarting(c.start, "> CAL:LOCK 0"));
    for (const char* name : lockButtons) {
        EXPECT_EQ(run.button(name)->isEnabled(), c.lockOffered) << name;
    }
    const bool multiChannel = run.bench.state.ModelNumber == 7170 || run.bench.state.ModelNumber == 7189;
    EXPECT_EQ(run.button("cmdSav")->isEnabled(), !multiChannel);
    EXPECT_EQ(run.shown("cmdNextCh"), multiChannel);
}

INSTANTIATE_TEST_SUITE_P(
    CatalogueFamilies, CatalogueStart,
    testing::Values(
        parallel("7121"), parallel("7172"), parallel("7158"), parallel("7165B"),
        triggered("7185A", 5, "> SYST:MODE?", "< G\\n"), triggered("7134B", 9, "> SYST:MODE?", "< G\\n"),
        triggered("7187", 12, "> SYST:MODE?", "< G\\n"), triggered("7181A", 5, "> SYST:EMUL?", "< KTQ\\n"),
        triggered("7181B", 5, "> SYST:EMUL?", "< KTQ\\n"), locking("7142"), locking("7150"), locking("7153"),
        locking("7162"), locking("7174"),
        StartCase{"7189",
                  5,
                  {"modal Channels", "SendIFC(0)", "DevClear(0, 511)", "> SYST:COMM:GPIB:ADDR?", "< 5\\n"},
                  false},
        StartCase{"7170A", 5, cat(cat(clearAt5, {"modal Channels", "> C  1"}), unlockAndAsk), false}),
    [](const testing::TestParamInfo<StartCase>& info) { return std::string("Model") + info.param.model; });

TEST(CatalogueTables, TheLetterDecidesThePrinterTable) {
    const QString pmode = QStringLiteral("PMode - CONTROLLER/DEVICE/TALK ONLY");
    const struct {
        const char* model;
        std::size_t functions;
        const char* sixthQuery;
        QString sixthLine;
    } cases[] = {
        {"7181A", 6, "> SYST:PMOD?", line(pmode, "DEVICE")},
        {"7181B", 7, "> SYST:COMM:GPIB:IDLE?",
         line(QStringLiteral("Enable spc-bkspc every 8s - 0 or 1"), "0")},
    };
    for (const auto& c : cases) {
        UnitRun run(c.model, 5);
        EXPECT_EQ(run.bench.state.ModelNumber, 7181);
        const auto before = run.mark();
        run.setAddress(QStringLiteral("5"));
        finishList(run);
        const Wire sent = queries(run.bench.wire(before));
        ASSERT_EQ(sent.size(), c.functions) << c.model;
        EXPECT_EQ(sent[5], c.sixthQuery) << c.model;
        const QStringList shown = run.lines();
        ASSERT_EQ(static_cast<std::size_t>(shown.size()), c.functions) << c.model;
        EXPECT_EQ(shown[5], c.sixthLine) << c.model;
        EXPECT_EQ(shown.back(), line(pmode, "DEVICE")) << c.model;
    }
}

TEST(CatalogueTables, ModelsSharingATableShowTheSameLines) {
    const struct {
        std::vector<const char*> models;
        qsizetype functions;
        QString telling; // a prompt that sets the table apart from its neighbours
    } groups[] = {
        {{"7134A", "7134B", "7185A", "7185B"}, 17, QStringLiteral("Tristate Xtmr btwn msgs - 1/0")},
        {{"7153", "7153A", "7168A"}, 11, QStringLiteral("RS-485 half-duplex operation-1/0")},
        {{"7142", "7160", "7176"}, 10, QStringLiteral("Timeout - 25 to 65535 ms\"")},
        {{"7162", "7162A", "7199", "7199A"}, 10, QStringLiteral("Tristate xtmr btwn msgs - 1/0")},
    };
    for (const auto& group : groups) {
        QStringList first;
        for (const char* model : group.models) {
            UnitRun run(model, 5);
            run.setAddress(QStringLiteral("5"));
            const QStringList shown = walk(run);
            EXPECT_EQ(shown.size(), group.functions) << model;
            if (first.isEmpty()) {
                first = shown;
                EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const QString& l) {
                    return l.startsWith(group.telling);
                })) << model;
            }
            EXPECT_EQ(shown, first) << model << " differs from " << group.models.front();
        }
    }
}

// Done, and Done again when the first press only warned.
void leave(ConfigRun& run) {
    const auto closedBefore = run.closed.count();
    for (int press = 0; press < 2 && run.closed.count() == closedBefore; ++press) {
        run.button("cmdDone")->click();
    }
    ASSERT_EQ(run.closed.count(), closedBefore + 1);
}

TEST(CatalogueTables, EachTableInTheSameWindowStandsOnItsOwn) {
    ConfigRun run;
    run.bench.sim.addUnit(12, "7181B");
    run.bench.sim.addUnit(5, "7121");
    run.bench.sim.addUnit(9, "7174");
    run.open(QStringLiteral("7181B"));
    run.setAddress(QStringLiteral("12"));
    finishList(run);
    leave(run);

    // After the printer's "SYST" prefix and address function 3, the parallel table has neither.
    run.open(QStringLiteral("7121"));
    auto before = run.mark();
    run.setAddress(QStringLiteral("5"));
    run.enter(QStringLiteral("6"));
    EXPECT_EQ(run.lines().at(0), line(QStringLiteral("Bus Address - 0 to 30"), "6"));
    EXPECT_EQ(run.bench.state.DeviceAddress, 6);
    finishList(run);
    const Wire parallelQueries = queries(run.bench.wire(before));
    ASSERT_FALSE(parallelQueries.empty());
    EXPECT_EQ(parallelQueries.front(), "> SYST:COMM:GPIB:ADDR?");
    EXPECT_EQ(parallelQueries.size(), 22u) << "21 functions and the address read back";
    EXPECT_TRUE(run.button("cmdLock")->isEnabled());
    leave(run);

    // A 3-function table after a 21-function one: the entries left above 3 are never shown.
    run.open(QStringLiteral("7174"));
    before = run.mark();
    run.setAddress(QStringLiteral("9"));
    finishList(run);
    EXPECT_EQ(run.lines(), (QStringList{line(QStringLiteral("Bus Address - 0 to 30 or 31"), "9"),
                                        line(QStringLiteral("ESR Enable Bits - 0 to 255"), "0"),
                                        line(QStringLiteral("SRE Enable Bits - 0 to 255"), "0")}));
    EXPECT_EQ(queries(run.bench.wire(before)), (Wire{"> SYST:COMM:GPIB:ADDR?", "> *ESE?", "> *SRE?"}));
    EXPECT_EQ(countStarting(run.bench.wire(before), "modal NOTICE"), 0);
    EXPECT_TRUE(run.button("cmdSav")->isEnabled());
    EXPECT_TRUE(run.button("cmdLock")->isEnabled());
}

TEST(CatalogueChannels, Model7189ConfiguresEachChannelBehindItsOwnSecondaryAddress) {
    UnitRun run("7189", 5);
    QStringList proposals;
    const std::string bauds[] = {"1200", "2400", "19200", "115200"};
    int word = 0;
    for (int channel = 1; channel <= 4; ++channel) {
        SCOPED_TRACE(channel);
        // Function 1 of channel 1 moves the unit from 5 to 7; every later channel follows it.
        const int primary = channel == 1 ? 5 : 7;
        word = 7 + 256 * (96 + 10 + channel);
        run.bench.interaction.scripts.push_back(acceptProposal(proposals));
        auto before = run.mark();
        if (channel == 1) {
            run.setAddress(QStringLiteral("5"));
        } else {
            ASSERT_TRUE(run.shown("cmdNextCh"));
            run.button("cmdNextCh")->click();
        }
        const Wire start = run.bench.wire(before);
        ASSERT_GE(start.size(), 3u);
        EXPECT_EQ(Wire(start.begin(), start.begin() + 3),
                  (Wire{"modal Channels", "SendIFC(0)",
                        "DevClear(0, " + std::to_string(primary * 100 + 10 + channel) + ")"}));
        EXPECT_EQ(proposals.back(), QString::number(channel));
        EXPECT_EQ(control<QLineEdit>(*run.window, "txtChNum")->text(),
                  QStringLiteral("Configuring channel # ") + QString::number(channel));
        EXPECT_TRUE(run.button("cmdNextCh")->isHidden());
        EXPECT_FALSE(run.button("cmdNextCh")->isEnabled());

        if (channel == 1) {
            run.enter(QStringLiteral("7"));
            EXPECT_EQ(run.lines().at(0), line(QStringLiteral("Bus Address - 0 to 30 or 31"), "7"));
            EXPECT_EQ(run.bench.state.DeviceAddress, word) << "the channel's secondary address stays";
            before = run.mark();
        }
        run.advance(2);
        run.enter(QString::fromStdString(bauds[channel - 1]));
        run.advance(11); // function 14 shown
        EXPECT_TRUE(run.lines().back().startsWith(QStringLiteral("SRE Enable Bits - 0 to 255")));
        EXPECT_TRUE(run.button("cmdNextCh")->isHidden());
        EXPECT_TRUE(run.button("cmdEnter")->isEnabled());
        run.advance(1);

        for (const std::string& call : run.bench.calls(before)) {
            if (call.starts_with("Send(") || call.starts_with("Receive(")) {
                EXPECT_NE(call.find("(0, " + bus::addressText(static_cast<std::uint16_t>(word)) + ","),
                          std::string::npos)
                    << call;
            }
        }
        EXPECT_EQ(run.shown("cmdNextCh"), channel < 4);
        EXPECT_FALSE(run.button("cmdEnter")->isEnabled());
        EXPECT_EQ(run.button("cmdSav")->isEnabled(), channel == 4);
        EXPECT_FALSE(run.anyLockButtonEnabled());
    }

    const auto before = run.mark();
    run.button("cmdSav")->click();
    const auto calls = run.bench.calls(before);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].starts_with("Send(0, " + bus::addressText(static_cast<std::uint16_t>(word)) +
                                     ", \"*SAV 0\""))
        << calls[0];
    EXPECT_FALSE(run.anyLockButtonEnabled());
    EXPECT_TRUE(run.leavesAtOnce()) << "saved";

    run.unit.powerCycle();
    EXPECT_EQ(run.unit.primary(), 7);
    for (int channel = 1; channel <= 4; ++channel) {
        EXPECT_EQ(run.unit.value("SYST:COMM:SER:BAUD", channel), bauds[channel - 1]) << channel;
    }
}

TEST(CatalogueChannels, Model7170TellsTheUnitEachChannelBeforeItsMenu) {
    UnitRun run("7170A", 5);
    QStringList proposals;
    const QString average = QStringLiteral("V In Average - 1-50");
    const std::string averages[] = {"10", "5", "25", "50"};
    for (int channel = 1; channel <= 4; ++channel) {
        SCOPED_TRACE(channel);
        run.bench.interaction.scripts.push_back(acceptProposal(proposals));
        const auto before = run.mark();
        if (channel == 1) {
            run.setAddress(QStringLiteral("5"));
        } else {
            run.button("cmdNextCh")->click();
        }
        const Wire expected =
            cat(cat(clearAt5, {"modal Channels", "> C  " + std::to_string(channel)}), unlockAndAsk);
        const Wire start = run.bench.wire(before);
        ASSERT_GE(start.size(), expected.size());
        EXPECT_EQ(Wire(start.begin(), start.begin() + static_cast<long>(expected.size())), expected);
        EXPECT_EQ(proposals.back(), QString::number(channel));
        EXPECT_EQ(run.unit.selectedChannel(), channel);
        // Left shown by the previous channel: the routine of this model does not hide it.
        EXPECT_EQ(run.shown("cmdNextCh"), channel > 1);

        run.advance(11);
        ASSERT_TRUE(run.lines().back().startsWith(average));
        run.enter(QString::fromStdString(averages[channel - 1]));
        EXPECT_EQ(run.lines().back(), line(average, QString::fromStdString(averages[channel - 1])));
        run.advance(3);
        EXPECT_EQ(run.shown("cmdNextCh"), channel > 1);
        EXPECT_TRUE(run.button("cmdEnter")->isEnabled());
        run.advance(1);

        EXPECT_TRUE(run.shown("cmdNextCh"));
        EXPECT_FALSE(run.button("cmdEnter")->isEnabled());
        EXPECT_EQ(run.button("cmdSav")->isEnabled(), channel == 4);
        EXPECT_FALSE(run.anyLockButtonEnabled()) << "not offered although the table supports locking";
    }

    run.button("cmdSav")->click();
    EXPECT_TRUE(run.leavesAtOnce()) << "saved";
    EXPECT_EQ(run.unit.saveCount(), 1);
    run.unit.powerCycle();
    for (int channel = 1; channel <= 4; ++channel) {
        EXPECT_EQ(run.unit.value("MEAS:AVER", channel), averages[channel - 1]) << channel;
    }
}

struct SavedSetting {
    const char* model;
    int function;       // the one typed into, counted from 1
    const char* header; // as the unit names it, the table's prefix included
    const char* typed;
    const char* stored;              // as the unit answers it
    const char* afterSave = nullptr; // a further button pressed after Save Configuration
};

void PrintTo(const SavedSetting& c, std::ostream* os) {
    *os << c.model << ' ' << c.header << ' ' << c.typed;
}

class CatalogueEndToEnd : public testing::TestWithParam<SavedSetting> {};

TEST_P(CatalogueEndToEnd, TheUnitKeepsTheTypedValueOverPowerUp) {
    const SavedSetting& c = GetParam();
    UnitRun run(c.model, 5);
    ASSERT_NE(run.unit.value(c.header), c.stored) << "the unit must not hold the value from delivery";
    run.setAddress(QStringLiteral("5"));
    run.advance(c.function - 1);
    const auto before = run.mark();
    run.enter(QString::fromLatin1(c.typed));
    const Wire wire = run.bench.wire(before);
    ASSERT_FALSE(wire.empty());
    EXPECT_EQ(wire.front(), "> " + std::string(c.header) + " " + c.typed);
    EXPECT_TRUE(run.lines().at(c.function - 1).endsWith(QLatin1Char(' ') + QString::fromLatin1(c.stored)))
        << run.lines().at(c.function - 1).toStdString();

    finishList(run);
    ASSERT_TRUE(run.button("cmdSav")->isEnabled());
    run.button("cmdSav")->click();
    if (c.afterSave != nullptr) {
        run.button(c.afterSave)->click();
    }
    EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
    EXPECT_EQ(run.unit.saveCount(), 1);

    run.unit.powerCycle();
    EXPECT_EQ(run.unit.value(c.header), c.stored);
    run.button("cmdDone")->click();
    EXPECT_EQ(run.closed.count(), 1) << "saved, so Done closes at once";
}

INSTANTIATE_TEST_SUITE_P(CatalogueFamilies, CatalogueEndToEnd,
                         testing::Values(SavedSetting{"7121", 8, "FORM:TALK", "HEXL", "HEXL"},
                                         SavedSetting{"7142", 3, "SYST:COMM:SER:BAUD", "19200", "19200"},
                                         SavedSetting{"7150", 8, "SYST:COMM:SER:RS485", "1", "1"},
                                         SavedSetting{"7185B", 4, "SYST:COMM:SER:BAUD", "57600", "57600"},
                                         SavedSetting{"7187", 4, "SYST:COMM:SER:BAUD", "38400", "38400"},
                                         SavedSetting{"7181B", 6, "SYST:COMM:GPIB:IDLE", "1", "1"},
                                         SavedSetting{"7153", 9, "D", "500", "500"},
                                         SavedSetting{"7162", 9, "C", "17", "17"},
                                         // The enable masks survive power-up only after Save ESE and SRE.
                                         SavedSetting{"7174", 2, "*ESE", "16", "16", "cmdSRQ"}),
                         [](const testing::TestParamInfo<SavedSetting>& info) {
                             return std::string("Model") + info.param.model;
                         });

} // namespace
} // namespace ktq::test
