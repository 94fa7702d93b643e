// The emulated "++" adapters: their answers, what they put on the bus, and the program around them.
#include "sim/adapter/adaptercore.h"
#include "sim/adapter/profile.h"
#include "sim/simbus.h"
#include "toolprocess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ktq::sim::adapter::test {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

// A 7174 at 5 (primary address only) and a 7189 at 9 (channels behind secondaries 11 to 14).
struct Bench {
    explicit Bench(const AdapterProfile& profile) : bus(SimBus::fromBenchLayout("5=7174;9=7189")) {
        bus->wire().setEventLog(true);
        core = std::make_unique<AdapterCore>(*bus, profile);
    }
    // The bus events the host's bytes caused.
    Events eventsOf(const std::string& bytes, std::string* answer = nullptr) {
        const std::size_t first = bus->wire().events().size();
        const std::string got = core->fromHost(bytes);
        if (answer)
            *answer = got;
        bus->wire().flushEvents();
        return Events(bus->wire().events().begin() + static_cast<long>(first), bus->wire().events().end());
    }

    std::unique_ptr<SimBus> bus;
    std::unique_ptr<AdapterCore> core;
};

class RecordingSleeper : public Sleeper {
public:
    void sleep(std::chrono::milliseconds duration) override { slept.push_back(duration); }
    std::vector<std::chrono::milliseconds> slept;
};

const AdapterProfile& profileNamed(const std::string& name) {
    const AdapterProfile* profile = findProfile(name);
    EXPECT_NE(profile, nullptr) << name;
    return profile ? *profile : prologixProfile();
}

// What each model answers, line by line, where the two differ and where they agree.
const std::string ar488Version = "AR488 GPIB controller, ver. 0.53.04, 13/04/2025\r\n";
const struct {
    std::string model;
    std::string input;
    std::string answer;
} answers[] = {
    {"prologix", "++ver\n", "Prologix GPIB-USB Controller version 6.107\r\n"},
    {"prologix", "++ver real\n", "Prologix GPIB-USB Controller version 6.107\r\n"},
    {"prologix-ethernet", "++ver\n", "Prologix GPIB-ETHERNET Controller version 01.06.06.00\r\n"},
    {"ar488", "++ver\r\n", ar488Version},
    {"ar488-0.51", "++ver real\n", "AR488 GPIB controller, ver. 0.51.09, 20/06/2022\r\n"},
    // The owner's version text for other software; only "++ver real" still tells the firmware.
    {"ar488", "++id verstr Prologix GPIB-USB Controller version 6.107\n++ver\n++ver real\n++id fwver\n",
     "Prologix GPIB-USB Controller version 6.107\r\n" + ar488Version + ar488Version},
    {"prologix", "++nonsense\n", ""},
    {"ar488", "++nonsense\n", "Unrecognized command\r\n"},
    {"ar488", "++help\n", "Unrecognized command\r\n"},
    {"ar488", "++findlstn 1-8\n", "Unrecognized command\r\n"},
    {"ar488-0.51", "++fndl all\n", "Unrecognized command\r\n"},
    {"prologix", "++fndl all\n", ""},
    {"prologix", "++addr\n", "0\r\n"},
    {"ar488", "++addr\n", "1\r\n"}, // setDefaultCfg's primary
    {"prologix", "++addr 9 107\n++addr\n", "9 107\r\n"},
    {"ar488", "++addr 9 11\n++addr\n", "9,107\r\n"}, // a bare secondary, answered as sent
    {"ar488-0.51", "++addr 9 107\n++addr\n", "9\r\n"},
    {"prologix", "++addr 9 11\n++addr\n", "0\r\n"}, // refused whole
    {"prologix", "++addr 31\n++addr\n", "0\r\n"},
    {"prologix", "++addr 0\n++addr\n", "0\r\n"},
    {"ar488", "++addr 5\n++addr 0\n++addr\n", "Invalid parameter\r\n5\r\n"}, // 0 is its own
    {"ar488-0.51", "++addr 5\n++addr 31\n++addr\n", "Unrecognized command\r\n5\r\n"},
    {"prologix", "++read_tmo_ms 5000\n++read_tmo_ms\n", "3000\r\n"},
    {"prologix", "++read_tmo_ms 0\n++read_tmo_ms\n", "1\r\n"},
    {"ar488", "++read_tmo_ms\n", "1200\r\n"},
    {"ar488", "++read_tmo_ms 5000\n++read_tmo_ms\n", "5000\r\n"},
    {"ar488", "++read_tmo_ms 40000\n++read_tmo_ms\n", "Invalid parameter\r\n1200\r\n"},
    {"ar488", "++read_tmo_ms 0\n++read_tmo_ms\n", "Invalid parameter\r\n1200\r\n"},
    {"prologix", "++auto 2\n++auto\n", "0\r\n"},
    {"ar488", "++auto 2\n++auto\n", "2\r\n"},
    {"ar488", "++addr 5\n++auto 2\n*ESE 4\n*ESE?\n", "4\n"}, // reads after queries only
    {"prologix", "++eos 4\n++eos\n", "0\r\n"},
    {"ar488", "++eos 4\n++eos\n", "Invalid parameter\r\n0\r\n"},
    {"prologix", "++eos 3\n++eos\n++eoi 0\n++eoi\n", "3\r\n0\r\n"},
    {"ar488", "++eoi\n", "0\r\n"}, // EOI off from power-up
    {"prologix", "++eot_char 300\n++eot_char\n", "0\r\n"},
    {"prologix", "++mode\n", "1\r\n"},
    {"ar488", "++mode\n", "1\r\n"},
    {"prologix", "++savecfg\n", "1\r\n"}, // saving is on from power-up
    {"ar488", "++ver\r++ver\n", ar488Version + ar488Version},
    {"ar488", "++fndl all\n", "5\r\n"}, // UNT ends the 7189's addressing before its channels
    {"ar488", "++fndl 1-8\n", "5\r\n"},
    {"ar488", "++fndl 10 11\n", "\r\n"},
    {"ar488", "++fndl\n++read_tmo_ms\n", "Missing parameter\r\n35\r\n"},
    {"ar488", "++ren 0\n++ren\n", "0\r\n"},
    {"ar488", "++flags 2\n++addr 5\nSYST:COMM:GPIB:ADDR?\n++read eoi\n", "5\nRead^OK\r\n"},
    {"ar488", "++flags 4\n++addr 5\n*CLS\n", "Send^OK\r\n"},
    {"ar488", "++verbose\n++eoi\n", "Verbose: ON\r\n> ++eoi\r\n0\r\n> "},
    {"ar488", "++spoll 9 107\n", "Invalid parameter\r\n"},
    {"ar488", "++addr 5\n*SRE 16\nSYST:COMM:GPIB:ADDR?\n++spoll 7 5\n", "80\r\n"},
    {"ar488-0.51", "++spoll 5\n", ""}, // reads past its parameter and polls nobody
};

