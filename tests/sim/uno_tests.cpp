// The real AR488 firmware on the emulated Uno (ktqsim-uno), as a host program meets it on its
// serial port. The firmware runs in simulated time, about twice as fast as real time when the
// machine is idle and slower under load: every wait below reads until the expected text comes,
// within a generous bound that only keeps a broken run from hanging.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <ostream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto bound = 60s;

struct Firmware {
    const char* version;
    const char* versionLine;
    // 0.51.09 reads a serial poll's status byte while it still drives the data lines high, and
    // so reads them as it drives them.
    const char* statusByte;
};

void PrintTo(const Firmware& firmware, std::ostream* out) {
    *out << firmware.version;
}

const Firmware firmwares[] = {
    {"0.53.04", "AR488 GPIB controller, ver. 0.53.04, 13/04/2025\r\n", "80\r\n"},
    {"0.51.09", "AR488 GPIB controller, ver. 0.51.09, 20/06/2022\r\n", "0\r\n"},
};

void send(int fd, const std::string& bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Appends what arrives on fd to `got` until it ends with `end` or `within` has passed.
bool readUntil(int fd, std::string& got, const std::string& end, Clock::duration within = bound) {
    const auto until = Clock::now() + within;
    while (!got.ends_with(end)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 0))) != 1)
            return false;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

