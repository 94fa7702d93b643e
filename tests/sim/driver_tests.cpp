// The simulated driver's C functions behave as linux-gpib's do.
#include "simdriver.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <fstream>
#include <sstream>

namespace ktq::sim::test {
namespace {

constexpr int ok = lg::CMPL | lg::CIC;

class DriverContract : public ::testing::Test {
protected:
    DriverContract() {
        bench.addUnit(5, "7174");
        bench.addUnit(9, "7189");
        bench.addUnit(12, "7181B");
    }

    // The outcome bits; the board's state bits beside them are pinned by the trace test.
    void expectStatus(int ibsta, int iberr, long count) const {
        constexpr int outcome = lg::ERR | lg::TIMO | lg::END;
        EXPECT_EQ(driver.ThreadIbsta() & outcome, ibsta & outcome);
        EXPECT_EQ(driver.ThreadIberr(), iberr);
        EXPECT_EQ(driver.ThreadIbcntl(), count);
        EXPECT_EQ(driver.ThreadIbcnt(), static_cast<int>(count));
    }

    SimBus bench;
    ScopedBench installed{bench};
    Driver driver = Driver::inProcess();
};

TEST_F(DriverContract, OffersEveryFunctionTheProgramCalls) {
    for (const char* name : {KTQ_GPIB_CALLS(KTQ_GPIB_NAME)})
        EXPECT_NE(resolveSymbol(name), nullptr) << name;
    EXPECT_EQ(resolveSymbol("ibfindA"), nullptr);
    EXPECT_EQ(resolveSymbol("ktqsim_Send"), nullptr);
}

TEST_F(DriverContract, FindsOnlyBoardGpib0) {
    struct Case {
        const char* name;
        bool present;
        int result;
        int ibsta;
        int iberr;
        long count;
    };
    // Like linux-gpib, an absent board is an operating system error counting ENODEV.
    const Case cases[] = {
        {"GPIB0", true, 0, ok, 0, 0},
        {"GPIB1", true, -1, lg::ERR, lg::EDVR, 0},
        {"gpib", true, -1, lg::ERR, lg::EDVR, 0},
        {"GPIB0", false, -1, lg::ERR, lg::EDVR, ENODEV},
    };
    int previous = 15;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.present ? " present" : " absent"));
        bench.setBoardPresent(c.present);
        const int descriptor = driver.ibfind(c.name);
        expectStatus(c.ibsta, c.iberr, c.count);
        if (c.result < 0) {
            EXPECT_EQ(descriptor, -1);
            continue;
        }
        // A new descriptor on every call, never the board index.
        EXPECT_GT(descriptor, previous);
        previous = descriptor;
        int timeout = 0;
        driver.ibask(descriptor, lg::IbaTMO, &timeout);
        expectStatus(ok, 0, 0);
        EXPECT_EQ(driver.ibfind(c.name), descriptor + 1);
    }
}

TEST_F(DriverContract, AbsentBoardFailsEveryBusCall) {
    // Never there: the count is EBADF, as linux-gpib leaves it; gone after use: ENODEV.
    bench.setBoardPresent(false);
    driver.SendIFC(0);
    expectStatus(lg::ERR, lg::EDVR, EBADF);
    bench.setBoardPresent(true);
    driver.SendIFC(0);
    bench.setBoardPresent(false);
    driver.send(5, "*CLS");
    expectStatus(lg::ERR, lg::EDVR, ENODEV);
    EXPECT_TRUE(bench.unitAt(5)->messages().empty());
}

TEST_F(DriverContract, BoardAnswersItsAddressAndTakesTimeoutCodes) {
    int value = -1;
    driver.ibask(0, lg::IbaPAD, &value);
    EXPECT_EQ(value, 0);
    expectStatus(ok, 0, 0);

    const std::array<std::pair<int, bool>, 5> codes{
        {{0, true}, {12, true}, {17, true}, {18, false}, {-1, false}}};
    for (auto [code, accepted] : codes) {
        SCOPED_TRACE(code);
        driver.ibtmo(0, code);
        expectStatus(accepted ? ok : lg::ERR, accepted ? 0 : lg::EARG, 0);
        if (accepted) {
            EXPECT_EQ(bench.timeoutCode(), code);
        }
    }
    EXPECT_EQ(bench.timeoutCode(), 17);
    driver.ibsre(0, 1);
    EXPECT_TRUE(bench.remoteEnabled());
}