TEST(AdapterAnswers, EachModelAnswersAsItsManualOrFirmwareSays) {
    for (const auto& c : answers) {
        SCOPED_TRACE(c.model + " " + c.input);
        Bench bench(profileNamed(c.model));
        EXPECT_EQ(bench.core->fromHost(c.input), c.answer);
    }
}

// What each command and data line puts on the bus: talk and listen addresses as bytes with ATN
// ("@" is the adapter's talk address, "?" unlisten, "_" untalk, "%" listen 5, "k" secondary 11),
// as a Prologix puts them. An AR488 unaddresses any talker ("?_" first) where a Prologix makes
// itself talker or only unlistens, and unaddresses the unit again after a clear or trigger (its
// unaddressing after a message goes out with the next command, under the same ATN).
TEST(AdapterBus, CommandsAndDataGoOnTheWireAsTheManualsDescribe) {
    const auto onAr488 = [](Events events) {
        for (std::string& e : events) {
            if (!e.starts_with("CMD \""))
                continue;
            e = "CMD \"?_" + e.substr(e.starts_with("CMD \"@?") ? 7 : 6);
            if (e.ends_with("\\x04\"") || e.ends_with("\\x08\""))
                e.insert(e.size() - 1, "?_");
        }
        return events;
    };
    const struct {
        std::string input;
        Events events;
        std::optional<Events> ar488{}; // where the rule does not make them
    } cases[] = {
        {"++addr 5\n*CLS\n", {"CMD \"@?%\"", "WRITE 5 \"*CLS\\r\\n\" EOI"}},
        {"++addr 9 107\n*CLS\n", {"CMD \"@?)k\"", "WRITE 9.11 \"*CLS\\r\\n\" EOI"}},
        {"++addr 5 96\n*CLS\n", {"CMD \"@?%`\"", "WRITE 5 \"*CLS\\r\\n\" EOI"}},
        {"++addr 5\n++eos 2\n++eoi 0\n*CLS\n", {"CMD \"@?%\"", "WRITE 5 \"*CLS\\n\""}},
        {"++addr 5\n++eos 1\n*CLS\n", {"CMD \"@?%\"", "WRITE 5 \"*CLS\\r\" EOI"}},
        {"++addr 5\n++eos 3\n*CLS\n", {"CMD \"@?%\"", "WRITE 5 \"*CLS\" EOI"}},
        // Escaped, "++" and the line ends are data for the unit, not commands for the adapter.
        {"++addr 5\n\x1b+\x1b+addr 7\n", {"CMD \"@?%\"", "WRITE 5 \"++addr 7\\r\\n\" EOI"}},
        {"++addr 5\nA\x1b\rB\x1b\nC\x1b\x1b\n", {"CMD \"@?%\"", "WRITE 5 \"A\\rB\\nC\\x1b\\r\\n\" EOI"}},
        {"++addr 5\r\n\r\n*CLS\r\n", {"CMD \"@?%\"", "WRITE 5 \"*CLS\\r\\n\" EOI"}},
        {"++addr 6\n*CLS\n", {"CMD \"@?&\"", "WRITE - \"*CLS\\r\\n\" EOI"}},
        {"++addr 5\n++clr\n", {"CMD \"?%\\x04\""}},
        {"++addr 9 107\n++clr\n", {"CMD \"?)k\\x04\""}},
        {"++addr 5\n++trg\n", {"CMD \"?%\\x08\""}},
        // A Prologix triggers a group; an AR488 each primary on its own, and none at all when one
        // of its arguments is no primary address.
        {"++trg 5 9\n", {"CMD \"?%)\\x08\""}, Events{"CMD \"?_%\\x08?_\"", "CMD \"?_)\\x08?_\""}},
        {"++trg 5 9 107\n", {"CMD \"?%)k\\x08\""}, Events{}},
        {"++addr 5\n++llo\n", {"CMD \"?%\\x11\""}},
        {"++addr 5\n++loc\n", {"CMD \"?%\\x01\""}},
        {"++ifc\n", {"IFC"}},
        {"++srq\n", {}},
    };
    for (const AdapterProfile* profile : {&prologixProfile(), &ar488Profile()})
        for (const auto& c : cases) {
            SCOPED_TRACE(profile->name + " " + c.input);
            Bench bench(*profile);
            bench.core->fromHost("++eoi 1\n"); // an AR488 starts without EOI
            EXPECT_EQ(bench.eventsOf(c.input),
                      profile->ar488 ? c.ar488.value_or(onAr488(c.events)) : c.events);
        }
}

