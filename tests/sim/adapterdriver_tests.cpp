// The adapter driver on the emulated adapters: what it sends, what reaches the units, and the
// status it reports where an adapter cannot do what a board does.
#include "bus/adapter/adapterdriver.h"
#include "bus/gpibconstants.h"
#include "sim/adapter/benchlink.h"
#include "sim/adapter/profile.h"
#include "sim/simbus.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>

namespace ktq::test {
namespace {

using namespace bus;
using sim::adapter::AdapterProfile;
using sim::adapter::BenchLink;
using Lines = std::vector<std::string>;

// A 7174 at 5 and a 7189 at 9 (channels behind secondaries 11 to 14) behind an adapter, set up as
// the program sets it up; `before` what the adapter was told first, by its owner.
struct Rig {
    explicit Rig(const AdapterProfile& profile, const char* layout = "5=7174;9=7189",
                 BenchLink::Start start = BenchLink::Start::AtOnce, const std::string& before = "")
        : bus(sim::SimBus::fromBenchLayout(layout)), core(*bus, profile) {
        core.fromHost(before);
        auto owned = std::make_unique<BenchLink>(core, start);
        link = owned.get();
        const auto identity = identifyAdapter(*link);
        EXPECT_TRUE(identity.has_value());
        driver = std::make_unique<AdapterDriver>(std::move(owned), identity.value_or(AdapterIdentity{}));
        bus->wire().setEventLog(true);
        EXPECT_EQ(driver->ibfind("GPIB0"), 0);
        EXPECT_EQ(driver->ibtmo(0, ni::T3s) & ni::ERR, 0);
        setUp = newEvents();
    }
    // The bus events since the last call of this.
    Lines newEvents() {
        bus->wire().flushEvents();
        const auto& all = bus->wire().events();
        Lines out(all.begin() + static_cast<long>(seen), all.end());
        seen = all.size();
        return out;
    }
    int ibsta() { return driver->ThreadIbsta(); }
    int iberr() { return driver->ThreadIberr(); }
    long ibcnt() { return driver->ThreadIbcntl(); }

