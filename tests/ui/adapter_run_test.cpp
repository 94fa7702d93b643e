// The configuration window run through "++" adapters: every table against the same walk on a
// board, what the operator types, and the dialogue an adapter sees.
#include "walk.h"

#include "models/catalogue.h"
#include "ui/main/frmmain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace ktq::test {
namespace {

class AdapterCatalogue : public testing::TestWithParam<std::tuple<int, std::size_t>> {};

TEST_P(AdapterCatalogue, WalksTheTableWithTheSameDataAsOnABoard) {
    const QString model = models::modelList().at(std::get<0>(GetParam()));
    const AdapterSide& side = adapterSides().at(std::get<1>(GetParam()));
    ConfigRun board;
    const Walk onBoard = walkTable(board, model, side.profile->eoiWithLastByte);
    ConfigRun adapter(side);
    const Walk onAdapter = walkTable(adapter, model, side.profile->eoiWithLastByte);
    // A 7189's channels answer behind secondary addresses; where the adapter cannot send them,
    // the clear is refused and reported, and nothing reaches another address instead.
    const bool refused = !side.profile->secondaryAddresses && model == QStringLiteral("7189");
    EXPECT_EQ(!adapter.box("txtGPIBErr")->isHidden(), refused);
    if (refused) {
        EXPECT_TRUE(onAdapter.data.empty());
        return;
    }
    ASSERT_FALSE(onBoard.data.empty());
    EXPECT_EQ(onAdapter.data, onBoard.data);
    EXPECT_EQ(onAdapter.shown, onBoard.shown);
    EXPECT_EQ(onAdapter.saves, onBoard.saves);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, AdapterCatalogue,
                         testing::Combine(testing::Range(0, static_cast<int>(models::modelList().size())),
                                          testing::Range<std::size_t>(0, adapterSides().size())),
                         [](const testing::TestParamInfo<std::tuple<int, std::size_t>>& info) {
                             return "Model" + models::modelList().at(std::get<0>(info.param)).toStdString() +
                                    "_" + adapterSides().at(std::get<1>(info.param)).name;
                         });

class AdapterSafety : public testing::TestWithParam<std::size_t> {
protected:
    const AdapterSide& side() const { return adapterSides().at(GetParam()); }
    // What brings an adapter up, and nothing that changes what it keeps over power-up: one already
    // in controller mode is not put into it again.
    Lines bringUp() const { return side().profile->ar488 ? Lines{} : Lines{"++savecfg 0"}; }
};

TEST_P(AdapterSafety, TheMainWindowsBringUpLeavesTheAdaptersMemoryAlone) {
    Bench bench(side());
    bench.sim.addUnit(5, "7174");
    ui::frmMain window{bench.session()};
    auto* list = control<QListWidget>(window, "listUnit");
    list->setCurrentItem(list->findItems(QStringLiteral("7174"), Qt::MatchExactly).front());
    bench.interaction.scripts.push_back([](QDialog& dialog) { dialog.done(0); });
    control<QPushButton>(window, "cmdConfig")->click();

    EXPECT_TRUE(control<ui::MessageLine>(window, "txtGPIBErr")->isHidden());
    ASSERT_EQ(bench.interaction.modals.size(), 1u) << "the configuration window opened";
    EXPECT_EQ(bench.adapter->settingsCommands(), bringUp());
    const auto& settings = bench.adapter->settings();
    EXPECT_TRUE(settings.controller);
    EXPECT_EQ(settings.autoRead, 0);
    EXPECT_TRUE(settings.eotEnable);
    EXPECT_EQ(settings.eotChar, 0);
    EXPECT_EQ(settings.eos, 3);
    EXPECT_EQ(settings.readTimeoutMs, 3000);
}

// What the operator types goes to the unit as data, never to the adapter as a command; a line
// break or an ESC the window refuses before anything is sent.
TEST_P(AdapterSafety, WhatTheOperatorTypesNeverReachesTheAdapter) {
    ConfigRun run(side());
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    run.bench.sim.wire().setEventLog(true);
    run.setAddress(QStringLiteral("5"));
    run.advance(1); // to the event status enable mask, which takes any text
    const auto heard = run.bench.adapter->dialogue().size();
    for (const char* typed : {"1\r\n++addr 3", "16\x1b++rst"}) {
        run.enter(QString::fromLatin1(typed));
        EXPECT_EQ(run.bench.adapter->dialogue().size(), heard) << "refused before sending: " << typed;
    }
    run.enter(QStringLiteral("++rst"));
    run.bench.sim.wire().flushEvents();
    const Lines& events = run.bench.sim.wire().events();
    const std::string sent =
        std::string(R"(WRITE 5 "*ESE ++rst\n")") + (side().profile->eoiWithLastByte ? " EOI" : "");
    EXPECT_NE(std::find(events.begin(), events.end(), sent), events.end());
    EXPECT_EQ(run.bench.adapter->settingsCommands(), bringUp());
}

INSTANTIATE_TEST_SUITE_P(EveryAdapter, AdapterSafety, testing::Range<std::size_t>(0, adapterSides().size()),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                             return adapterSides().at(info.param).name;
                         });

// The 7174 from Set Address to its first function line, as an adapter hears it and as the bus
// carries it: what the documentation shows users of an adapter.
TEST(AdapterDialogue, Model7174FromSetAddressToTheFirstFunctionLine) {
    ConfigRun run(adapterSides().front());
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7174"));
    run.bench.sim.wire().setEventLog(true);
    const auto heard = run.bench.adapter->dialogue().size();
    run.setAddress(QStringLiteral("5"));
    const Lines& dialogue = run.bench.adapter->dialogue();
    EXPECT_EQ(Lines(dialogue.begin() + static_cast<long>(heard), dialogue.end()),
              (Lines{
                  "> ++ifc",
                  "> ++addr 5",
                  "> ++clr",
                  R"(> CAL:LOCK 0\x1b\n)",
                  R"(> *CLS\x1b\n)",
                  R"(> SYST:COMM:GPIB:ADDR?\x1b\n)",
                  "> ++read eoi",
                  R"(< 5\n\x00)",
              }));
    run.bench.sim.wire().flushEvents();
    EXPECT_EQ(dataOf(run.bench.sim.wire().events()), (Lines{
                                                         R"(WRITE 5 "CAL:LOCK 0\n" EOI)",
                                                         R"(WRITE 5 "*CLS\n" EOI)",
                                                         R"(WRITE 5 "SYST:COMM:GPIB:ADDR?\n" EOI)",
                                                         R"(READ 5 "5\n" EOI)",
                                                     }));
    EXPECT_EQ(run.lines(), QStringList{line(QStringLiteral("Bus Address - 0 to 30 or 31"), "5")});
}

} // namespace
} // namespace ktq::test