TEST(AdapterBus, ClearAndTriggerReachTheAddressedUnit) {
    Bench bench(prologixProfile());
    bench.core->fromHost("++addr 5\nSYST:COMM:GPIB:ADDR?\n");
    ASSERT_TRUE(bench.bus->unitAt(5)->replyPending());
    bench.core->fromHost("++clr\n");
    EXPECT_FALSE(bench.bus->unitAt(5)->replyPending()) << "Selected Device Clear drops the reply";
    EXPECT_FALSE(bench.bus->unitAt(5)->triggered());
    bench.core->fromHost("++trg\n");
    EXPECT_TRUE(bench.bus->unitAt(5)->triggered());
    EXPECT_FALSE(bench.bus->unitAt(9)->triggered());
}

// How a read ends: at EOI, at the given byte (even past EOI), or only when the unit falls silent.
TEST(AdapterRead, EndsAtEoiTheEndByteOrTheTimeout) {
    const struct {
        std::string setup;
        std::string reply; // queued for unit 5
        std::string read;
        std::string answer;
        bool timesOut;
    } cases[] = {
        {"", "5\n", "++read eoi\n", "5\n", false},
        {"", "", "++read eoi\n", "", true},
        {"", "AB\nCD\n", "++read 10\n", "AB\n", false},
        {"", "AB", "++read 10\n", "AB", true},
        {"", "AB\nCD\n", "++read\n", "AB\nCD\n", true},
        {"++eot_enable 1\n++eot_char 42\n", "AB\n", "++read eoi\n", "AB\n*", false},
        {"++eot_enable 1\n++eot_char 42\n", "AB\nCD\n", "++read 10\n", "AB\n", false},
        {"++auto 1\n", "", "SYST:COMM:GPIB:ADDR?\n", "5\n", false},
    };
    for (const AdapterProfile* profile : {&prologixProfile(), &ar488Profile()})
        for (const auto& c : cases) {
            SCOPED_TRACE(profile->name + " " + c.setup + c.reply + " " + c.read);
            Bench bench(*profile);
            bench.core->fromHost("++addr 5\n" + c.setup);
            if (!c.reply.empty())
                bench.bus->queueReply(5, c.reply);
            std::string answer;
            const Events events = bench.eventsOf(c.read, &answer);
            EXPECT_EQ(answer, c.answer);
            EXPECT_EQ(std::count(events.begin(), events.end(), "TIMEOUT READ 5"), c.timesOut ? 1 : 0);
            if (c.read.rfind("++read", 0) == 0) {
                // The unit talks; a Prologix makes itself listener, an AR488 listens unaddressed.
                EXPECT_EQ(events.front(), profile->ar488 ? "CMD \"?_E\"" : "CMD \"? E\"");
            }
        }
}

