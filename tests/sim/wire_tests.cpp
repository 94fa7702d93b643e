// The wire-level bus and the emulated board: addressing, EOI and timing.
#include "sim/board/board.h"
#include "sim/board/gpibioctl.h"
#include "sim/linuxgpib.h"
#include "sim/simbus.h"
#include "sim/units/families.h"
#include "sim/wire/wirebus.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <future>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace ktq::sim::test {
namespace {

using std::chrono::microseconds;
using Events = std::vector<std::string>;

// A 7174 at 5 (primary address only) and a 7189 at 9 (channels behind secondaries 11 to 14).
class Wire : public ::testing::Test {
protected:
    Wire() {
        bus.addUnit(5, *findModel("7174"));
        bus.addUnit(9, *findModel("7189"));
        bus.setEventLog(true);
    }
    Events eventsFrom(std::size_t first) const {
        return Events(bus.events().begin() + static_cast<long>(first), bus.events().end());
    }

    WireBus bus;
};

// Each address byte decoded: who takes the data after these commands.
TEST_F(Wire, AddressBytesChooseTheListeners) {
    const struct {
        std::string commands;
        std::string listeners;
    } cases[] = {
        {"?%", "5"},         // UNL, listen 5
        {"?)k", "9.11"},     // listen 9, secondary 11: the 7189's first channel
        {"?)", "-"},         // the 7189 does not listen on its primary alone
        {"?%b", "5"},        // a unit without secondaries ignores one after its address
        {"?%)m", "5,9.13"},  // two listeners
        {"?%?", "-"},        // unlisten after listen
        {"?&", "-"},         // nobody at 6
        {"? ", "-"},         // 0 is the controller's own listen address
        {"\x14?%\x3f", "-"}, // DCL, then listen and unlisten
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commands);
        bus.command(c.commands);
        const bool taken = bus.write("*CLS", true);
        EXPECT_EQ(taken, c.listeners != "-");
        EXPECT_EQ(bus.events().back(), "WRITE " + c.listeners + " \"*CLS\" EOI");
    }
    EXPECT_FALSE(bus.controllerListens()) << "UNL ends the controller's listening too";
}

TEST_F(Wire, EoiEndsAMessageAndConsecutiveWritesMakeOneLine) {
    bus.command("?%");
    bus.write("*ESE 4", true);
    bus.write("*ESE", false);
    bus.write(" 8", false);
    EXPECT_EQ(bus.unitAt(5)->ese(), 4) << "no EOI, no line feed: the second message is not complete";
    bus.write("\n", true);
    EXPECT_EQ(bus.unitAt(5)->ese(), 8);
    EXPECT_EQ(bus.events(), (Events{"CMD \"?%\"", "WRITE 5 \"*ESE 4\" EOI", "WRITE 5 \"*ESE 8\\n\" EOI"}));
}

TEST_F(Wire, ReadTakesTheTalkersReplyUpToEoiTheEndByteOrTheCount) {
    std::vector<microseconds> waited;
    bus.setTimeoutWait([&waited](microseconds timeout) { waited.push_back(timeout); });
    bus.command("?%");
    bus.write("SYST:COMM:GPIB:ADDR?\n", true);
    bus.command("? E");
    EXPECT_TRUE(bus.controllerListens());
    const auto first = bus.read(1, -1, false, microseconds(3000000));
    EXPECT_EQ(first.bytes, "5");
    EXPECT_FALSE(first.end);
    const auto rest = bus.read(100, -1, false, microseconds(3000000));
    EXPECT_EQ(rest.bytes, "\n");
    EXPECT_TRUE(rest.end);
    EXPECT_TRUE(waited.empty());

    // Nobody has anything to say: the timeout passes through the wait, once per read.
    const auto none = bus.read(100, '\n', false, microseconds(3000000));
    EXPECT_TRUE(none.timedOut);
    bus.command("?_");
    EXPECT_TRUE(bus.read(100, -1, false, microseconds(10)).timedOut);
    EXPECT_EQ(waited, (std::vector<microseconds>{microseconds(3000000), microseconds(10)}));

    // The end-of-string byte ends a read early, in 7 bits unless asked for 8.
    bus.queueReply(9, "AB\x8a"
                      "CD\n");
    bus.command("?I");
    EXPECT_EQ(bus.read(100, '\n', true, microseconds(1)).bytes, "AB\x8a"
                                                                "CD\n");
    bus.queueReply(9, "AB\x8a"
                      "CD\n");
    const auto sevenBit = bus.read(100, '\n', false, microseconds(1));
    EXPECT_EQ(sevenBit.bytes, "AB\x8a");
    EXPECT_TRUE(sevenBit.end);
    EXPECT_EQ(eventsFrom(bus.events().size() - 6),
              (Events{"TIMEOUT READ 5", "CMD \"?_\"", "TIMEOUT READ -", "CMD \"?I\"",
                      "READ 9 \"AB\\x8aCD\\n\" EOI", "READ 9 \"AB\\x8a\""}));
}