    std::unique_ptr<sim::SimBus> bus;
    sim::adapter::AdapterCore core;
    BenchLink* link = nullptr;
    std::unique_ptr<AdapterDriver> driver;
    std::size_t seen = 0;
    Lines setUp; // the bus events of the set-up
};

const std::array<const AdapterProfile*, 3> adapters{
    &sim::adapter::prologixProfile(), &sim::adapter::ar488Profile(), &sim::adapter::ar488OldProfile()};

TEST(AdapterIdentity, ReadsTheVersionAnswerOfEachModelAndNothingElse) {
    const struct {
        const char* answer;
        const char* name; // nullptr: no adapter this driver speaks to
        AdapterIdentity::Kind kind = AdapterIdentity::Kind::Prologix;
    } cases[] = {
        {"Prologix GPIB-USB Controller version 6.107\r\n", "Prologix GPIB-USB 6.107"},
        {"Prologix GPIB-ETHERNET Controller version 01.06.06.00", "Prologix GPIB-ETHERNET 01.06.06.00"},
        {"AR488 GPIB controller, ver. 0.51.09, 20/06/2022\r\n", "AR488 0.51.09",
         AdapterIdentity::Kind::Ar488},
        {"", nullptr},
        {"Unrecognized command", nullptr},
        {"Prologix GPIB-USB Controller version ", nullptr},
        {"Prologix  Controller version 6.107", nullptr},
        {"AR488 GPIB controller", nullptr},
        {"OK", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        const auto identity = adapterIdentity(c.answer);
        ASSERT_EQ(identity.has_value(), c.name != nullptr);
        if (identity) {
            EXPECT_EQ(identity->name, c.name);
            EXPECT_EQ(identity->kind, c.kind);
        }
    }
}

TEST(AdapterIdentity, AsksTheAdapterOnceAndNamesItWithItsLink) {
    const struct {
        const AdapterProfile& profile;
        const char* description;
    } cases[] = {
        {sim::adapter::prologixProfile(), "Prologix GPIB-USB 6.107 on bench:prologix"},
        {sim::adapter::prologixEthernetProfile(),
         "Prologix GPIB-ETHERNET 01.06.06.00 on bench:prologix-ethernet"},
        {sim::adapter::ar488Profile(), "AR488 0.53.04 on bench:ar488"},
        {sim::adapter::ar488OldProfile(), "AR488 0.51.09 on bench:ar488-0.51"},
    };
    for (const auto& c : cases) {
        Rig rig(c.profile);
        EXPECT_EQ(rig.link->writes().front(), "++ver\n");
        EXPECT_EQ(rig.driver->description(), c.description);
    }
    auto bus = sim::SimBus::fromBenchLayout("5=7174");
    sim::adapter::AdapterCore core(*bus, sim::adapter::prologixProfile());
    sim::adapter::BenchLink link(core);
    link.unplug();
    EXPECT_FALSE(identifyAdapter(link).has_value());
}

// Data reaches the unit byte for byte, whatever it holds: the adapter's own line ends, ESC and
// "+" are escaped, so no operator's text becomes an adapter command.
TEST(AdapterSend, DataReachesTheUnitAsSentWithTheEndModesEoi) {
    const struct {
        std::string data;
        int mode;
        std::string event;
        long count;
    } cases[] = {
        {"*CLS", ni::NLend, R"(WRITE 5 "*CLS\n" EOI)", 5},
        {"*CLS", ni::DABend, R"(WRITE 5 "*CLS" EOI)", 4},
        {"*CLS", ni::NULLend, R"(WRITE 5 "*CLS")", 4},
        {"++rst", ni::NLend, R"(WRITE 5 "++rst\n" EOI)", 6},
        {"1\r\n++addr 3", ni::NLend, R"(WRITE 5 "1\r\n++addr 3\n" EOI)", 12},
        {"\x1b+\x1b", ni::DABend, R"(WRITE 5 "\x1b+\x1b" EOI)", 3},
        {"+", ni::DABend, R"(WRITE 5 "+" EOI)", 1},
    };
    for (const AdapterProfile* profile : adapters)
        for (const auto& c : cases) {
            SCOPED_TRACE(profile->name + " " + c.event);
            Rig rig(*profile);
            rig.driver->Send(0, 5, c.data.data(), static_cast<long>(c.data.size()), c.mode);
            if (!profile->eoiWithLastByte && c.mode == ni::DABend) {
                EXPECT_EQ(rig.iberr(), ni::ECAP) << "no EOI with the last byte";
                EXPECT_EQ(rig.newEvents(), Lines{});
                continue;
            }
            // The unit at 5 made listener: a Prologix makes itself talker, an AR488 0.53 unaddresses
            // any talker, 0.51 only the listeners, and 0.51 pulses EOI on its own after the last
            // byte, which the wire's events do not show.
            const std::string listener = !profile->ar488           ? R"(CMD "@?%")"
                                         : profile->untWithAddress ? R"(CMD "?_%")"
                                                                   : R"(CMD "?%")";
            const std::string event =
                profile->eoiWithLastByte ? c.event : c.event.substr(0, c.event.rfind(" EOI"));
            EXPECT_EQ(rig.newEvents(), (Lines{listener, event}));
            EXPECT_EQ(rig.ibsta(), ni::CMPL | ni::CIC | (c.mode == ni::NULLend ? 0 : ni::END));
            EXPECT_EQ(rig.ibcnt(), c.count);
            // An adapter in controller mode already is not put into it again; a Prologix is told
            // first not to save.
            EXPECT_EQ(rig.core.settingsCommands(), profile->ar488 ? Lines{} : Lines{"++savecfg 0"});
            EXPECT_EQ(rig.core.savedWrites(), 0);
            EXPECT_TRUE(rig.core.settings().eoi) << "EOI back on after a message without it";
        }
}

// A reply ends where the unit's EOI ended it; what does not fit the buffer is dropped and does not
// come back as the next reply. Where nobody answers, the adapter's read runs out and the driver
// reports what a board reports; a Send to an empty address the adapter cannot tell from one that
// was heard.
TEST(AdapterReceive, TheReplyEndsAtEoiWhatDoesNotFitIsDroppedAndSilenceTimesOut) {
    for (const AdapterProfile* profile : adapters) {
        SCOPED_TRACE(profile->name);
        Rig rig(*profile);
        std::array<char, 8> buffer{};
        for (const long count : {8L, 1L, 8L}) {
            rig.driver->Send(0, 5, "SYST:COMM:GPIB:ADDR?", 20, ni::NLend);
            buffer.fill('.');
            rig.driver->Receive(0, 5, buffer.data(), count, 0);
            EXPECT_EQ(rig.ibsta(), ni::CMPL | ni::CIC | ni::END);
            EXPECT_EQ(std::string(buffer.data(), 3), count == 1 ? "5.." : "5\n.");
            EXPECT_EQ(rig.ibcnt(), std::min(count, 2L));
        }
        rig.driver->Send(0, 7, "*IDN?", 5, ni::NLend);
        EXPECT_EQ(rig.ibsta(), ni::CMPL | ni::CIC | ni::END);
        EXPECT_EQ(rig.ibcnt(), 6);
        rig.bus->silence(5, true);
        for (const int address : {5, 7}) {
            rig.driver->Receive(0, address, buffer.data(), 8, 0);
            EXPECT_EQ(rig.ibsta() & (ni::ERR | ni::TIMO), ni::ERR | ni::TIMO) << address;
            EXPECT_EQ(rig.iberr(), ni::EABO) << address;
            EXPECT_EQ(rig.ibcnt(), 0) << address;
        }
        rig.bus->Receive(0, 5, buffer.data(), 8, 0);
        EXPECT_EQ(rig.bus->lastStatus().ibsta & (ni::ERR | ni::TIMO), ni::ERR | ni::TIMO) << "the board";
        EXPECT_EQ(rig.bus->lastStatus().iberr, ni::EABO) << "the board";

        rig.newEvents();
        rig.driver->Send(0, 9 | (96 + 11) << 8, "SYST:COMM:GPIB:ADDR?", 20, ni::NLend);
        if (!profile->secondaryAddresses) {
            // 0.51.09 would address primary 9 alone: refused, and nothing sent.
            EXPECT_EQ(rig.iberr(), ni::ECAP);
            EXPECT_EQ(rig.newEvents(), Lines{});
            continue;
        }
        rig.driver->Receive(0, 9 | (96 + 11) << 8, buffer.data(), 8, 0);
        EXPECT_EQ(std::string(buffer.data(), static_cast<std::size_t>(rig.ibcnt())), "9\n")
            << "the 7189's channel";
    }
}

// What only a board can do is refused whole, with nothing sent: talk addresses and the other bus
// commands, and on a Prologix REN off and a clear of every unit; the adapter's own address 0 is
// no unit's on either.
TEST(AdapterLimits, WhatOnlyABoardDoesIsRefusedAndNothingIsSent) {
    using Call = std::function<void(AdapterDriver&)>;
    const auto commands = [](std::string bytes) -> Call {
        return [bytes](AdapterDriver& d) { d.SendCmds(0, bytes.data(), static_cast<long>(bytes.size())); };
    };
    const struct {
        const char* what;
        Call call;
        int prologixError; // -1: done
        int ar488Error;
    } cases[] = {
        {"talk address", commands("@"), ni::ECAP, ni::ECAP},
        {"talk address after listeners", commands("?%E"), ni::ECAP, ni::ECAP},
        {"selected device clear", commands("?%\x04"), ni::ECAP, ni::ECAP},
        {"device clear", commands("\x14"), ni::ECAP, ni::ECAP},
        {"local lockout", commands("?%\x11"), ni::ECAP, ni::ECAP},
        {"go to local", commands("\x01"), ni::ECAP, ni::ECAP},
        {"serial poll enable", commands("\x18"), ni::ECAP, ni::ECAP},
        {"REN off", [](AdapterDriver& d) { d.ibsre(0, 0); }, ni::ECAP, -1},
        {"clear every unit", [](AdapterDriver& d) { d.DevClear(0, ni::NOADDR); }, ni::ECAP, -1},
        {"send to 0", [](AdapterDriver& d) { d.Send(0, 0, "*CLS", 4, ni::NLend); }, ni::EARG, ni::EARG},
        {"clear 0", [](AdapterDriver& d) { d.DevClear(0, 0); }, ni::EARG, ni::EARG},
    };
    for (const AdapterProfile* profile : adapters)
        for (const auto& c : cases) {
            SCOPED_TRACE(profile->name + " " + c.what);
            const int error = profile->ar488 ? c.ar488Error : c.prologixError;
            Rig rig(*profile);
            const auto written = rig.link->writes().size();
            c.call(*rig.driver);
            if (error < 0) {
                EXPECT_EQ(rig.ibsta() & ni::ERR, 0);
                continue;
            }
            EXPECT_EQ(rig.ibsta() & ni::ERR, ni::ERR);
            EXPECT_EQ(rig.iberr(), error);
            EXPECT_EQ(rig.link->writes().size(), written);
            EXPECT_EQ(rig.newEvents(), Lines{});
        }
}

// The trigger of a power-cycled unit is the adapter's own, in one call.
TEST(AdapterLimits, TheTriggerReachesTheUnitAsGroupExecuteTrigger) {
    for (const AdapterProfile* profile : adapters) {
        SCOPED_TRACE(profile->name);
        Rig rig(*profile);
        ASSERT_TRUE(rig.driver->triggersItself());
        rig.driver->TriggerUnit(0, 5);
        EXPECT_EQ(rig.ibsta(), ni::CMPL | ni::CIC);
        // An AR488 unaddresses the unit again at once.
        const std::string expected = !profile->ar488           ? R"(CMD "?%\x08")"
                                     : profile->untWithAddress ? R"(CMD "?_%\x08?_")"
                                                               : R"(CMD "?%\x08?_")";
        EXPECT_EQ(rig.newEvents(), Lines{expected});
        EXPECT_TRUE(rig.bus->unitAt(5)->triggered());
    }
}

// Neither finds the 7189 at 9, which listens only behind secondary addresses: a Prologix polls
// primaries, and an AR488's search ends the primary's addressing with UNT after each secondary
// that found nobody, so it reaches the channels (11 to 14) no more.
TEST(AdapterLimits, TheSearchFindsPollableUnitsOnAPrologixAndPrimaryListenersOnAnAr488) {
    const struct {
        const AdapterProfile& profile;
        const char* layout;
        int limit;
        std::vector<std::uint16_t> found;
        int iberr; // -1: none
    } cases[] = {
        {sim::adapter::prologixProfile(), "5=7174;9=7189", 32, {5}, -1},
        {sim::adapter::ar488Profile(), "5=7174;9=7189", 32, {5}, -1},
        {sim::adapter::ar488Profile(), "5=7174;9=7174;12=7121", 2, {5, 9}, ni::ETAB},
        // 0.51.09 has no search: each address is polled, as on a Prologix.
        {sim::adapter::ar488OldProfile(), "5=7174;9=7189", 32, {5}, -1},
    };
    std::vector<std::uint16_t> everyAddress;
    for (std::uint16_t primary = 1; primary <= 30; ++primary)
        everyAddress.push_back(primary);
    everyAddress.push_back(ni::NOADDR);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile.name + " limit " + std::to_string(c.limit));
        Rig rig(c.profile, c.layout);
        std::array<std::uint16_t, 40> results{};
        rig.driver->FindLstn(0, everyAddress.data(), results.data(), c.limit);
        EXPECT_EQ(rig.iberr(), c.iberr < 0 ? 0 : c.iberr);
        EXPECT_EQ((rig.ibsta() & ni::ERR) != 0, c.iberr >= 0);
        ASSERT_EQ(rig.ibcnt(), static_cast<long>(c.found.size()));
        EXPECT_EQ(std::vector<std::uint16_t>(results.begin(), results.begin() + rig.ibcnt()), c.found);
        EXPECT_EQ(rig.core.settings().readTimeoutMs, 3000) << "the program's timeout is back";
    }
}

// Once the link has failed, every call fails alike and nothing more is written to it.
TEST(AdapterLimits, ALostLinkFailsEveryCallWithoutWritingAgain) {
    for (const AdapterProfile* profile : adapters) {
        SCOPED_TRACE(profile->name);
        Rig rig(*profile);
        rig.driver->Send(0, 5, "*CLS", 4, ni::NLend);
        ASSERT_EQ(rig.ibcnt(), 5);
        rig.link->unplug();
        const auto written = rig.link->writes().size();
        int touches = -1; // the link's reads and writes once the driver knew it was gone
        std::array<char, 8> buffer{};
        std::array<std::uint16_t, 4> results{};
        const std::uint16_t addresses[] = {5, ni::NOADDR};
        const std::function<void()> calls[] = {
            [&] { rig.driver->Send(0, 5, "*CLS", 4, ni::NLend); },
            [&] { rig.driver->Receive(0, 5, buffer.data(), 8, 0); },
            [&] { rig.driver->DevClear(0, 5); },
            [&] { rig.driver->FindLstn(0, addresses, results.data(), 4); },
            [&] { rig.driver->ibtmo(0, ni::T3s); },
            [&] { rig.driver->SendCmds(0, "%\x08", 2); },
            [&] { rig.driver->SendIFC(0); },
            [&] { rig.driver->ibfind("GPIB0"); },
        };
        for (const auto& call : calls) {
            call();
            EXPECT_EQ(rig.ibsta(), ni::ERR);
            EXPECT_EQ(rig.iberr(), ni::EDVR);
            EXPECT_EQ(rig.ibcnt(), 0);
            const int now = rig.link->reads() + static_cast<int>(rig.link->writes().size());
            if (touches >= 0) {
                EXPECT_EQ(now, touches) << "the link was touched again";
            }
            touches = now;
        }
        EXPECT_EQ(rig.link->writes().size(), written);
    }
}

// The opening and the set-up as a port or an owner may leave the adapter: an Uno that resets as
// its port opens (what reaches it while it starts is lost, "++ver" among it), one in device mode
// (only then put into controller mode: on an AR488 that releases REN and sends IFC), and then a
// message longer than an AR488's buffers, which reaches the unit whole with nothing lost.
TEST(AdapterOpening, CopesWithAStartingBoardAndSetsUpOnlyWhatItMust) {
    const Lines controllerMode{"REN 0", "REN 1", "REN 0", "REN 1", "IFC"};
    const struct {
        const AdapterProfile& profile;
        BenchLink::Start start;
        bool deviceMode;
        Lines restart; // the bus events of the set-up
    } cases[] = {
        {sim::adapter::ar488Profile(), BenchLink::Start::ResetsOnOpen, false, {}},
        {sim::adapter::ar488OldProfile(), BenchLink::Start::ResetsOnOpen, false, {}},
        {sim::adapter::ar488Profile(), BenchLink::Start::AtOnce, true, controllerMode},
        {sim::adapter::prologixProfile(), BenchLink::Start::AtOnce, true, {}},
    };
    const std::string message = "*ESE " + std::string(300, '7') + "+\r\x1b";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile.name + (c.deviceMode ? " in device mode" : " resetting"));
        Rig rig(c.profile, "5=7174", c.start, c.deviceMode ? "++savecfg 0\n++mode 0\n" : "");
        EXPECT_EQ(rig.link->lostWhileStarting() > 0, c.start == BenchLink::Start::ResetsOnOpen);
        EXPECT_EQ(rig.setUp, c.restart);
        EXPECT_TRUE(rig.core.settings().controller);
        EXPECT_TRUE(rig.core.settings().eotEnable);
        rig.driver->Send(0, 5, message.data(), static_cast<long>(message.size()), ni::NLend);
        EXPECT_EQ(rig.ibsta() & ni::ERR, 0);
        ASSERT_FALSE(rig.bus->unitAt(5)->messages().empty());
        EXPECT_EQ(rig.bus->unitAt(5)->messages().back(), message) << "one message, every byte";
        EXPECT_EQ(rig.core.lostBytes(), 0u);
    }
}

