// The pseudo-terminal of the emulated Uno's serial port.
#include "sim/uno/hostport.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/inotify.h>
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
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        fail("grantpt");
    const char* name = ::ptsname(m_master);
    if (name == nullptr)
        fail("ptsname");
    m_path = name;
    // Set up through the far end once: the settings stay with the pair.
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
    m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch < 0 || ::inotify_add_watch(m_watch, m_path.c_str(), IN_OPEN | IN_CLOSE) < 0)
        fail("inotify on " + m_path);
}

HostPort::~HostPort() {
    ::close(m_watch);
    ::close(m_master);
}

HostPort::Events HostPort::wait(std::chrono::milliseconds timeout) {
    Events events;
    // While nobody holds the far end the master reports POLLHUP, which would end every wait.
    pollfd ready[2] = {{m_watch, POLLIN, 0}, {m_master, POLLIN, 0}};
    ::poll(ready, m_holders > 0 ? 2 : 1, static_cast<int>(timeout.count()));
    const bool wasOpen = m_holders > 0;
    takeWatchEvents(events);
    if (wasOpen || m_holders > 0)
        readHostBytes(events); // what the host sent before closing still counts
    if (events.closed && m_holders == 0)
        discardStaleInput();
    return events;
}

void HostPort::takeWatchEvents(Events& events) {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_watch, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (const char* at = buffer; at < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            at += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: whether anyone holds the port now is all that can be known.
                pollfd hangup{m_master, 0, 0};
                ::poll(&hangup, 1, 0);
                m_holders = (hangup.revents & POLLHUP) ? 0 : 1;
            } else if (event->mask & IN_OPEN) {
                if (m_ownOpens > 0)
                    --m_ownOpens;
                else if (m_holders++ == 0)
                    events.opened = true;
            } else if (event->mask & IN_CLOSE) {
                if (m_ownCloses > 0)
                    --m_ownCloses;
                else if (m_holders > 0 && --m_holders == 0)
                    events.closed = true;
            }
        }
    }
}

void HostPort::readHostBytes(Events& events) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0)
            events.bytes.append(buffer, static_cast<std::size_t>(n));
        else if (!(n < 0 && errno == EINTR))
            return; // EAGAIN: all read; EIO: nobody holds the far end
    }
}

// What the board sent just before the host closed the port would wait in the far end's input
// queue for the next program that opens it; a real port starts empty.
void HostPort::discardStaleInput() {
    const int far = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (far < 0)
        return;
    ++m_ownOpens;
    ::tcflush(far, TCIFLUSH);
    ::close(far);
    ++m_ownCloses;
}

void HostPort::send(std::string_view bytes) {
    std::size_t done = 0;
    while (isOpen() && done < bytes.size()) {
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
