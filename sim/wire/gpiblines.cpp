// The simulated units as one device on the bus's lines, in the three-wire handshake.
#include "sim/wire/gpiblines.h"

namespace ktq::sim {

GpibLines operator|(const GpibLines& a, const GpibLines& b) {
    return GpibLines{static_cast<std::uint8_t>(a.data | b.data),
                     a.dav || b.dav,
                     a.nrfd || b.nrfd,
                     a.ndac || b.ndac,
                     a.atn || b.atn,
                     a.eoi || b.eoi,
                     a.ifc || b.ifc,
                     a.ren || b.ren,
                     a.srq || b.srq};
}

UnitsOnLines::UnitsOnLines(WireBus& bus) : m_bus(bus) {}

const GpibLines& UnitsOnLines::controllerDrives(const GpibLines& controller) {
    const GpibLines before = m_controller;
    m_controller = controller;
    if (controller.ifc && !before.ifc)
        m_bus.interfaceClear();
    if (controller.ren != before.ren)
        m_bus.remoteEnable(controller.ren);
    m_units = GpibLines{};
    const bool anyUnit = !m_bus.units().empty();
    if (anyUnit)
        accept(); // before the ATN change: a command byte still under DAV belongs to the last ATN
    if (controller.atn != before.atn)
        m_bus.setAttention(controller.atn);
    if (anyUnit)
        talk();
    m_units.srq = m_bus.srqAsserted();
    return m_units;
}

// Acceptor. Under ATN every unit takes part; in standby only while one listens, otherwise NRFD
// and NDAC stay released and the controller sees nobody there.
void UnitsOnLines::accept() {
    const GpibLines& c = m_controller;
    const bool takesPart = c.atn || m_bus.ndacHeld();
    if (c.dav && !m_accepted && takesPart) {
        m_accepted = true;
        m_acceptedUnderAtn = c.atn;
        m_acceptedByte = c.data;
        m_acceptedEoi = false;
    }
    if (m_accepted && c.dav)
        m_acceptedEoi = m_acceptedEoi || c.eoi;
    if (m_accepted && !c.dav) {
        m_accepted = false;
        const char byte = static_cast<char>(m_acceptedByte);
        if (m_acceptedUnderAtn)
            m_bus.commandByte(byte);
        else
            m_bus.write(std::string_view(&byte, 1), m_acceptedEoi);
    }
    if (!takesPart && !m_accepted)
        return;
    m_units.nrfd = m_accepted;  // busy with the byte until DAV goes
    m_units.ndac = !m_accepted; // released: the byte is taken
}

// Source. With ATN released the addressed talker puts its next byte on the lines when the
// controller's acceptor is ready (NRFD released, NDAC asserted) and takes it back, counted as
// sent, when the controller releases NDAC. A talker with nothing to say never asserts DAV: the
// controller's own timeout ends the read, and the TIMEOUT line is written when it gives up.
void UnitsOnLines::talk() {
    const GpibLines& c = m_controller;
    const bool engaged = !c.atn && !c.ifc && c.ndac;
    if (m_offered && !c.atn && !c.ifc && !c.ndac) {
        m_bus.nextTalkByte();
        m_offered.reset();
    } else if (!engaged) {
        if (m_waitingForTalker)
            m_bus.talkerSilent();
        m_waitingForTalker = false;
        m_offered.reset();
    } else if (!c.nrfd && !m_offered) {
        m_offered = m_bus.peekTalkByte();
        m_waitingForTalker = !m_offered;
    }
    if (!m_offered)
        return;
    m_units.data = static_cast<std::uint8_t>(m_offered->byte);
    m_units.dav = true;
    m_units.eoi = m_offered->eoi;
}

} // namespace ktq::sim