// A real link hands over what has arrived in pieces, and may hold what an earlier exchange left.
// Each write here brings the next scripted answer, one piece per read.
class ScriptedLink final : public AdapterLink {
public:
    std::string where() const override { return "script"; }
    bool write(std::string_view bytes) override {
        writes.emplace_back(bytes);
        if (!answers.empty()) {
            arriving.insert(arriving.end(), answers.front().begin(), answers.front().end());
            answers.pop_front();
        }
        return true;
    }
    std::string read(std::chrono::milliseconds, bool&) override {
        if (arriving.empty())
            return {};
        std::string piece = arriving.front();
        arriving.pop_front();
        return piece;
    }
    std::deque<std::string> arriving;
    std::deque<std::vector<std::string>> answers;
    Lines writes;
};

TEST(AdapterLink, AnswersInPiecesAndLeftoversAreTakenApart) {
    const std::string version = "Prologix GPIB-USB Controller version 6.107";
    auto owned = std::make_unique<ScriptedLink>();
    ScriptedLink& link = *owned;
    link.arriving = {"left from before\r\n"};
    link.answers = {
        {"++ver\r\n", "Prologix GPIB-USB Contr", "oller version 6.107\r\n"}, // an echo first
        {version + "\r\n", "1\r\n"},                            // "++ver real" as "++ver", and "++eoi"
        {"1\r\n"},                                              // "++mode": the controller already
        {version + "\r\n"},                                     // ibfind's check
        {},                                                     // the Send
        {"KTQ,", "7174\n", std::string(1, '\0'), "64\r\n"},     // the Receive
        {"\r\n", version + "\r\n", "16\r\n", version + "\r\n"}, // two polls
    };
    const auto identity = identifyAdapter(link);
    ASSERT_TRUE(identity.has_value());
    EXPECT_EQ(identity->name, "Prologix GPIB-USB 6.107");
    AdapterDriver driver(std::move(owned), *identity);
    EXPECT_EQ(driver.ibfind("GPIB0"), 0);
    driver.Send(0, 5, "*IDN?", 5, ni::NLend);
    std::array<char, 4> reply{};
    driver.Receive(0, 5, reply.data(), 4, 0);
    EXPECT_EQ(std::string(reply.data(), 4), "KTQ,");
    EXPECT_EQ(driver.ThreadIbcntl(), 4);
    EXPECT_EQ(driver.ThreadIbsta(), ni::CMPL | ni::CIC | ni::END);
    const std::uint16_t addresses[] = {3, 5, ni::NOADDR};
    std::array<std::uint16_t, 4> found{};
    driver.FindLstn(0, addresses, found.data(), 4);
    EXPECT_EQ(driver.ThreadIbsta() & ni::ERR, 0);
    ASSERT_EQ(driver.ThreadIbcntl(), 1) << "an empty line is no unit's status byte";
    EXPECT_EQ(found[0], 5);
    EXPECT_EQ(link.writes.back(),
              "++read_tmo_ms 30\n++spoll 3\n++ver\n++spoll 5\n++ver\n++read_tmo_ms 3000\n");
}

// NI's timeout codes as the adapter's read timeout, within what a Prologix takes.
TEST(AdapterTimeout, TheCodeBecomesTheAdaptersReadTimeout) {
    const struct {
        int code;
        int ms; // -1: refused
    } cases[] = {{ni::T3s, 3000}, {11, 1000}, {9, 100}, {1, 1}, {17, 3000}, {0, 3000}, {18, -1}, {-1, -1}};
    for (const AdapterProfile* profile : adapters)
        for (const auto& c : cases) {
            SCOPED_TRACE(profile->name + " code " + std::to_string(c.code));
            Rig rig(*profile);
            rig.driver->ibtmo(0, 1);
            rig.driver->ibtmo(0, c.code);
            EXPECT_EQ(rig.iberr(), c.ms < 0 ? ni::EARG : 0);
            EXPECT_EQ(rig.core.settings().readTimeoutMs, c.ms < 0 ? 1 : c.ms);
        }
}

} // namespace
} // namespace ktq::test