// Serial poll: SPE, the unit's status byte, SPD; SRQ follows the unit's enabled summary bits.
TEST(AdapterPoll, SerialPollReadsTheStatusByteAndSrqFollowsTheUnit) {
    Bench bench(prologixProfile());
    std::string answer;
    bench.core->fromHost("++addr 5\n*SRE 16\n");
    EXPECT_EQ(bench.core->fromHost("++srq\n++spoll\n"), "0\r\n0\r\n");
    bench.core->fromHost("SYST:COMM:GPIB:ADDR?\n"); // a reply waits: MAV, enabled for service
    EXPECT_EQ(bench.core->fromHost("++srq\n"), "1\r\n");
    const Events events = bench.eventsOf("++spoll\n", &answer);
    EXPECT_EQ(answer, "80\r\n");
    EXPECT_EQ(events, (Events{"CMD \"? \\x18E\"", "READ 5 \"P\"", "CMD \"\\x19_\""}));
    EXPECT_EQ(bench.core->fromHost("++read eoi\n"), "5\n") << "the poll leaves the reply where it was";
    EXPECT_EQ(bench.core->fromHost("++srq\n++spoll 5\n"), "0\r\n0\r\n");
    EXPECT_EQ(bench.core->fromHost("++spoll 9 107\n"), "0\r\n");
    EXPECT_EQ(bench.core->fromHost("++spoll 7\n"), "") << "nobody at 7 answers the poll";
}