TEST_F(Wire, TriggerAndSelectedClearReachOnlyAddressedListenersDeviceClearReachesAll) {
    bus.addUnit(12, *findModel("7185A"));
    bus.command("?,\x08"); // listen 12, GET
    EXPECT_TRUE(bus.unitAt(12)->triggered());
    bus.command("?%");
    bus.write("*ESE?\n", true);
    bus.command("?)k\x04"); // SDC to the 7189's channel only
    EXPECT_TRUE(bus.unitAt(5)->replyPending());
    bus.command("\x14");
    EXPECT_FALSE(bus.unitAt(5)->replyPending());
}

TEST_F(Wire, NdacIsHeldByAddressedListenersOnly) {
    bus.command("?&");
    EXPECT_FALSE(bus.ndacHeld());
    bus.command("?%");
    EXPECT_TRUE(bus.ndacHeld());
    bus.command("?)~");
    EXPECT_FALSE(bus.ndacHeld()) << "secondary 30 is none of the 7189's";
    bus.command("?)n");
    EXPECT_TRUE(bus.ndacHeld());
}

// The emulated board turns the real library's ioctls into bus traffic and answers with what the
// kernel driver would.
TEST_F(Wire, BoardAnswersTransfersWithTheKernelsErrors) {
    board::EmulatedBoard emulated;
    const auto transfer = [&](unsigned long request, std::string bytes, int end) {
        board::ReadWrite rw{reinterpret_cast<std::uintptr_t>(bytes.data()),
                            static_cast<unsigned>(bytes.size()), 0, end, 0};
        errno = 0;
        const int result = emulated.control(bus, request, &rw);
        return std::tuple{result, errno, rw.completed, rw.end, bytes.substr(0, rw.completed)};
    };
    EXPECT_EQ(transfer(board::IBCMD, "@?&", 0), std::tuple(0, 0, 3u, 0, std::string("@?&")));
    EXPECT_EQ(transfer(board::IBWRT, "*CLS\n", 1), std::tuple(-1, ECOMM, 0u, 1, std::string()));
    transfer(board::IBCMD, "@?%", 0);
    EXPECT_EQ(transfer(board::IBWRT, "*ESR?\n", 1), std::tuple(0, 0, 6u, 1, std::string("*ESR?\n")));

    unsigned timeout = 1000;
    emulated.control(bus, board::IBTMO, &timeout);
    std::vector<microseconds> waited;
    bus.setTimeoutWait([&waited](microseconds t) { waited.push_back(t); });
    transfer(board::IBCMD, "? E", 0);
    EXPECT_EQ(transfer(board::IBRD, std::string(18, ' '), 0), std::tuple(0, 0, 2u, 1, std::string("0\n")));
    EXPECT_EQ(transfer(board::IBRD, std::string(18, ' '), 0),
              std::tuple(-1, ETIMEDOUT, 0u, 0, std::string()));
    EXPECT_EQ(waited, std::vector<microseconds>{microseconds(1000)});

    board::Wait wait{};
    emulated.control(bus, board::IBWAIT, &wait);
    EXPECT_EQ(wait.ibsta, lg::CMPL | lg::CIC | lg::LACS);
    short lines = 0;
    transfer(board::IBCMD, "?%", 0);
    emulated.control(bus, board::IBGTS, nullptr);
    emulated.control(bus, board::IBLINES, &lines);
    EXPECT_EQ(lines & (board::validNdac | board::busNdac | board::busAtn), board::validNdac | board::busNdac);
    EXPECT_EQ(emulated.control(bus, 0xdead, nullptr), -1);
}

// While the board waits out a timeout, checks that another thread can reach the bench and the
// table of open boards (through the close hook). The other thread is kept until the test ends: a
// board that held its locks would otherwise keep this one waiting for it for ever.
class ReachableWhileWaiting final : public Sleeper {
public:
    void sleep(std::chrono::milliseconds duration) override {
        slept.push_back(duration.count());
        m_other = std::async(std::launch::async, [] {
            onCurrentBench([](SimBus*) {});
            ::close(-1);
        });
        reached = m_other.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    }
    std::vector<long> slept;
    bool reached = false;

private:
    std::future<void> m_other;
};

// With GPIB_SIM_TIMING=real a read nobody answers takes its whole timeout; the program's other
// threads (a window reading the trace, a test installing a bench) must not wait as long for it.
TEST(EmulatedBoardTiming, AReadWaitsOutItsTimeoutWithoutHoldingTheBench) {
    ReachableWhileWaiting sleeper;
    SimBus bench;
    bench.addUnit(5, "7174");
    bench.setSleeper(&sleeper);
    bench.setTiming(Timing{std::chrono::milliseconds(0), true});
    const ScopedBench installed{bench};
    const int fd = ::open("/dev/gpib0", O_RDWR);
    ASSERT_GE(fd, 0);
    unsigned timeout = 1000000;
    ASSERT_EQ(::ioctl(fd, board::IBTMO, &timeout), 0);
    char buffer[18] = {};
    board::ReadWrite read{reinterpret_cast<std::uintptr_t>(buffer), sizeof buffer, 0, 0, 0};
    errno = 0;
    EXPECT_EQ(::ioctl(fd, board::IBRD, &read), -1);
    EXPECT_EQ(errno, ETIMEDOUT) << "the wait must not replace the transfer's error";
    EXPECT_EQ(sleeper.slept, std::vector<long>{1000});
    EXPECT_TRUE(sleeper.reached) << "the bench or the board table stayed locked through the wait";
    ::close(fd);
}

} // namespace
} // namespace ktq::sim::test