// As linux-gpib's: ibfind hands out the lowest free descriptor, ibonl(ud, 0) gives it back and it is
// refused until handed out again; the board index is never among them and stays usable.
TEST_F(DriverContract, IbonlGivesADescriptorBackToTheNextIbfind) {
    const int first = driver.ibfind("GPIB0");
    const int second = driver.ibfind("GPIB0");
    ASSERT_GE(first, 16);
    EXPECT_GT(second, first);
    driver.ibonl(first, 0);
    expectStatus(ok, 0, 0);
    int value = -1;
    driver.ibask(first, lg::IbaPAD, &value);
    expectStatus(lg::ERR, lg::EARG, 0);
    EXPECT_EQ(driver.ibfind("GPIB0"), first);
    driver.ibask(first, lg::IbaPAD, &value);
    expectStatus(ok, 0, 0);

    driver.ibonl(first, 0);
    driver.ibonl(second, 0);
    driver.ibask(0, lg::IbaPAD, &value);
    expectStatus(ok, 0, 0);
    EXPECT_EQ(value, 0);
}

// linux-gpib has 4,080 descriptors beside the board indexes; its ibfind past them fails (and reads
// memory it never set, so the real library is not driven there).
TEST_F(DriverContract, DescriptorsRunOutAfter4080) {
    for (int k = 0; k < 4080; ++k)
        ASSERT_EQ(driver.ibfind("GPIB0"), 16 + k);
    EXPECT_EQ(bench.openDescriptors(), 4080u);
    EXPECT_EQ(driver.ibfind("GPIB0"), -1);
    expectStatus(lg::ERR, lg::ENEB, 0);
    driver.ibonl(100, 0);
    EXPECT_EQ(driver.ibfind("GPIB0"), 100);
}

// As linux-gpib's: a unit listening only behind secondary addresses (the 7189 at 9) is not found.
TEST_F(DriverContract, FindLstnReportsPrimaryListenersOnly) {
    std::array<std::uint16_t, 31> candidates{};
    for (int i = 0; i < 30; ++i)
        candidates[i] = static_cast<std::uint16_t>(i + 1);
    candidates[30] = lg::NOADDR;
    std::array<std::uint16_t, 65> found{};
    found.fill(0xBEEF);

    driver.FindLstn(0, candidates.data(), found.data(), 32);
    expectStatus(ok, 0, 2);
    EXPECT_EQ(std::vector<std::uint16_t>(found.begin(), found.begin() + 3),
              (std::vector<std::uint16_t>{5, 12, 0xBEEF}));
}

TEST_F(DriverContract, FindLstnWritesNoMoreThanTheLimit) {
    const std::array<std::uint16_t, 4> candidates{5, 9, 12, lg::NOADDR};
    std::array<std::uint16_t, 8> found{};
    found.fill(0xBEEF);
    driver.FindLstn(0, candidates.data(), found.data(), 1);
    expectStatus(lg::ERR, lg::ETAB, 1);
    EXPECT_EQ(found[0], 5);
    EXPECT_EQ(found[1], 0xBEEF);
}

