// ktqsim-uno started for a test.
#include "unoprocess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string_view>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace ktq::test {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> list;
    for (std::string& s : strings)
        list.push_back(s.data());
    list.push_back(nullptr);
    return list;
}

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream text(fileText(path));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

const std::vector<UnoFirmware>& unoFirmwares() {
    static const std::vector<UnoFirmware> firmwares{
        {"0.53.04", "AR488 GPIB controller, ver. 0.53.04, 13/04/2025\r\n", "Ar488_0_53_04", "80\r\n", true,
         true, "BenchAr488"},
        {"0.51.09", "AR488 GPIB controller, ver. 0.51.09, 20/06/2022\r\n", "Ar488_0_51_09", "0\r\n", false,
         false, "BenchAr488Old"},
    };
    return firmwares;
}

bool UnoProcess::built() {
    return !std::string_view(KTQ_SIM_UNO_PATH).empty();
}

void sendBytes(int fd, const std::string& bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

bool readUntil(int fd, std::string& got, const std::string& end, std::chrono::milliseconds within) {
    const auto until = Clock::now() + within;
    while (!got.ends_with(end)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1)
            return false;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

std::string untilAnswered(int fd, const std::string& command, const std::string& answer) {
    std::string got;
    for (const auto until = Clock::now() + UnoProcess::bound; Clock::now() < until;) {
        sendBytes(fd, command);
        if (readUntil(fd, got, answer, 250ms))
            break;
    }
    return got;
}

UnoProcess::UnoProcess(const UnoFirmware& firmware, const std::vector<std::string>& arguments,
                       const std::string& bench)
    : m_firmware(firmware) {
    std::vector<std::string> argv{KTQ_SIM_UNO_PATH, "--firmware", firmware.version, "--pty"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::string stem = ::testing::TempDir() + "uno-" + std::to_string(::getpid()) + "-" +
                             std::to_string(reinterpret_cast<std::uintptr_t>(this));
    m_dialogue = stem + "-dialogue.txt";
    m_events = stem + "-bus.txt";
    std::remove(m_dialogue.c_str());
    std::remove(m_events.c_str());
    std::vector<std::string> environment{"GPIB_SIM_BENCH=" + bench, "GPIB_SIM_ADAPTER_TRACE=" + m_dialogue,
                                         "GPIB_SIM_TRACE=" + m_events};
    for (char** variable = environ; *variable; ++variable)
        if (!std::string_view(*variable).starts_with("GPIB_SIM_"))
            environment.emplace_back(*variable);
    int out[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    auto args = pointers(argv);
    auto envp = pointers(environment);
    EXPECT_EQ(::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    m_out = out[0];
    std::string first;
    EXPECT_TRUE(readUntil(m_out, first, "\n")) << first;
    EXPECT_TRUE(first.starts_with("pty /dev/")) << first;
    m_path = first.size() > 5 ? first.substr(4, first.size() - 5) : std::string();
}

UnoProcess::~UnoProcess() {
    stop();
    ::close(m_out);
    closePort();
    std::remove(m_dialogue.c_str());
    std::remove(m_events.c_str());
}

int UnoProcess::open() {
    closePort();
    m_port = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(m_port, 0) << m_path;
    termios settings{};
    ::tcgetattr(m_port, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B115200);
    ::tcsetattr(m_port, TCSANOW, &settings);
    return m_port;
}

void UnoProcess::waitForFirmware() {
    const std::string got = untilAnswered(m_port, "++ver\r\n", m_firmware.versionLine);
    ASSERT_TRUE(got.ends_with(m_firmware.versionLine)) << got;
}

std::string UnoProcess::ask(const std::string& command) {
    std::string got;
    sendBytes(m_port, command + "\r\n");
    EXPECT_TRUE(readUntil(m_port, got, "\r\n")) << command << ": " << got;
    return got;
}

void UnoProcess::closePort() {
    if (m_port >= 0)
        ::close(m_port);
    m_port = -1;
}

int UnoProcess::ownersSetUp(const std::vector<std::string>& commands) {
    open();
    waitForFirmware();
    for (const std::string& command : commands)
        sendBytes(m_port, command + "\r\n");
    // "++ver real" answers the firmware's own version text once the commands before it are
    // done; the tool reports EEPROM writes before any later answer.
    std::string got;
    sendBytes(m_port, "++ver real\r\n");
    EXPECT_TRUE(readUntil(m_port, got, m_firmware.versionLine)) << got;
    closePort();
    return eepromWrites();
}

void UnoProcess::note(const std::string& text) {
    m_pending += text;
    for (auto end = m_pending.find('\n'); end != std::string::npos; end = m_pending.find('\n')) {
        const std::string line = m_pending.substr(0, end);
        m_pending.erase(0, end + 1);
        if (line.starts_with("eeprom "))
            m_eepromWrites = std::stoi(line.substr(7));
    }
}

std::string UnoProcess::said(std::chrono::milliseconds within) {
    std::string got;
    if (within.count() > 0)
        readUntil(m_out, got, "\n", within);
    for (pollfd ready{m_out, POLLIN, 0}; ::poll(&ready, 1, 0) == 1;) {
        char buffer[256];
        const ssize_t n = ::read(m_out, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    note(got);
    return got;
}

int UnoProcess::eepromWrites() {
    said();
    return m_eepromWrites;
}

void UnoProcess::stop() {
    if (m_pid > 0 && ::kill(m_pid, SIGTERM) == 0) {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        said();
    }
    m_pid = -1;
}

std::string UnoProcess::dialogue() const {
    return fileText(m_dialogue);
}

std::vector<std::string> UnoProcess::dialogueLines() const {
    return fileLines(m_dialogue);
}

std::vector<std::string> UnoProcess::busEvents() const {
    return fileLines(m_events);
}

} // namespace ktq::test
