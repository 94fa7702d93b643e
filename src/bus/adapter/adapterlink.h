// The byte link to a "++" GPIB adapter (a serial port or a TCP connection), and where to find one.
#pragma once

#include "bus/gpibdriver.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::bus {

/// An open byte link to a "++" adapter. Used from the bus thread only.
class AdapterLink {
public:
    virtual ~AdapterLink() = default;
    /// Where the link goes, as the operator would name it: "/dev/ttyUSB0", "COM5", "lab-gpib:1234".
    virtual std::string where() const = 0;
    /// Writes every byte; false when the link is gone (the port unplugged, the connection closed).
    virtual bool write(std::string_view bytes) = 0;
    /// Returns the bytes that have arrived, waiting up to `wait` for the first of them: empty when
    /// none came within the wait. Sets `gone` when the link has failed. A link that knows no more
    /// can come (the bench's own, in tests) returns empty at once instead of waiting.
    virtual std::string read(std::chrono::milliseconds wait, bool& gone) = 0;
};

/// Another link, whose bytes the listener of the time (none while null) hears as they go.
class ListenedLink final : public AdapterLink {
public:
    ListenedLink(AdapterLink& link, const std::atomic<LinkListener*>& listener)
        : m_link(link), m_listener(listener) {}

    std::string where() const override { return m_link.where(); }
    bool write(std::string_view bytes) override {
        if (LinkListener* listener = m_listener.load())
            listener->sent(bytes);
        return m_link.write(bytes);
    }
    std::string read(std::chrono::milliseconds wait, bool& gone) override {
        std::string bytes = m_link.read(wait, gone);
        if (LinkListener* listener = m_listener.load(); listener && !bytes.empty())
            listener->received(bytes);
        return bytes;
    }

private:
    AdapterLink& m_link;
    const std::atomic<LinkListener*>& m_listener;
};

/// A serial port as the system lists it, with its USB identity where it has one.
struct SerialPortInfo {
    std::string name;  // what opens it: "/dev/ttyUSB0", "COM5"
    int vendorId = -1; // the USB vendor and product, -1 when not a USB port
    int productId = -1;
    std::string description; // the system's words for it, may be empty
};

/// The platform's way to list serial ports and open links (Qt's modules on Linux, Win32 on
/// Windows); tests give the bench's.
class LinkOpener {
public:
    virtual ~LinkOpener() = default;
    virtual std::vector<SerialPortInfo> serialPorts() = 0;
    /// nullptr when it cannot be opened; `error` then says why, on one line.
    virtual std::unique_ptr<AdapterLink> openSerial(const std::string& port, std::string& error) = 0;
    virtual std::unique_ptr<AdapterLink> openTcp(const std::string& host, int port, std::string& error) = 0;
    /// Why no port can be listed nor any link opened (the links could not be loaded), on one
    /// line; empty where they can. The first call may load them.
    virtual std::string whyUnusable() { return {}; }
};

/// This platform's: on Linux Qt's serial port and network modules, in a module of the program's
/// loaded at the first call that needs them (linkmodule.h); on Windows the Win32 API.
std::unique_ptr<LinkOpener> makeSystemLinkOpener();

} // namespace ktq::bus