// The adapter's own memory: nothing written unless told, and told only as each model takes it.
TEST(AdapterSettingsMemory, NothingIsSavedUnlessTold) {
    const struct {
        std::string model;
        std::string input;
        int savedWrites;
        int primaryAfterReset;
        std::vector<std::string> told;
    } cases[] = {
        // Saving is on from power-up until "++savecfg 0".
        {"prologix", "++addr 7\n++eos 2\n++auto 1\n++read_tmo_ms 100\n++rst\n", 4, 7, {"++rst"}},
        {"prologix", "++savecfg\n++addr 7\n++rst\n", 1, 7, {"++rst"}},
        {"prologix", "++savecfg 0\n++addr 7\n++eos 2\n++rst\n", 0, 0, {"++savecfg 0", "++rst"}},
        {"prologix", "++savecfg 1\n++addr 7\n++eos 2\n++rst\n", 3, 7, {"++savecfg 1", "++rst"}},
        {"prologix",
         "++savecfg 1\n++addr 7\n++savecfg 0\n++addr 8\n++rst\n",
         2,
         7,
         {"++savecfg 1", "++savecfg 0", "++rst"}},
        {"ar488", "++addr 7\n++rst\n", 0, 1, {"++rst"}},
        {"ar488", "++addr 7\n++savecfg\n++addr 8\n++rst\n", 1, 7, {"++savecfg", "++rst"}},
        {"ar488", "++addr 7\n++savecfg 0\n++addr 8\n++rst\n", 1, 7, {"++savecfg 0", "++rst"}},
        {"prologix", "++savecfg 0\n++mode 0\n++mode 1\n", 0, 0, {"++savecfg 0", "++mode 0", "++mode 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model + " " + c.input);
        Bench bench(profileNamed(c.model));
        bench.core->fromHost(c.input);
        EXPECT_EQ(bench.core->savedWrites(), c.savedWrites);
        EXPECT_EQ(bench.core->settings().primary, c.primaryAfterReset);
        EXPECT_EQ(bench.core->settingsCommands(), c.told);
    }
}

// In device mode the adapter leaves the bus alone; a Prologix takes controller mode back quietly.
// An AR488 starts controller mode at power-up, at "++rst" and at every "++mode 1", in controller
// mode already or not: REN released (every unit goes to local), asserted again, IFC.
TEST(AdapterSettingsMemory, DeviceModeLeavesTheBusAloneAndAnAr488RestartsControllerMode) {
    Bench prologix(prologixProfile());
    EXPECT_EQ(prologix.bus->wire().events(), Events{});
    EXPECT_EQ(prologix.eventsOf("++mode 1\n"), Events{});
    prologix.core->fromHost("++addr 5\n");
    EXPECT_EQ(prologix.eventsOf("++mode 0\n*CLS\n++clr\n++trg\n++ifc\n++read eoi\n"), Events{});
    EXPECT_EQ(prologix.eventsOf("++mode 1\n*CLS\n"), (Events{"CMD \"@?%\"", "WRITE 5 \"*CLS\\r\\n\" EOI"}));
    const Events restart{"REN 0", "REN 1", "REN 0", "REN 1", "IFC"};
    for (const AdapterProfile* profile : {&ar488Profile(), &ar488OldProfile()}) {
        SCOPED_TRACE(profile->name);
        Bench ar488(*profile);
        EXPECT_EQ(ar488.bus->wire().events(), restart);
        EXPECT_EQ(ar488.eventsOf("++rst\n"), restart);
        EXPECT_EQ(ar488.eventsOf("++mode 1\n"), restart);
        EXPECT_EQ(ar488.eventsOf("++mode\n"), Events{});
    }
}

// An Uno's 63-byte serial buffer: what arrives while the firmware is busy on the bus beyond it is
// lost; its 128-byte line buffer sends a longer data line as separate messages (escapes do not
// count) and drops a longer command.
TEST(AdapterInput, TheUnoLosesWhatOverrunsItsBuffersWhileBusy) {
    const std::string eoiOn = "++eoi 1\n++eos 3\n++addr 5\n";
    const std::string sixty = std::string(60, 'A');
    const std::string write = "WRITE 5 \"" + sixty + "\" EOI";
    // A short and a long burst after a line that keeps the firmware busy on the bus, and a long
    // burst after quick lines only.
    const struct {
        std::string input;
        std::size_t lost;
        Events events;
    } cases[] = {
        {"++ifc\n*CLS\n", 0, {"IFC", "CMD \"?_%\"", "WRITE 5 \"*CLS\" EOI"}},
        {"++ifc\n" + sixty + "\n*CLS\n", 3, {"IFC", "CMD \"?_%\"", write}},
        {sixty + "\n" + sixty + "\n", 0, {"CMD \"?_%\"", write, "CMD \"?_?_%\"", write}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        Bench bench(ar488Profile());
        bench.eventsOf(eoiOn);
        EXPECT_EQ(bench.eventsOf(c.input), c.events);
        EXPECT_EQ(bench.core->lostBytes(), c.lost);
    }
    Bench bench(ar488Profile());
    bench.core->fromHost(eoiOn);
    std::string line;
    for (const char ch : std::string(100, 'B') + std::string(100, '+'))
        line += std::string{'\x1b', ch};
    // In writes the buffer holds, as a host that waits between them sends.
    const std::string all = line + "\n++" + std::string(130, 'x') + "\n";
    Events events;
    for (std::size_t at = 0; at < all.size(); at += 60) {
        const Events more = bench.eventsOf(all.substr(at, 60));
        events.insert(events.end(), more.begin(), more.end());
    }
    EXPECT_EQ(bench.core->lostBytes(), 0u);
    EXPECT_EQ(events,
              (Events{"CMD \"?_%\"", "WRITE 5 \"" + std::string(100, 'B') + std::string(28, '+') + "\" EOI",
                      "CMD \"?_?_%\"", "WRITE 5 \"" + std::string(72, '+') + "\" EOI", "CMD \"?_?_%\"",
                      "WRITE 5 \"xxxx\" EOI"}));
    EXPECT_EQ(bench.core->fromHost("++eoi\n"), "1\r\n") << "the long command's first 128 bytes were dropped";
}

// The dialogue, one line each way, and a line split over several writes from the host.
TEST(AdapterDialogue, KeepsEachLineAndItsAnswer) {
    Bench bench(prologixProfile());
    EXPECT_EQ(bench.core->fromHost("++ad"), "");
    EXPECT_EQ(bench.core->fromHost("dr 5\r\nSYST:COMM:GPIB:ADDR?\n++read eoi\n++a"), "5\n");
    bench.core->fromHost("ddr\n\x1b+x\n");
    EXPECT_EQ(bench.core->dialogue(),
              (std::vector<std::string>{"> ++addr 5", "> SYST:COMM:GPIB:ADDR?", "> ++read eoi", "< 5\\n",
                                        "> ++addr", "< 5", "> \\x1b+x"}));
}

// Real time: the link holds each answer; the bus waits the read timeout. Simulated: nothing waits.
TEST(AdapterTiming, RealTimeAddsTheLinkLatencyAndTheReadTimeout) {
    for (const bool real : {false, true}) {
        SCOPED_TRACE(real ? "real" : "simulated");
        Bench bench(prologixProfile());
        RecordingSleeper sleeper;
        bench.bus->setSleeper(&sleeper);
        bench.bus->setTiming(Timing{0ms, real});
        bench.core->setSleeper(&sleeper);
        if (real)
            bench.core->setLinkLatency(16ms);
        bench.core->fromHost("++addr 6\n++read_tmo_ms 250\n");
        EXPECT_TRUE(sleeper.slept.empty()) << "no answer, nothing held";
        bench.core->fromHost("++read eoi\n");
        bench.core->fromHost("++ver\n");
        using Waits = std::vector<std::chrono::milliseconds>;
        const Waits expected = real ? Waits{250ms, 16ms} : Waits{};
        EXPECT_EQ(sleeper.slept, expected);
    }
}

// The program itself, run as an operator runs it.
class AdapterProgram : public ::testing::Test {
protected:
    // Starts it with the bench and the dialogue trace; returns its first line ("pty PATH").
    std::string start(std::vector<std::string> arguments) {
        std::remove(m_trace.c_str());
        arguments.insert(arguments.begin(), KTQ_SIM_ADAPTER_PATH);
        m_tool.emplace(arguments, std::vector<std::string>{"GPIB_SIM_BENCH=5=7174;9=7189",
                                                           "GPIB_SIM_ADAPTER_TRACE=" + m_trace});
        return m_tool->first();
    }

    // The same exchange on any link: the version, then the unit at 5 asked for its address.
    static void talkTo(int fd, const std::string& version) {
        EXPECT_EQ(ktq::test::exchange(fd, "++ver\r\n", "\r\n"), version + "\r\n");
        EXPECT_EQ(ktq::test::exchange(fd, "++addr 5\nSYST:COMM:GPIB:ADDR?\n++read eoi\n", "\n"), "5\n");
        EXPECT_EQ(ktq::test::exchange(fd, "++addr\n", "\r\n"), "5\r\n");
    }

    const std::string m_trace = ::testing::TempDir() + "adapter-trace-" + std::to_string(::getpid()) + ".txt";
    std::optional<ktq::test::ToolProcess> m_tool;
};

TEST_F(AdapterProgram, ServesAPseudoTerminal) {
    const std::string first = start({"--model", "prologix", "--pty"});
    ASSERT_EQ(first.rfind("pty /dev/", 0), 0u) << first;
    const std::string path = first.substr(4, first.size() - 5);
    // A host that closes the port and opens it again finds the adapter still there.
    for (int opening = 0; opening < 2; ++opening) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0) << path;
        talkTo(fd, "Prologix GPIB-USB Controller version 6.107");
        ::close(fd);
    }
    const std::string exchange = "> ++ver\n< Prologix GPIB-USB Controller version 6.107\n> ++addr 5\n"
                                 "> SYST:COMM:GPIB:ADDR?\n> ++read eoi\n< 5\\n\n> ++addr\n< 5\n";
    EXPECT_EQ(ktq::test::fileText(m_trace), exchange + exchange);
}

TEST_F(AdapterProgram, ServesLoopbackTcp) {
    const std::string first = start({"--model", "ar488", "--tcp", "0"});
    ASSERT_EQ(first.rfind("tcp ", 0), 0u) << first;
    const int port = std::stoi(first.substr(4));
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    talkTo(fd, "AR488 GPIB controller, ver. 0.53.04, 13/04/2025");
    ::close(fd);
}

TEST_F(AdapterProgram, RefusesWhatItCannotServe) {
    EXPECT_EQ(start({"--model", "hp82357", "--pty"}), "");
    EXPECT_EQ(WEXITSTATUS(m_tool->end(0)), 2);
}

} // namespace
} // namespace ktq::sim::adapter::test
