// The Uno's USB serial port as a pseudo-terminal, which a host program opens as it would
// /dev/ttyACM0.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace ktq::sim::uno {

/// A pseudo-terminal in raw mode at 115200 baud (a host may set its own termios). A real Uno's
/// port resets the board when a program opens it; so that every opening is seen, even a close
/// and reopen between two looks, the far end is watched with inotify, and nothing here holds it
/// open but for a moment.
class HostPort {
public:
    /// Throws std::runtime_error naming the call that failed.
    HostPort();
    ~HostPort();
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    const std::string& path() const { return m_path; }
    /// A host holds the port open.
    bool isOpen() const { return m_holders > 0; }

    struct Events {
        bool opened = false; // a host opened the port that nobody held
        bool closed = false; // the last host closed it
        std::string bytes;   // what the host sent
    };
    /// Waits up to `timeout` for the host's bytes or its opening or closing the port.
    Events wait(std::chrono::milliseconds timeout);
    /// Sends bytes to the host; while no host holds the port they are lost, as a USB serial
    /// port's are while it is closed.
    void send(std::string_view bytes);

private:
    void takeWatchEvents(Events& events);
    void readHostBytes(Events& events);
    void discardStaleInput();

    int m_master = -1;
    int m_watch = -1; // inotify, on the far end's opens and closes
    std::string m_path;
    int m_holders = 0;
    int m_ownOpens = 0; // our own opening and closing of the far end, to be left out of the count
    int m_ownCloses = 0;
};

} // namespace ktq::sim::uno
