// simavr's peripheral modules of a chip, found by kind and name, for what their ioctls lack.
#pragma once

#include <simavr/avr_eeprom.h>
#include <simavr/avr_ioport.h>
#include <simavr/avr_uart.h>
#include <simavr/avr_watchdog.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_io.h>

#include <cstring>

namespace ktq::sim::uno {

/// Every simavr module begins with its avr_io_t (sim_io.h), so the module is found by walking
/// the chip's list of them; nullptr when the chip has none such.
template <typename Module, typename Matches>
Module* findModule(avr_t* avr, const char* kind, Matches matches) {
    for (avr_io_t* io = avr->io_port; io != nullptr; io = io->next) {
        if (io->kind == nullptr || std::strcmp(io->kind, kind) != 0)
            continue;
        auto* module = reinterpret_cast<Module*>(io);
        if (matches(*module))
            return module;
    }
    return nullptr;
}

inline avr_uart_t* findUart(avr_t* avr, char name) {
    return findModule<avr_uart_t>(avr, "uart", [name](const avr_uart_t& uart) { return uart.name == name; });
}

inline avr_ioport_t* findPort(avr_t* avr, char name) {
    return findModule<avr_ioport_t>(avr, "port",
                                    [name](const avr_ioport_t& port) { return port.name == name; });
}

inline avr_eeprom_t* findEeprom(avr_t* avr) {
    return findModule<avr_eeprom_t>(avr, "eeprom", [](const avr_eeprom_t&) { return true; });
}

inline avr_watchdog_t* findWatchdog(avr_t* avr) {
    return findModule<avr_watchdog_t>(avr, "watchdog", [](const avr_watchdog_t&) { return true; });
}

} // namespace ktq::sim::uno
