// The AR488 firmware's GPIB pins on an Uno, as one device on the bus's wired-AND lines.
#pragma once

#include "sim/wire/gpiblines.h"

#include <array>
#include <cstdint>
#include <functional>

struct avr_t;
struct avr_irq_t;
struct avr_ioport_t;

namespace ktq::sim::uno {

/// The pins of the firmware's Uno layout (AR488_Layouts.h): DIO1-6 on PC0-PC5, DIO7-8 on
/// PD4-PD5; IFC PB0, NDAC PB1, NRFD PB2, DAV PB3, EOI PB4; SRQ PD2, REN PD3, ATN PD7. The
/// firmware asserts a line by driving its pin low as an output; it releases it as an input with
/// the pull-up, but also leaves data lines driven high and drives ATN, IFC and REN push-pull, so
/// only an output driven low counts as asserted. Each change of the firmware's port registers
/// passes what it asserts to the rest of the bus, and the firmware's input pins read the lines as
/// the whole bus holds them.
class GpibPins {
public:
    /// What the rest of the bus asserts, given what the firmware asserts.
    using RestOfBus = std::function<GpibLines(const GpibLines& firmware)>;

    explicit GpibPins(avr_t* avr, RestOfBus restOfBus);
    GpibPins(const GpibPins&) = delete;
    GpibPins& operator=(const GpibPins&) = delete;

    /// To be called after each reset of the chip, before it runs again.
    void afterReset();
    const GpibLines& firmwareAsserts() const { return m_firmware; }
    /// How often the firmware has read the pins (PINB, PINC, PIND): it polls them while it
    /// waits on the bus, and leaves them alone while it waits for the host.
    std::uint64_t pinReads() const { return m_pinReads; }

private:
    struct Port {
        GpibPins* pins = nullptr;
        avr_ioport_t* module = nullptr;
        std::uint8_t port = 0; // PORTx and DDRx as the firmware last wrote them
        std::uint8_t ddr = 0;
        std::uint8_t (*read)(avr_t*, std::uint16_t, void*) = nullptr; // simavr's PINx handler
        void* readParam = nullptr;
    };
    static std::uint8_t pinRead(avr_t* avr, std::uint16_t addr, void* param);
    static void portWritten(avr_irq_t* irq, std::uint32_t value, void* param);
    static void ddrWritten(avr_irq_t* irq, std::uint32_t value, void* param);
    void update();
    void driveInputs(const GpibLines& bus);

    avr_t* m_avr = nullptr;
    RestOfBus m_restOfBus;
    std::array<Port, 3> m_ports; // B, C, D
    GpibLines m_firmware;
    GpibLines m_rest;
    bool m_settled = false;
    std::uint64_t m_pinReads = 0;
};

} // namespace ktq::sim::uno