// Sends `command` again every quarter second until `answer` comes back (the firmware may not run
// yet, or may still be busy); returns everything that came.
std::string untilAnswered(int fd, const std::string& command, const std::string& answer) {
    std::string got;
    for (const auto until = Clock::now() + bound; Clock::now() < until;) {
        send(fd, command);
        if (readUntil(fd, got, answer, 250ms))
            break;
    }
    return got;
}

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// One run of the tool.
class Uno {
public:
    Uno(const Firmware& firmware, std::vector<std::string> arguments, const std::string& bench = "")
        : m_firmware(firmware) {
        std::vector<std::string> argv{KTQ_SIM_UNO_PATH, "--firmware", firmware.version, "--pty"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        m_trace = ::testing::TempDir() + "uno-dialogue-" + std::to_string(::getpid()) + ".txt";
        m_busTrace = ::testing::TempDir() + "uno-bus-" + std::to_string(::getpid()) + ".txt";
        std::remove(m_trace.c_str());
        std::remove(m_busTrace.c_str());
        std::vector<std::string> environment{"GPIB_SIM_BENCH=" + bench, "GPIB_SIM_ADAPTER_TRACE=" + m_trace,
                                             "GPIB_SIM_TRACE=" + m_busTrace};
        for (char** variable = environ; *variable; ++variable)
            if (!std::string_view(*variable).starts_with("GPIB_SIM_"))
                environment.emplace_back(*variable);
        int out[2];
        EXPECT_EQ(::pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        auto args = pointers(argv);
        auto envp = pointers(environment);
        EXPECT_EQ(::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = out[0];
        std::string first;
        EXPECT_TRUE(readUntil(m_out, first, "\n")) << first;
        EXPECT_TRUE(first.starts_with("pty /dev/")) << first;
        m_path = first.substr(4, first.size() - 5);
    }
    ~Uno() {
        stop();
        ::close(m_out);
        closePort();
        std::remove(m_trace.c_str());
        std::remove(m_busTrace.c_str());
    }

    // Opens the port as the program does (which resets the board) and waits for the firmware.
    int open() {
        closePort();
        m_port = ::open(m_path.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(m_port, 0) << m_path;
        termios settings{};
        ::tcgetattr(m_port, &settings);
        ::cfmakeraw(&settings);
        ::cfsetspeed(&settings, B115200);
        ::tcsetattr(m_port, TCSANOW, &settings);
        return m_port;
    }
    void waitForFirmware() {
        const std::string got = untilAnswered(m_port, "++ver\r\n", m_firmware.versionLine);
        ASSERT_TRUE(got.ends_with(m_firmware.versionLine)) << got;
    }
    std::string ask(const std::string& command) {
        std::string got;
        send(m_port, command + "\r\n");
        EXPECT_TRUE(readUntil(m_port, got, "\r\n")) << command << ": " << got;
        return got;
    }
    // What the tool has said on its standard output since the last call, without waiting.
    std::string said(Clock::duration within = 0s) {
        std::string got;
        readUntil(m_out, got, "\n", within);
        return got;
    }
    std::string dialogue() const { return contents(m_trace); }
    std::string busEvents() const { return contents(m_busTrace); }
    // Looks at the bus events after the first `from` bytes until `events` has come.
    bool busShows(const std::string& events, std::size_t from) const {
        for (const auto until = Clock::now() + bound; Clock::now() < until; ::usleep(50000))
            if (busEvents().find(events, from) != std::string::npos)
                return true;
        return false;
    }
    void stop() {
        if (m_pid > 0 && ::kill(m_pid, SIGTERM) == 0) {
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        m_pid = -1;
    }
    void closePort() {
        if (m_port >= 0)
            ::close(m_port);
        m_port = -1;
    }

private:
    static std::string contents(const std::string& path) {
        std::ifstream file(path);
        return {std::istreambuf_iterator<char>(file), {}};
    }
    static std::vector<char*> pointers(std::vector<std::string>& strings) {
        std::vector<char*> list;
        for (std::string& s : strings)
            list.push_back(s.data());
        list.push_back(nullptr);
        return list;
    }

    Firmware m_firmware;
    pid_t m_pid = -1;
    int m_out = -1;
    int m_port = -1;
    std::string m_path;
    std::string m_trace;
    std::string m_busTrace;
};

class UnoFirmware : public ::testing::TestWithParam<Firmware> {
protected:
    void SetUp() override {
        if (std::string(KTQ_SIM_UNO_PATH).empty())
            GTEST_SKIP() << "ktqsim-uno was not built (cmake said what it lacks)";
    }
};

TEST_P(UnoFirmware, WhatComesAtOnceAfterOpeningIsLostAndTheFirmwareAnswersOnceStarted) {
    Uno uno(GetParam(), {});
    uno.open();
    uno.waitForFirmware(); // its questions end optiboot's wait
    const std::size_t before = uno.busEvents().size();
    uno.open(); // and nothing said: optiboot waits its second, then the firmware starts
    EXPECT_TRUE(uno.busShows("REN 0\nREN 1\n", before)) << "released in reset, asserted by the firmware";
    EXPECT_EQ(uno.ask("++ver"), GetParam().versionLine);
    const int port = uno.open(); // again, with the firmware running
    send(port, "++ver\r\n");     // while the board is held in reset, then optiboot listens
    const std::string first = untilAnswered(port, "++addr 7\r\n++addr\r\n", "7\r\n");
    EXPECT_EQ(first.find("AR488"), std::string::npos) << first;
    EXPECT_EQ(uno.ask("++ver"), GetParam().versionLine);
}

TEST_P(UnoFirmware, OpeningResetsTheBoardAndOnlySavecfgWritesTheEepromItKeeps) {
    const std::string image = ::testing::TempDir() + "uno-eeprom-" + std::to_string(::getpid()) + ".bin";
    std::remove(image.c_str());
    {
        Uno uno(GetParam(), {"--eeprom", image});
        uno.open();
        uno.waitForFirmware();
        const std::string fresh = uno.ask("++addr");
        ASSERT_NE(fresh, "7\r\n");
        EXPECT_EQ(uno.ask("++addr 7\r\n++eoi 1\r\n++read_tmo_ms 500\r\n++addr"), "7\r\n");
        EXPECT_EQ(uno.said(), "") << "ordinary commands write no EEPROM";
        uno.open();
        uno.waitForFirmware();
        EXPECT_EQ(uno.ask("++addr"), fresh) << "reopened, the board starts afresh";
        EXPECT_EQ(uno.ask("++addr 7\r\n++savecfg\r\n++addr"), "7\r\n");
        const std::string said = uno.said(bound);
        EXPECT_TRUE(said.starts_with("eeprom ") && said != "eeprom 0\n") << said;
        uno.open();
        uno.waitForFirmware();
        EXPECT_EQ(uno.ask("++addr"), "7\r\n") << "the EEPROM outlives the reset";
    }
    Uno again(GetParam(), {"--eeprom", image});
    again.open();
    again.waitForFirmware();
    EXPECT_EQ(again.ask("++addr"), "7\r\n") << "the EEPROM came back from the file";
    std::remove(image.c_str());
}

TEST_P(UnoFirmware, AUnitOnTheBusAnswersThroughItAndABurstWhileItWaitsLosesBytes) {
    Uno uno(GetParam(), {}, "5=7174");
    const int port = uno.open();
    uno.waitForFirmware();
    // Its query and reply; then, with a reply waiting and service requested for it, SRQ and the
    // status byte (MAV, RQS) until the reply is read.
    const struct {
        std::string send;
        std::string answer;
    } exchanges[] = {
        {"++addr 5\r\nSYST:COMM:GPIB:ADDR?\r\n++read eoi\r\n", "5\n"},
        {"*SRE 16\r\nSYST:COMM:GPIB:ADDR?\r\n++srq\r\n", "1\r\n"},
        {"++spoll\r\n", GetParam().statusByte},
        {"++read eoi\r\n++srq\r\n", "5\n0\r\n"},
    };
    for (const auto& exchange : exchanges) {
        std::string reply;
        send(port, exchange.send);
        EXPECT_TRUE(readUntil(port, reply, exchange.answer)) << exchange.send << reply;
        EXPECT_EQ(reply, exchange.answer) << exchange.send;
    }

    // Eight commands fit the Uno's 64-byte receive buffer, sixteen do not while the firmware
    // waits out a read from a unit with nothing to say.
    const struct {
        const char* before;
        int versions;
    } bursts[] = {{"", 8}, {"++read\r\n", 16}};
    for (const auto& burst : bursts) {
        std::string bytes = burst.before;
        for (int i = 0; i < burst.versions; ++i)
            bytes += "++ver\r\n";
        send(port, bytes);
        const std::string got = untilAnswered(port, "++addr 3\r\n++addr\r\n", "3\r\n");
        const int answered = count(got, GetParam().versionLine);
        if (*burst.before == '\0') {
            EXPECT_EQ(answered, burst.versions) << got;
        } else {
            EXPECT_GT(answered, 0) << got;
            EXPECT_LT(answered, burst.versions) << got;
        }
        send(port, "++addr 5\r\n");
    }
    uno.stop();
    EXPECT_NE(uno.dialogue().find("> SYST:COMM:GPIB:ADDR?\n> ++read eoi\n< 5\\n\n"), std::string::npos)
        << uno.dialogue();
}

INSTANTIATE_TEST_SUITE_P(Versions, UnoFirmware, ::testing::ValuesIn(firmwares), [](const auto& info) {
    std::string name = info.param.version;
    std::replace(name.begin(), name.end(), '.', '_');
    return "v" + name;
});

} // namespace
