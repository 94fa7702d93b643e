// What the configuration window puts on the bus lines, byte for byte.
#include "configrun.h"

#include <gtest/gtest.h>

#include <algorithm>

// What the configuration window puts on the bus lines, byte for byte: the same through the drop-in
// library and through the real linux-gpib library on the emulated board.

namespace ktq::test {
namespace {

using Events = std::vector<std::string>;

struct WireRun : ConfigRun {
    explicit WireRun(const char* model) {
        bench.sim.addUnit(5, model);
        bench.sim.wire().setEventLog(true);
        open(QString::fromLatin1(model));
    }
    std::size_t eventMark() const { return bench.sim.wire().events().size(); }
    Events eventsFrom(std::size_t first) const {
        const auto& all = bench.sim.wire().events();
        return Events(all.begin() + static_cast<long>(first), all.end());
    }
};

TEST(WireRun, Model7174FromSetAddressToTheFirstFunctionLine) {
    WireRun run("7174");
    const auto start = run.eventMark();
    run.setAddress(QStringLiteral("5"));
    EXPECT_EQ(run.eventsFrom(start), (Events{
                                         "IFC",
                                         R"(CMD "@?%\x04")",
                                         R"(CMD "@?%")",
                                         R"(WRITE 5 "CAL:LOCK 0\n" EOI)",
                                         R"(CMD "@?%")",
                                         R"(WRITE 5 "*CLS\n" EOI)",
                                         R"(CMD "@?%")",
                                         R"(WRITE 5 "SYST:COMM:GPIB:ADDR?\n" EOI)",
                                         R"(CMD "? E")",
                                         R"(READ 5 "5\n" EOI)",
                                     }));
    EXPECT_EQ(run.lines().size(), 1);
}

// Every message of a 7189 goes to the channel's secondary address, none to its primary alone.
TEST(WireRun, Model7189DataGoesToTheChannelsSecondaryAddress) {
    WireRun run("7189");
    run.bench.interaction.scripts.push_back(answerChannel(QStringLiteral("1")));
    const auto start = run.eventMark();
    run.setAddress(QStringLiteral("5"));
    for (int guard = 0; guard < 30 && run.button("cmdEnter")->isEnabled(); ++guard) {
        run.enter();
    }
    const Events events = run.eventsFrom(start);
    const auto writes = std::count_if(events.begin(), events.end(),
                                      [](const std::string& e) { return e.starts_with("WRITE 5.11 "); });
    EXPECT_GE(writes, 5);
    EXPECT_TRUE(std::none_of(events.begin(), events.end(), [](const std::string& e) {
        return e.starts_with("WRITE 5 ") || e.starts_with("WRITE -");
    }));
    EXPECT_NE(std::find(events.begin(), events.end(), R"(READ 5.11 "5\n" EOI)"), events.end());
}

// The power-cycle models are triggered with command bytes before their first query.
TEST(WireRun, Model7185BIsTriggeredWithCommandBytesBeforeTheFirstQuery) {
    WireRun run("7185B");
    const auto start = run.eventMark();
    run.setAddress(QStringLiteral("5"));
    const Events events = run.eventsFrom(start);
    const auto query = std::find(events.begin(), events.end(), R"(WRITE 5 "SYST:MODE?\n" EOI)");
    ASSERT_NE(query, events.end());
    const Events trigger{R"(CMD "?")", R"(CMD "%")", R"(CMD "?")", R"(CMD "%\x08")"};
    const auto found = std::search(events.begin(), query, trigger.begin(), trigger.end());
    EXPECT_NE(found, query);
    EXPECT_TRUE(run.bench.sim.unitAt(5)->triggered());
}

} // namespace
} // namespace ktq::test
