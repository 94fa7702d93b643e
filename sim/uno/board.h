// An Arduino Uno on simavr: an ATmega328P at 16 MHz with optiboot in its boot section, the
// firmware in front of it, its serial port and its EEPROM.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct avr_t;
struct avr_irq_t;
struct avr_uart_t;
struct avr_eeprom_t;

namespace ktq::sim::uno {

/// The board as its USB serial port and its pins see it. Power-up runs optiboot, which starts the
/// firmware at once (no external reset); resetFromHost() is what opening the serial port does to
/// a real Uno (DTR): the chip is held in reset, then optiboot waits about a second for an upload
/// before it starts the firmware. The EEPROM lives as long as the board, across resets.
class UnoBoard {
public:
    static constexpr std::uint32_t frequency = 16'000'000;
    static constexpr std::uint64_t cyclesPerMs = frequency / 1000;
    static constexpr std::size_t eepromSize = 1024;

    /// Loads both Intel hex images and powers the board up. Throws std::runtime_error.
    explicit UnoBoard(const std::string& firmwareHex, const std::string& bootloaderHex);
    ~UnoBoard();
    UnoBoard(const UnoBoard&) = delete;
    UnoBoard& operator=(const UnoBoard&) = delete;

    avr_t* chip() { return m_chip.get(); }
    /// Clock cycles since power-up.
    std::uint64_t cycle() const { return m_elapsed; }
    /// Runs the board for this many clock cycles (the chip stands still while held in reset).
    /// Throws std::runtime_error when the chip stops for good (a firmware crash).
    void run(std::uint64_t cycles);

    /// The host's DTR pulse: the chip is held in reset for the Uno's 66 ms, then starts with
    /// EXTRF set in MCUSR, so optiboot waits for an upload before it starts the firmware.
    void resetFromHost();
    /// Held in reset, or running the bootloader.
    bool starting() const;
    /// Called after every reset (the host's, the watchdog's), once the registers hold their
    /// reset values and before the chip runs.
    void setResetHook(std::function<void()> hook) { m_resetHook = std::move(hook); }

    /// Bytes on the serial line from the host. What arrives while the chip is held in reset or
    /// while its receiver is off is lost, as on the wire.
    void fromHost(std::string_view bytes);
    /// What the chip sent on its serial line since the last call.
    std::string takeToHost();

    /// EEPROM bytes the chip has written (each completed EEPE strobe) since power-up.
    std::uint64_t eepromWrites() const { return m_eepromWrites; }
    std::vector<std::uint8_t> eeprom() const;
    /// Throws std::invalid_argument unless `bytes` holds exactly eepromSize bytes.
    void setEeprom(const std::vector<std::uint8_t>& bytes);

private:
    static void coreReset(avr_t* avr);
    static void eecrWrite(avr_t* avr, std::uint16_t addr, std::uint8_t value, void* param);
    static void wdtcsrWrite(avr_t* avr, std::uint16_t addr, std::uint8_t value, void* param);
    void load(const std::string& hexFile);
    void hookRegisters();
    void hookUart();
    void afterReset();
    void feed();

    struct ChipDeleter {
        void operator()(avr_t* avr) const;
    };
    std::unique_ptr<avr_t, ChipDeleter> m_chip;
    void (*m_coreReset)(avr_t*) = nullptr; // the core's own reset, which ours calls first
    avr_uart_t* m_uart = nullptr;
    avr_eeprom_t* m_eeprom = nullptr;
    avr_irq_t* m_uartInput = nullptr;
    bool m_xon = false;
    std::deque<char> m_toChip;
    std::string m_toHost;
    std::uint64_t m_elapsed = 0;
    std::uint64_t m_holdUntil = 0; // the cycle the host's reset lets go at
    std::uint64_t m_eepromWrites = 0;
    struct WriteHandler {
        void (*write)(avr_t*, std::uint16_t, std::uint8_t, void*) = nullptr;
        void* param = nullptr;
    };
    WriteHandler m_eecr;   // simavr's EEPROM control register handler
    WriteHandler m_wdtcsr; // simavr's watchdog control register handler
    std::function<void()> m_resetHook;
};

} // namespace ktq::sim::uno
