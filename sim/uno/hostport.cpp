// The pseudo-terminal of the emulated Uno's serial port.
#include "sim/uno/hostport.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace ktq::sim::uno {

namespace {

[[noreturn]] void fail(const std::string& call) {
    throw std::runtime_error(call + ": " + std::strerror(errno));
}

} // namespace

HostPort::HostPort() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
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
    // Set up through the far end once, then closed again: the settings stay with the pair, and
    // only a pair whose far end has been closed reports POLLHUP (a new one reports nothing).
    const int far = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (far < 0)
        fail("open " + m_path);
    termios settings{};
    if (::tcgetattr(far, &settings) != 0)
        fail("tcgetattr");
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B115200);
    if (::tcsetattr(far, TCSANOW, &settings) != 0)
        fail("tcsetattr");
    ::close(far);
}

HostPort::~HostPort() {
    ::close(m_master);
}

HostPort::Events HostPort::wait(std::chrono::milliseconds timeout) {
    Events events;
    pollfd ready{m_master, POLLIN, 0};
    if (!m_open) {
        // POLLHUP stands while the port is closed, so poll() would not wait: look, then sleep.
        if (::poll(&ready, 1, 0) < 0 || (ready.revents & POLLHUP)) {
            if (timeout.count() > 0)
                ::poll(nullptr, 0, static_cast<int>(timeout.count()));
            return events;
        }
        m_open = true;
        events.opened = true;
        discardStaleInput();
        timeout = std::chrono::milliseconds(0);
    }
    if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0)
        return events;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            events.bytes.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: all read; EIO: the far end is closed
    }
    if (ready.revents & POLLHUP) {
        m_open = false;
        events.closed = true;
    }
    return events;
}

// What the board sent just before the last host closed the port may still wait in the far
// end's input queue; a real port starts empty.
void HostPort::discardStaleInput() {
    const int far = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (far < 0)
        return; // the host holds it exclusively; nothing stale can be in it but by a close race
    ::tcflush(far, TCIFLUSH);
    ::close(far);
}

void HostPort::send(std::string_view bytes) {
    std::size_t done = 0;
    while (m_open && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            // The host does not read: a real port's buffers would hold no more either.
            pollfd writable{m_master, POLLOUT, 0};
            if (::poll(&writable, 1, 100) <= 0 || (writable.revents & POLLHUP))
                return;
        } else if (!(n < 0 && errno == EINTR)) {
            return;
        }
    }
}

} // namespace ktq::sim::uno