// NI's search reports a unit listening only behind secondary addresses as the address word of each
// secondary that answers (0x60 + secondary in the high byte), in order, and counts every word
// written; linux-gpib's reports none. In-process whatever the route: the family is the bench's.
TEST(DriverFamilies, OnlyNisSearchReportsListenersBehindSecondaryAddresses) {
    const struct {
        DriverFamily family;
        int limit;
        std::vector<std::uint16_t> found;
        int ibsta;
        int iberr;
    } cases[] = {
        {DriverFamily::LinuxGpib, 32, {5, 12}, ok, 0},
        {DriverFamily::Ni,
         32,
         {5, withSecondary(9, 11), withSecondary(9, 12), withSecondary(9, 13), withSecondary(9, 14), 12},
         ok,
         0},
        {DriverFamily::Ni, 3, {5, withSecondary(9, 11), withSecondary(9, 12)}, lg::ERR, lg::ETAB},
    };
    std::array<std::uint16_t, 31> candidates{};
    for (int i = 0; i < 30; ++i)
        candidates[i] = static_cast<std::uint16_t>(i + 1);
    candidates[30] = lg::NOADDR;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.family == DriverFamily::Ni ? "NI-488.2" : "linux-gpib");
        SCOPED_TRACE(c.limit);
        SimBus bench;
        bench.addUnit(5, "7174");
        bench.addUnit(9, "7189");
        bench.addUnit(12, "7181B");
        bench.setDriverFamily(c.family);
        ScopedBench installed(bench);
        const Driver driver = Driver::resolve(resolveSymbol);
        std::array<std::uint16_t, 65> found{};
        found.fill(0xBEEF);

        driver.FindLstn(0, candidates.data(), found.data(), c.limit);
        EXPECT_EQ(driver.ThreadIbsta() & lg::ERR, c.ibsta & lg::ERR);
        EXPECT_EQ(driver.ThreadIberr(), c.iberr);
        EXPECT_EQ(driver.ThreadIbcntl(), static_cast<long>(c.found.size()));
        std::vector<std::uint16_t> expected = c.found;
        expected.push_back(0xBEEF);
        EXPECT_EQ(
            std::vector<std::uint16_t>(found.begin(), found.begin() + static_cast<long>(expected.size())),
            expected);
    }
}

// Device clear is commands only, as linux-gpib sends it: it succeeds whoever listens, and clears
// only a unit at the exact address.
TEST_F(DriverContract, DevClearClearsOnlyAUnitAtTheExactAddress) {
    struct Case {
        std::uint16_t address;
        int ibsta;
        int iberr;
        bool clears;
    };
    // END stays from the Send before; a bad address leaves EARG without ERR, as in linux-gpib.
    const Case cases[] = {
        {5, lg::END, 0, true},
        {7, lg::END, 0, false},
        {withSecondary(5, 2), lg::END, 0, true}, // a unit without secondary addresses ignores one
        {31, lg::END, lg::EARG, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        driver.send(5, "*ESE?");
        driver.DevClear(0, c.address);
        expectStatus(c.ibsta, c.iberr, 0);
        EXPECT_EQ(bench.unitAt(5)->replyPending(), !c.clears);
    }
}

TEST_F(DriverContract, DevClearDropsAnUnreadReply) {
    driver.send(5, "SYST:COMM:GPIB:ADDR?");
    driver.DevClear(0, 5);
    driver.receive(5);
    expectStatus(lg::ERR | lg::TIMO, lg::EABO, 0);
}

TEST_F(DriverContract, SendEndModesDecideWhenAMessageIsComplete) {
    struct Case {
        std::string_view bytes;
        int eot;
        long count;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"*CLS", lg::NLend, 5, {"*CLS"}},     {"*CLS", lg::DABend, 4, {"*CLS"}}, {"*CLS", lg::NULLend, 4, {}},
        {"*CLS\n", lg::NULLend, 5, {"*CLS"}}, {"", lg::NLend, 1, {""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.bytes) + " end mode " + std::to_string(c.eot));
        SimBus local;
        ScopedBench scoped(local);
        SimUnit& unit = local.addUnit(3, "7174");
        driver.Send(0, 3, c.bytes.data(), static_cast<long>(c.bytes.size()), c.eot);
        expectStatus(c.eot == lg::NULLend ? ok : lg::END, 0, c.count);
        EXPECT_EQ(unit.messages(), c.messages);
    }
}

TEST_F(DriverContract, SendWithoutListenerOrWithBadArgumentsFails) {
    driver.send(7, "*CLS");
    expectStatus(lg::ERR, lg::ENOL, 0);
    driver.Send(0, 5, "*CLS", 4, 3);
    expectStatus(lg::ERR, lg::EARG, 0);
    driver.Send(1, 5, "*CLS", 4, lg::NLend);
    expectStatus(lg::ERR, lg::EARG, 0);
    EXPECT_TRUE(bench.unitAt(5)->messages().empty());
}

