// The bus's nine control lines and eight data lines, as the devices on them assert them.
#pragma once

#include "sim/wire/wirebus.h"

#include <cstdint>
#include <optional>

namespace ktq::sim {

/// What one device asserts on the bus (asserted: the line pulled low). The bus is wired-AND:
/// a line stands asserted while any device asserts it.
struct GpibLines {
    std::uint8_t data = 0; // DIO1 (bit 0) .. DIO8 (bit 7): the byte's value, as asserted
    bool dav = false;
    bool nrfd = false;
    bool ndac = false;
    bool atn = false;
    bool eoi = false;
    bool ifc = false;
    bool ren = false;
    bool srq = false;

    friend bool operator==(const GpibLines&, const GpibLines&) = default;
};

/// The lines as the bus holds them: every device's assertions together.
GpibLines operator|(const GpibLines& a, const GpibLines& b);

/// The simulated units of a WireBus as one device on the lines, across from a controller that
/// drives them pin by pin (the AR488 firmware on an emulated Arduino). The units take part in
/// the three-wire handshake as acceptors of what the controller sends (bytes under ATN reach
/// the WireBus as commands, data bytes reach its listeners), as source of the addressed
/// talker's bytes (EOI with the last), and hold SRQ while a unit asks for service. IFC and REN
/// reach the WireBus as they change. Nothing here waits: each call settles the units' side at
/// once, as if the units answered within a bus cycle. The bus events the WireBus records are the
/// same as when a board drives it.
class UnitsOnLines {
public:
    explicit UnitsOnLines(WireBus& bus);

    /// The controller's assertions changed (or may have); returns what the units assert now.
    const GpibLines& controllerDrives(const GpibLines& controller);
    const GpibLines& unitsDrive() const { return m_units; }

private:
    void accept();
    void talk();

    WireBus& m_bus;
    GpibLines m_controller;
    GpibLines m_units;
    // The acceptor: the byte taken when DAV came, handed over when DAV goes, so that an EOI
    // reported a pin change after DAV still counts for it.
    bool m_accepted = false;
    bool m_acceptedUnderAtn = false;
    bool m_acceptedEoi = false;
    std::uint8_t m_acceptedByte = 0;
    // The source: the talker's byte on the lines until the controller takes it.
    std::optional<WireBus::TalkByte> m_offered;
    bool m_waitingForTalker = false; // the controller is ready and nobody has anything to say
};

} // namespace ktq::sim
