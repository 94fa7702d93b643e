// The Uno's USB serial port as a pseudo-terminal, which a host program opens as it would
// /dev/ttyACM0.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace ktq::sim::uno {

/// A pseudo-terminal in raw mode at 115200 baud (a host may set its own termios). A real Uno's
/// port resets the board when it is opened; so that the opening can be seen, nothing here holds
/// the far end open: on Linux the master side reports POLLHUP while no program holds it.
class HostPort {
public:
    /// Throws std::runtime_error naming the call that failed.
    HostPort();
    ~HostPort();
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    const std::string& path() const { return m_path; }
    /// A host holds the port open.
    bool isOpen() const { return m_open; }

    struct Events {
        bool opened = false; // a host opened the port since the last wait()
        bool closed = false; // the host closed it (after sending `bytes`)
        std::string bytes;   // what the host sent
    };
    /// Waits up to `timeout` for the host's bytes or its opening the port.
    Events wait(std::chrono::milliseconds timeout);
    /// Sends bytes to the host; while no host holds the port they are lost, as a USB serial
    /// port's are while it is closed.
    void send(std::string_view bytes);

private:
    void discardStaleInput();

    int m_master = -1;
    std::string m_path;
    bool m_open = false;
};

} // namespace ktq::sim::uno
