// The traffic log's ring, the adapter dialogue's lines and the addresses of the call text; the
// texts of the window are read in its own tests: its cells, Copy and Save As.
#include "bus/calltext.h"
#include "bus/traffic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ktq::bus {
namespace {

TEST(TrafficLog, KeepsTheLastCallsAndCountsWhatFellOff) {
    TrafficLog log(3);
    for (int k = 0; k < 5; ++k)
        log.add(CallRecord{});
    EXPECT_EQ(log.size(), 3u);
    EXPECT_EQ(log.dropped(), 2u);
    EXPECT_EQ(log.latest(), 5u);
    // Asking from before the front, inside, and at the end.
    const struct {
        std::uint64_t after;
        std::vector<std::uint64_t> numbers;
    } cases[] = {{0, {3, 4, 5}}, {3, {4, 5}}, {5, {}}, {9, {}}};
    for (const auto& c : cases) {
        std::vector<std::uint64_t> numbers;
        for (const CallRecord& record : log.since(c.after))
            numbers.push_back(record.number);
        EXPECT_EQ(numbers, c.numbers) << "after " << c.after;
    }
    log.clear();
    log.add(CallRecord{});
    EXPECT_EQ(log.since(0).front().number, 6u) << "numbers are never reused";
    EXPECT_EQ(log.dropped(), 0u);
}

TEST(DialogueRecorder, SplitsAtLineFeedsAsTheAdapterReadsThem) {
    DialogueRecorder dialogue;
    dialogue.sent("++addr 5\n++read eoi\n");
    dialogue.received("8");
    dialogue.received("2\r\n");
    dialogue.sent("CONF\x1b\nX\n");
    dialogue.received("no line end");
    EXPECT_EQ(dialogue.take(), (std::vector<std::string>{"> ++addr 5", "> ++read eoi", "< 82",
                                                         "> CONF\\x1b\\nX", "< no line end"}));
    EXPECT_TRUE(dialogue.take().empty());
}

TEST(CallText, AddressesReadAsTheOperatorTypesThem) {
    const struct {
        std::uint16_t word;
        const char* text;
    } cases[] = {{5, "5"},        {0x6205, "502"},    {0x7e1d, "2930"},
                 {0x6001, "100"}, {0x1f05, "0x1f05"}, {31, "0x001f"}};
    for (const auto& c : cases)
        EXPECT_EQ(addressText(c.word), c.text) << c.word;
}

} // namespace
} // namespace ktq::bus
