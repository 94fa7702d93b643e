// Pseudo-terminal and loopback TCP links for an emulated adapter.
#include "sim/adapter/server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace ktq::sim::adapter {

namespace {

[[noreturn]] void fail(const std::string& call) {
    throw std::runtime_error(call + ": " + std::strerror(errno));
}

// Writes everything, or stops at the first failure (the host went away).
bool writeAll(int fd, const std::string& bytes, bool socket) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = socket ? ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                                 : ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Passes the host's bytes to the adapter and its answers back, until the link closes or fails;
// `taken` counts the bytes once they are answered.
void relay(int link, AdapterCore& core, bool socket, std::atomic<std::uint64_t>& taken) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(link, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        const std::string answer = core.fromHost(std::string_view(buffer, static_cast<std::size_t>(n)));
        if (!answer.empty() && !writeAll(link, answer, socket))
            return;
        taken += static_cast<std::uint64_t>(n);
        taken.notify_all();
    }
}

void waitFor(const std::atomic<std::uint64_t>& taken, std::uint64_t count) {
    for (std::uint64_t now = taken; now < count; now = taken)
        taken.wait(now);
}

} // namespace

PtyLink::PtyLink() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        fail("posix_openpt");
    if (::grantpt(m_master) != 0)
        fail("grantpt");
    if (::unlockpt(m_master) != 0)
        fail("unlockpt");
    const char* name = ::ptsname(m_master);
    if (name == nullptr)
        fail("ptsname");
    m_path = name;
    m_keeper = ::open(m_path.c_str(), O_RDWR | O_NOCTTY);
    if (m_keeper < 0)
        fail("open " + m_path);
    // Raw: no echo, no line editing, no CR/LF translation; a host may set it again, to the same.
    termios settings{};
    if (::tcgetattr(m_keeper, &settings) != 0)
        fail("tcgetattr");
    ::cfmakeraw(&settings);
    if (::tcsetattr(m_keeper, TCSANOW, &settings) != 0)
        fail("tcsetattr");
}

PtyLink::~PtyLink() {
    if (m_keeper >= 0)
        ::close(m_keeper);
    if (m_master >= 0)
        ::close(m_master);
}

void PtyLink::serve(AdapterCore& core) {
    relay(m_master, core, false, m_taken);
}

void PtyLink::waitTaken(std::uint64_t count) const {
    waitFor(m_taken, count);
}

TcpLink::TcpLink(int port) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        fail("socket");
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail("bind 127.0.0.1:" + std::to_string(port));
    if (::listen(m_listener, 1) != 0)
        fail("listen");
    socklen_t length = sizeof address;
    if (::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        fail("getsockname");
    m_port = ntohs(address.sin_port);
}

TcpLink::~TcpLink() {
    if (m_listener >= 0)
        ::close(m_listener);
}

void TcpLink::serve(AdapterCore& core) {
    for (;;) {
        const int host = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (host < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        m_host = host;
        relay(host, core, true, m_taken);
        m_host = -1;
        ::close(host);
    }
}

// Closing a socket would not wake a thread waiting on it; shutting it down does, and the
// serving thread closes it.
void TcpLink::dropConnection() {
    if (const int host = m_host; host >= 0)
        ::shutdown(host, SHUT_RDWR);
}

void TcpLink::waitTaken(std::uint64_t count) const {
    waitFor(m_taken, count);
}

void TcpLink::stop() {
    ::shutdown(m_listener, SHUT_RDWR);
    dropConnection();
}

} // namespace ktq::sim::adapter