TEST_F(DriverContract, ReceiveStopsAtEoiTerminationByteOrCount) {
    using namespace std::string_literals;
    struct Case {
        std::string reply;
        long count;
        int termination;
        std::string first;
        bool end;
        std::string rest;
    };
    const Case cases[] = {
        {"5\n", 18, 0, "5\n", true, ""},
        {"AB\0CD\n"s, 18, 0, "AB\0"s, true, "CD\n"},
        {"AB\0CD\n"s, 18, lg::STOPend, "AB\0CD\n"s, true, ""},
        {"12\n34\n", 18, '\n', "12\n", true, "34\n"},
        {"HELLO\n", 3, lg::STOPend, "HEL", false, "LO\n"},
        {"HELLO\n", 6, lg::STOPend, "HELLO\n", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply + " count " + std::to_string(c.count) + " term " +
                     std::to_string(c.termination));
        bench.queueReply(5, c.reply);
        std::string buffer(static_cast<std::size_t>(c.count), ' ');
        driver.Receive(0, 5, buffer.data(), c.count, c.termination);
        expectStatus(ok | (c.end ? lg::END : 0), 0, static_cast<long>(c.first.size()));
        EXPECT_EQ(buffer.substr(0, c.first.size()), c.first);
        EXPECT_EQ(buffer.substr(c.first.size()), std::string(c.count - c.first.size(), ' '));
        if (!c.rest.empty()) {
            EXPECT_EQ(driver.receive(5, 18, lg::STOPend), c.rest);
        }
        driver.receive(5);
        expectStatus(lg::ERR | lg::TIMO, lg::EABO, 0);
    }
}

TEST_F(DriverContract, QueuedRepliesOverrideTheUnitInOrder) {
    bench.queueReply(5, "first\n");
    bench.queueReply(5, "second\n");
    EXPECT_EQ(driver.ask(5, "SYST:COMM:GPIB:ADDR?"), "first\n");
    EXPECT_EQ(driver.receive(5), "second\n");
    EXPECT_EQ(driver.ask(5, "SYST:COMM:GPIB:ADDR?"), "5\n");
}

TEST_F(DriverContract, ReceiveWithNothingToSayTimesOutAtOnce) {
    driver.receive(5);
    expectStatus(lg::ERR | lg::TIMO, lg::EABO, 0);
    driver.receive(7);
    expectStatus(lg::ERR | lg::TIMO, lg::EABO, 0);

    bench.silence(5, true);
    driver.ask(5, "SYST:COMM:GPIB:ADDR?");
    expectStatus(lg::ERR | lg::TIMO, lg::EABO, 0);
    EXPECT_EQ(bench.unitAt(5)->messages().back(), "SYST:COMM:GPIB:ADDR?");
    bench.silence(5, false);
    EXPECT_EQ(driver.ask(5, "SYST:COMM:GPIB:ADDR?"), "5\n");
}

TEST_F(DriverContract, InjectedFailuresReachNoUnitAndEndAfterTheirCount) {
    bench.failNext("Send", lg::ENOL, 2);
    driver.send(5, "*ESE 8");
    expectStatus(lg::ERR, lg::ENOL, 0);
    driver.send(5, "*ESE 8");
    expectStatus(lg::ERR, lg::ENOL, 0);
    EXPECT_EQ(bench.unitAt(5)->ese(), 0);
    driver.send(5, "*ESE 8");
    expectStatus(lg::END, 0, 7);
    EXPECT_EQ(bench.unitAt(5)->ese(), 8);

    bench.failNext("Receive", lg::EABO);
    driver.send(5, "*ESE?");
    driver.receive(5);
    expectStatus(lg::ERR | lg::TIMO, lg::EABO, 0);
    EXPECT_EQ(driver.receive(5), "8\n");

    bench.failNext("ibfind", lg::EDVR);
    EXPECT_EQ(driver.ibfind("GPIB0"), -1);
    EXPECT_GE(driver.ibfind("GPIB0"), 16);

    EXPECT_THROW(bench.failNext("ibwrt", lg::EDVR), std::invalid_argument);
}

