// The firmware's GPIB pins on simavr's I/O ports.
#include "sim/uno/pins.h"

#include "sim/uno/simavrmodules.h"

#include <stdexcept>

namespace ktq::sim::uno {

namespace {

enum class Signal { Dio, Ifc, Ndac, Nrfd, Dav, Eoi, Srq, Ren, Atn };

struct Pin {
    Signal signal;
    int dio;  // DIOn - 1, for Signal::Dio
    int port; // 0 B, 1 C, 2 D
    int bit;
};

constexpr char portNames[] = {'B', 'C', 'D'};

constexpr Pin layout[] = {
    {Signal::Dio, 0, 1, 0}, {Signal::Dio, 1, 1, 1},  {Signal::Dio, 2, 1, 2},  {Signal::Dio, 3, 1, 3},
    {Signal::Dio, 4, 1, 4}, {Signal::Dio, 5, 1, 5},  {Signal::Dio, 6, 2, 4},  {Signal::Dio, 7, 2, 5},
    {Signal::Ifc, 0, 0, 0}, {Signal::Ndac, 0, 0, 1}, {Signal::Nrfd, 0, 0, 2}, {Signal::Dav, 0, 0, 3},
    {Signal::Eoi, 0, 0, 4}, {Signal::Srq, 0, 2, 2},  {Signal::Ren, 0, 2, 3},  {Signal::Atn, 0, 2, 7},
};

bool* flag(GpibLines& lines, Signal signal) {
    switch (signal) {
    case Signal::Ifc:
        return &lines.ifc;
    case Signal::Ndac:
        return &lines.ndac;
    case Signal::Nrfd:
        return &lines.nrfd;
    case Signal::Dav:
        return &lines.dav;
    case Signal::Eoi:
        return &lines.eoi;
    case Signal::Srq:
        return &lines.srq;
    case Signal::Ren:
        return &lines.ren;
    case Signal::Atn:
        return &lines.atn;
    case Signal::Dio:
        break;
    }
    return nullptr;
}

bool asserted(GpibLines lines, const Pin& pin) {
    if (pin.signal == Signal::Dio)
        return (lines.data >> pin.dio) & 1;
    return *flag(lines, pin.signal);
}

void assertLine(GpibLines& lines, const Pin& pin) {
    if (pin.signal == Signal::Dio)
        lines.data = static_cast<std::uint8_t>(lines.data | (1 << pin.dio));
    else
        *flag(lines, pin.signal) = true;
}

std::uint8_t gpibMask(int port) {
    std::uint8_t mask = 0;
    for (const Pin& pin : layout)
        if (pin.port == port)
            mask = static_cast<std::uint8_t>(mask | (1 << pin.bit));
    return mask;
}

} // namespace

GpibPins::GpibPins(avr_t* avr, RestOfBus restOfBus) : m_avr(avr), m_restOfBus(std::move(restOfBus)) {
    for (int i = 0; i < 3; ++i) {
        Port& port = m_ports[i];
        port.pins = this;
        port.module = findPort(avr, portNames[i]);
        if (port.module == nullptr)
            throw std::runtime_error("simavr's atmega328p lacks a port");
        avr_irq_t* irqs = avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ(portNames[i]), 0);
        avr_irq_register_notify(irqs + IOPORT_IRQ_REG_PORT, portWritten, &port);
        avr_irq_register_notify(irqs + IOPORT_IRQ_DIRECTION_ALL, ddrWritten, &port);
        auto& read = avr->io[AVR_DATA_TO_IO(port.module->r_pin)].r;
        port.read = read.c;
        port.readParam = read.param;
        read.c = pinRead;
        read.param = &port;
    }
    afterReset();
}

std::uint8_t GpibPins::pinRead(avr_t* avr, std::uint16_t addr, void* param) {
    auto* port = static_cast<Port*>(param);
    ++port->pins->m_pinReads;
    return port->read(avr, addr, port->readParam);
}

// simavr signals PORTx after storing it and DDRx before: both are taken from the signal.
void GpibPins::portWritten(avr_irq_t*, std::uint32_t value, void* param) {
    auto* port = static_cast<Port*>(param);
    port->port = static_cast<std::uint8_t>(value);
    port->pins->update();
}

void GpibPins::ddrWritten(avr_irq_t*, std::uint32_t value, void* param) {
    auto* port = static_cast<Port*>(param);
    port->ddr = static_cast<std::uint8_t>(value);
    port->pins->update();
}

// simavr 1.6's reset clears PORTx and DDRx without raising their signals, whose last values
// then stand; as those signals are raised only on a change, the firmware's first writes after a
// reset could go unseen. Raising them with the registers' reset values sets them straight.
void GpibPins::afterReset() {
    m_settled = false;
    for (int i = 0; i < 3; ++i) {
        avr_irq_t* irqs = avr_io_getirq(m_avr, AVR_IOCTL_IOPORT_GETIRQ(portNames[i]), 0);
        m_ports[i].port = m_ports[i].ddr = 0;
        avr_raise_irq(irqs + IOPORT_IRQ_REG_PORT, 0);
        avr_raise_irq(irqs + IOPORT_IRQ_DIRECTION_ALL, 0);
    }
    update();
}

void GpibPins::update() {
    GpibLines firmware;
    for (const Pin& pin : layout) {
        const Port& port = m_ports[pin.port];
        const bool drivenLow = ((port.ddr >> pin.bit) & 1) && !((port.port >> pin.bit) & 1);
        if (drivenLow)
            assertLine(firmware, pin);
    }
    if (!m_settled || firmware != m_firmware) {
        m_firmware = firmware;
        m_rest = m_restOfBus(firmware);
        m_settled = true;
    }
    driveInputs(m_firmware | m_rest);
}

// The levels go in as simavr's "external" state, which its port module puts on an input pin
// whenever the firmware writes the port (otherwise each write of a pull-up would raise the pin
// whatever the bus holds), and onto the pins at once. simavr 1.6 keeps a pin's level in its
// signal and the PINx bit apart, and after a reset PINx reads 0 until the signal changes; the
// bit is set here too, so that PINx always reads the level.
void GpibPins::driveInputs(const GpibLines& bus) {
    for (int i = 0; i < 3; ++i) {
        const Port& port = m_ports[i];
        const std::uint8_t mask = gpibMask(i);
        std::uint8_t high = mask;
        for (const Pin& pin : layout)
            if (pin.port == i && asserted(bus, pin))
                high = static_cast<std::uint8_t>(high & ~(1 << pin.bit));
        avr_ioport_external_t external{};
        external.name = static_cast<unsigned long>(portNames[i]);
        external.mask = mask;
        external.value = high;
        avr_ioctl(m_avr, AVR_IOCTL_IOPORT_SET_EXTERNAL(portNames[i]), &external);
        avr_irq_t* irqs = port.module->io.irq;
        std::uint8_t& pinRegister = m_avr->data[port.module->r_pin];
        for (int bit = 0; bit < 8; ++bit) {
            if (!((mask >> bit) & 1) || ((port.ddr >> bit) & 1))
                continue;
            const bool level = (high >> bit) & 1;
            avr_raise_irq(irqs + bit, level);
            pinRegister =
                static_cast<std::uint8_t>(level ? pinRegister | (1 << bit) : pinRegister & ~(1 << bit));
        }
    }
}

} // namespace ktq::sim::uno
