// Pseudo-terminal and loopback TCP links for an emulated adapter.
#include "sim/adapter/server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace ktq::sim::adapter {

namespace {

[[noreturn]] void fail(const std::string& call) {
    throw std::runtime_error(call + ": " + std::strerror(errno));
}

// Waits until `fd` is ready for `events` (or has failed, which the next call on it tells) or
// the link is stopped; false once stopped.
bool waitReady(int fd, short events, const StopSignal& stop) {
    pollfd watched[2] = {{fd, events, 0}, {stop.fd(), POLLIN, 0}};
    for (;;) {
        const int n = ::poll(watched, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && watched[1].revents == 0;
    }
}

bool retry(ssize_t n) {
    return n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK);
}

// Writes everything, or stops at the first failure (the host went away) or at stop().
bool writeAll(int fd, const std::string& bytes, bool socket, const StopSignal& stop) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (!waitReady(fd, POLLOUT, stop))
            return false;
        const ssize_t n = socket ? ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                                 : ::write(fd, bytes.data() + done, bytes.size() - done);
        if (retry(n))
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Passes the host's bytes to the adapter and its answers back, until the link closes or fails
// or is stopped; `taken` counts the bytes once they are answered. `link` does not block.
void relay(int link, AdapterCore& core, bool socket, const StopSignal& stop,
           std::atomic<std::uint64_t>& taken) {
    char buffer[4096];
    while (waitReady(link, POLLIN, stop)) {
        const ssize_t n = ::read(link, buffer, sizeof buffer);
        if (retry(n))
            continue;
        if (n <= 0)
            return;
        const std::string answer = core.fromHost(std::string_view(buffer, static_cast<std::size_t>(n)));
        if (!answer.empty() && !writeAll(link, answer, socket, stop))
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

StopSignal::StopSignal() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        fail("pipe2");
    m_read = ends[0];
    m_write = ends[1];
}

StopSignal::~StopSignal() {
    ::close(m_read);
    ::close(m_write);
}

// One byte is enough: nothing reads it, so the read end stays readable for every later wait.
void StopSignal::raise() {
    while (::write(m_write, "", 1) < 0 && errno == EINTR) {
    }
}

PtyLink::PtyLink() {
    // posix_openpt() opens this same device; opened by name, the descriptor is one that a
    // ThreadSanitizer build knows, so that what a host writes to the far end before a byte is
    // seen to come before the serving thread's read of it.
    m_master = ::open("/dev/ptmx", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        fail("open /dev/ptmx");
    if (::fcntl(m_master, F_SETFL, O_NONBLOCK) != 0)
        fail("fcntl O_NONBLOCK");
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
    relay(m_master, core, false, m_stop, m_taken);
}

void PtyLink::waitTaken(std::uint64_t count) const {
    waitFor(m_taken, count);
}

TcpLink::TcpLink(int port) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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
    while (waitReady(m_listener, POLLIN, m_stop)) {
        const int host = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (host < 0) {
            if (retry(host) || errno == ECONNABORTED)
                continue;
            return;
        }
        {
            const std::lock_guard guard(m_hostLock);
            m_host = host;
        }
        relay(host, core, true, m_stop, m_taken);
        const std::lock_guard guard(m_hostLock);
        m_host = -1;
        ::close(host);
    }
}

// Shutting the connection down ends the relay's wait on it (it reads the end of the stream); the
// serving thread closes it.
void TcpLink::dropConnection() {
    const std::lock_guard guard(m_hostLock);
    if (m_host >= 0)
        ::shutdown(m_host, SHUT_RDWR);
}

void TcpLink::waitTaken(std::uint64_t count) const {
    waitFor(m_taken, count);
}

} // namespace ktq::sim::adapter