TEST_F(DriverContract, TraceHasOneLinePerCallInTheAgreedFormat) {
    bench.removeUnit(5);
    bench.removeUnit(12);
    bench.clearTrace();
    const std::uint16_t channel2 = withSecondary(9, 12);
    const std::array<std::uint16_t, 3> candidates{8, 9, lg::NOADDR};
    std::array<std::uint16_t, 8> found{};
    int value = 0;

    driver.ibfind("GPIB0");
    driver.ibask(0, 1, &value);
    driver.SendIFC(0);
    driver.ibtmo(0, 12);
    driver.FindLstn(0, candidates.data(), found.data(), 32);
    driver.DevClear(0, channel2);
    driver.send(channel2, "SYST:COMM:GPIB:ADDR?");
    driver.receive(channel2);
    driver.commands("?)\x08");
    bench.note("pause 200");
    driver.Send(0, channel2, "a\"b\\c\r\t\xff", 8, lg::DABend);
    driver.receive(channel2);
    driver.DevClear(0, 7);

    const std::vector<std::string> expected{
        R"(ibfind("GPIB0") -> 0x0130 0 0)",
        R"(ibask(0, 1) 0 -> 0x0130 0 0)",
        R"(SendIFC(0) -> 0x0130 0 0)",
        R"(ibtmo(0, 12) -> 0x0130 0 0)",
        R"(FindLstn(0, [8, 9], 32) [] -> 0x0130 0 0)",
        R"(DevClear(0, 912) -> 0x0138 0 0)",
        R"(Send(0, 912, "SYST:COMM:GPIB:ADDR?", 20, NLend) -> 0x2128 0 21)",
        R"(Receive(0, 912, 18, 0) "9\n" -> 0x2124 0 2)",
        R"(SendCmds(0, "?)\x08", 3) -> 0x2130 0 0)",
        "pause 200",
        R"(Send(0, 912, "a\"b\\c\r\x09\xff", 8, DABend) -> 0x2128 0 8)",
        R"(Receive(0, 912, 18, 0) "" -> 0xc124 6 0)",
        R"(DevClear(0, 7) -> 0x0138 0 0)",
    };
    EXPECT_EQ(bench.trace(), expected);
}

TEST_F(DriverContract, TraceFileCollectsLinesOfSuccessiveBenches) {
    const std::string path = ::testing::TempDir() + "ktq_sim_trace_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    std::remove(path.c_str());
    bench.setTraceFile(path);
    driver.SendIFC(0);
    bench.note("pause 200");
    {
        SimBus second;
        ScopedBench scoped(second);
        second.setTraceFile(path);
        driver.SendIFC(0);
    }
    driver.DevClear(0, 5);
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "SendIFC(0) -> 0x0130 0 0\npause 200\nSendIFC(0) -> 0x0130 0 0\n"
                          "DevClear(0, 5) -> 0x0138 0 0\n");
    std::remove(path.c_str());
}

TEST(ScopedBenchTest, RestoresThePreviousBenchAndFailsWithoutOne) {
    const Driver driver = Driver::inProcess();
    driver.SendIFC(0);
    EXPECT_EQ(driver.ThreadIbsta(), lg::ERR);
    EXPECT_EQ(driver.ThreadIberr(), lg::ENEB);

    SimBus outer;
    outer.addUnit(4, "7174");
    ScopedBench installOuter(outer);
    {
        SimBus inner;
        ScopedBench installInner(inner);
        driver.send(4, "*CLS");
        EXPECT_EQ(driver.ThreadIberr(), lg::ENOL);
    }
    driver.send(4, "*CLS");
    EXPECT_EQ(driver.ThreadIbsta(), lg::END | lg::CMPL | lg::CIC | lg::TACS);
    EXPECT_EQ(outer.unitAt(4)->messages(), std::vector<std::string>{"*CLS"});
}

} // namespace
} // namespace ktq::sim::test
