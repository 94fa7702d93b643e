// A tool of the bench (ktqsim-adapter, ktqsim-uno) started for a test, its standard output a pipe
// to the test. Every wait reads until the expected text comes, within a generous bound that only
// keeps a broken run from hanging. Header only: a test program includes it without linking the
// library that starts ktqsim-uno.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ktq::test {

inline constexpr std::chrono::seconds toolBound{60};

/// Appends what arrives on fd to `got` until it ends with `end` or `within` has passed.
inline bool readUntil(int fd, std::string& got, const std::string& end,
                      std::chrono::milliseconds within = toolBound) {
    const auto until = std::chrono::steady_clock::now() + within;
    while (!got.ends_with(end)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
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

inline void sendBytes(int fd, const std::string& bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

/// Sends `bytes` and reads what comes back, up to `end`.
inline std::string exchange(int fd, const std::string& bytes, const std::string& end) {
    sendBytes(fd, bytes);
    std::string got;
    EXPECT_TRUE(readUntil(fd, got, end)) << bytes << ": " << got;
    return got;
}

/// Sends `command` every quarter second until `answer` comes back; returns everything that came.
inline std::string untilAnswered(int fd, const std::string& command, const std::string& answer) {
    std::string got;
    for (const auto until = std::chrono::steady_clock::now() + toolBound;
         std::chrono::steady_clock::now() < until;) {
        sendBytes(fd, command);
        if (readUntil(fd, got, answer, std::chrono::milliseconds(250)))
            break;
    }
    return got;
}

inline std::string fileText(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

inline std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

class ToolProcess {
public:
    /// Starts argv[0] with the test's environment, its GPIB_SIM_ variables replaced by `own`.
    ToolProcess(std::vector<std::string> argv, std::vector<std::string> own) {
        for (char** variable = environ; *variable; ++variable)
            if (!std::string_view(*variable).starts_with("GPIB_SIM_"))
                own.emplace_back(*variable);
        int out[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        auto args = pointers(argv);
        auto envp = pointers(own);
        EXPECT_EQ(::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = out[0];
        readUntil(m_out, m_first, "\n");
    }
    ~ToolProcess() {
        end();
        ::close(m_out);
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    int out() const { return m_out; }
    /// What the tool said first ("pty PATH", "tcp PORT"), or "" where it ended without a line.
    const std::string& first() const { return m_first; }
    /// Sends `signal` (0: none, the tool ends by itself) and waits for the tool; its wait status,
    /// or -1 where it was not running.
    int end(int signal = SIGTERM) {
        int status = -1;
        if (m_pid > 0 && (signal == 0 || ::kill(m_pid, signal) == 0))
            ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }

private:
    static std::vector<char*> pointers(std::vector<std::string>& strings) {
        std::vector<char*> list;
        for (std::string& s : strings)
            list.push_back(s.data());
        list.push_back(nullptr);
        return list;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_first;
};

} // namespace ktq::test
