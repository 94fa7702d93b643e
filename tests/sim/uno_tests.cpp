// The real AR488 firmware on the emulated Uno (ktqsim-uno), as a host program meets it on its
// serial port.
#include "unoprocess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using ktq::test::sendBytes;
using ktq::test::untilAnswered;
using Clock = std::chrono::steady_clock;

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

using UnoFirmware = ktq::test::UnoTest<>;
using Uno = ktq::test::UnoProcess;

// Opening the port resets the board: the bootloader takes what comes at once, and the firmware
// starts by itself once the bootloader stops waiting, afresh but for what "++savecfg" wrote to
// the EEPROM, whose image file keeps it for the tool's next start.
TEST_P(UnoFirmware, OpeningResetsTheBoardAndOnlySavecfgWritesTheEepromItKeeps) {
    const std::string image = ::testing::TempDir() + "uno-eeprom-" + std::to_string(::getpid()) + ".bin";
    std::remove(image.c_str());
    {
        Uno uno(firmware(), {"--eeprom", image});
        uno.openStarted(); // its questions end optiboot's wait
        const std::string fresh = uno.ask("++addr");
        ASSERT_NE(fresh, "7\r\n");
        EXPECT_EQ(uno.ask("++addr 7\r\n++eoi 1\r\n++read_tmo_ms 500\r\n++addr"), "7\r\n");
        EXPECT_EQ(uno.said(), "") << "ordinary commands write no EEPROM";
        const auto before = static_cast<long>(uno.busEvents().size());
        uno.open(); // and nothing said: optiboot waits its second, then the firmware starts
        const std::vector<std::string> renCycle{"REN 0", "REN 1"};
        bool cycled = false;
        for (const auto until = Clock::now() + ktq::test::toolBound; !cycled && Clock::now() < until;
             ::usleep(50000)) {
            const std::vector<std::string> events = uno.busEvents();
            cycled = std::search(events.begin() + before, events.end(), renCycle.begin(), renCycle.end()) !=
                     events.end();
        }
        EXPECT_TRUE(cycled) << "released in reset, asserted by the firmware";
        EXPECT_EQ(uno.ask("++ver"), firmware().versionLine);
        EXPECT_EQ(uno.ask("++addr"), fresh) << "reopened, the board starts afresh";
        EXPECT_EQ(uno.ask("++addr 7\r\n++savecfg\r\n++addr"), "7\r\n");
        const std::string said = uno.said(ktq::test::toolBound);
        EXPECT_TRUE(said.starts_with("eeprom ") && said != "eeprom 0\n") << said;
        const int port = uno.open();  // again, with the firmware running
        sendBytes(port, "++ver\r\n"); // while the board is held in reset, then optiboot listens
        const std::string first = untilAnswered(port, "++addr\r\n", "7\r\n");
        EXPECT_EQ(first.find("AR488"), std::string::npos) << first;
        EXPECT_TRUE(first.ends_with("7\r\n")) << "the EEPROM outlives the reset: " << first;
        EXPECT_EQ(uno.ask("++ver"), firmware().versionLine);
    }
    Uno again(firmware(), {"--eeprom", image});
    again.openStarted();
    EXPECT_EQ(again.ask("++addr"), "7\r\n") << "the EEPROM came back from the file";
    std::remove(image.c_str());
}

TEST_P(UnoFirmware, AUnitOnTheBusAnswersThroughItAndABurstWhileItWaitsLosesBytes) {
    Uno uno(firmware(), {}, "5=7174");
    const int port = uno.openStarted();
    // Its query and reply; then, with a reply waiting and service requested for it, SRQ and the
    // status byte (MAV, RQS) until the reply is read.
    const struct {
        std::string send;
        std::string answer;
    } exchanges[] = {
        {"++addr 5\r\nSYST:COMM:GPIB:ADDR?\r\n++read eoi", "5\n"},
        {"*SRE 16\r\nSYST:COMM:GPIB:ADDR?\r\n++srq", "1\r\n"},
        {"++spoll", firmware().statusByte},
        {"++read eoi\r\n++srq", "5\n0\r\n"},
    };
    for (const auto& exchange : exchanges)
        EXPECT_EQ(uno.ask(exchange.send, exchange.answer), exchange.answer) << exchange.send;

    // Eight commands fit the Uno's 64-byte receive buffer, sixteen do not while the firmware
    // waits out a read from a unit with nothing to say.
    const struct {
        const char* before;
        int versions;
        int fewest, most; // answered
    } bursts[] = {{"", 8, 8, 8}, {"++read\r\n", 16, 1, 15}};
    for (const auto& burst : bursts) {
        std::string bytes = burst.before;
        for (int i = 0; i < burst.versions; ++i)
            bytes += "++ver\r\n";
        sendBytes(port, bytes);
        const std::string got = untilAnswered(port, "++addr 3\r\n++addr\r\n", "3\r\n");
        EXPECT_GE(count(got, firmware().versionLine), burst.fewest) << got;
        EXPECT_LE(count(got, firmware().versionLine), burst.most) << got;
        sendBytes(port, "++addr 5\r\n");
    }
    uno.stop();
    EXPECT_NE(uno.dialogue().find("> SYST:COMM:GPIB:ADDR?\n> ++read eoi\n< 5\\n\n"), std::string::npos)
        << uno.dialogue();
}

INSTANTIATE_TEST_SUITE_P(Versions, UnoFirmware,
                         ::testing::Range<std::size_t>(0, ktq::test::unoFirmwares().size()),
                         ktq::test::unoFirmwareName);

} // namespace
