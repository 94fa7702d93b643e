// The driver the program uses: the board's library, or a "++" adapter found on a serial port or
// named by the operator, chosen when the program first looks for board GPIB0.
#pragma once

#include "adapterdriver.h"
#include "adapterlink.h"
#include "bus/driverbases.h"

#include <atomic>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::bus {

/// Where the operator's setting (KTQ_GPIB_ADAPTER) sends the program: a serial port by its
/// device path or COM name, or a TCP host and port.
struct AdapterAddress {
    std::string serialPort; // "/dev/ttyUSB3", "COM5"; empty for TCP
    std::string host;       // "lab-gpib", "192.168.1.20", "::1"
    int port = 1234;        // the Prologix GPIB-ETHERNET's port unless the setting names another

    bool operator==(const AdapterAddress&) const = default;
};

/// Reads the setting: a path starting with "/", "COMn" or "\\.\COMn" is a serial port; anything
/// else is "host[:port]" ("[v6 address]:port" for an IPv6 address with a port). nullopt for a
/// setting that is neither (an empty host, a port outside 1..65535), `error` then says why.
std::optional<AdapterAddress> parseAdapterAddress(std::string_view setting, std::string& error);

/// How the finder looks for an adapter.
struct AdapterSearch {
    /// KTQ_GPIB_ADAPTER as read once at start-up: empty lets the finder look for one.
    std::string setting;
    /// Probe only ports with a USB identity (Linux, where every built-in UART is a /dev/ttyS*
    /// that nothing answers on); Windows lists COM ports that are nearly all worth asking.
    bool usbPortsOnly = true;
};

/// The serial ports worth asking, in the order they are asked: USB identities that adapters are
/// known to have first (the Prologix's FTDI chip, Arduino boards running AR488), then the rest as
/// the system listed them.
std::vector<SerialPortInfo> portsToProbe(std::vector<SerialPortInfo> ports, bool usbPortsOnly);

/// Chooses at ibfind between the loaded library's board and a "++" adapter, then passes every
/// call to the one chosen. With a setting, that adapter is used and nothing else is tried.
/// Without one, the library's ibfind is tried first and, where it opens, no port is touched;
/// where it fails, the serial ports are asked "++ver" and the first that answers as an adapter is
/// used. Every later ibfind chooses again the same way, keeping an adapter that still answers.
/// Each choice of an adapter, and each search that found none, is told in one line on `log`.
class AdapterFinder final : public RoutingDriver {
public:
    AdapterFinder(std::unique_ptr<GpibDriver> library, std::unique_ptr<LinkOpener> opener,
                  AdapterSearch search, std::ostream& log);
    ~AdapterFinder() override;

    /// The chosen driver's family; the library's until a choice is made.
    std::string_view family() const override;
    /// For the status line: the adapter in use and where ("Prologix GPIB-USB 6.107 on
    /// /dev/ttyUSB0"), with the others that answered and how to choose one; empty while the
    /// library's board is used.
    std::string linkDescription() const override;
    /// The library's file, and the adapter the setting names or else the search of the ports.
    DriverPlan plan() const override;
    /// The reason the last line on `log` gave for a named adapter that could not be used, or for
    /// a search that could not look for one.
    std::string unreachableReason() const override;

    /// Chooses, then opens the board on the driver chosen; every other call goes to that driver.
    int ibfind(const char* name) override;
    /// Hears every adapter link the finder opens, the ports it only asks included.
    void setLinkListener(LinkListener* listener) override;

private:
    struct Found;
    int findNamedAdapter(const char* name);
    int findAdapterOnPorts(const char* name);
    /// The adapter in use set up again: its descriptor, or nullopt where there is none or it failed.
    std::optional<int> setUpAgain(const char* name);
    std::unique_ptr<AdapterLink> openNamed(const AdapterAddress& address, std::string& error);
    std::optional<AdapterIdentity> identify(AdapterLink& link);
    int useAdapter(std::unique_ptr<GpibDriver> adapter, std::string description, const char* name);
    /// Says why no adapter is used; `answering` (the unreachable driver by default) then answers.
    int failWith(const std::string& reason, GpibDriver* answering = nullptr);
    void choose(GpibDriver* current, std::string description, std::string unreachable = {});
    /// The driver chosen: the library's until ibfind chooses.
    GpibDriver& target() const override;

    std::unique_ptr<GpibDriver> m_library;
    std::unique_ptr<LinkOpener> m_opener;
    AdapterSearch m_search;
    std::ostream& m_log;
    std::unique_ptr<GpibDriver> m_adapter;     // the adapter in use or last used, if any
    std::unique_ptr<GpibDriver> m_unreachable; // answers while no adapter named can be used

    std::atomic<LinkListener*> m_listener = nullptr;
    mutable std::mutex m_choiceMutex; // the windows ask for the family while the bus thread chooses
    GpibDriver* m_current = nullptr;
    std::string m_description;
    std::string m_unreachableReason;
};

} // namespace ktq::bus
