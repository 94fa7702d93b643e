// ktqsim-uno started for a test.
#include "unoprocess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace ktq::test {

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
    m_tool.emplace(argv,
                   std::vector<std::string>{"GPIB_SIM_BENCH=" + bench, "GPIB_SIM_ADAPTER_TRACE=" + m_dialogue,
                                            "GPIB_SIM_TRACE=" + m_events});
    const std::string& first = m_tool->first();
    EXPECT_TRUE(first.starts_with("pty /dev/")) << first;
    m_path = first.size() > 5 ? first.substr(4, first.size() - 5) : std::string();
}

UnoProcess::~UnoProcess() {
    stop();
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

int UnoProcess::openStarted() {
    open();
    const std::string got = untilAnswered(m_port, "++ver\r\n", m_firmware.versionLine);
    EXPECT_TRUE(got.ends_with(m_firmware.versionLine)) << got;
    return m_port;
}

void UnoProcess::closePort() {
    if (m_port >= 0)
        ::close(m_port);
    m_port = -1;
}

int UnoProcess::ownersSetUp(const std::vector<std::string>& commands) {
    openStarted();
    for (const std::string& command : commands)
        sendBytes(m_port, command + "\r\n");
    // "++ver real" answers the firmware's own version text once the commands before it are
    // done; the tool reports EEPROM writes before any later answer.
    ask("++ver real", m_firmware.versionLine);
    closePort();
    return eepromWrites();
}

std::string UnoProcess::said(std::chrono::milliseconds within) {
    std::string got;
    readUntil(m_tool->out(), got, "\n", within); // at once where `within` is 0
    for (pollfd ready{m_tool->out(), POLLIN, 0}; ::poll(&ready, 1, 0) == 1;) {
        char buffer[256];
        const ssize_t n = ::read(m_tool->out(), buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    m_pending += got;
    for (auto end = m_pending.find('\n'); end != std::string::npos; end = m_pending.find('\n')) {
        if (m_pending.starts_with("eeprom "))
            m_eepromWrites = std::stoi(m_pending.substr(7, end - 7));
        m_pending.erase(0, end + 1);
    }
    return got;
}

void UnoProcess::stop() {
    if (const int status = m_tool->end(); status != -1) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        said();
    }
}

} // namespace ktq::test
