// The Uno on simavr 1.6 as Debian 12 ships it, with its shortcomings worked around so that the
// chip behaves as the ATmega328P's datasheet says where the firmware and optiboot can tell.
#include "sim/uno/board.h"

#include "sim/uno/simavrmodules.h"

#include <simavr/avr_eeprom.h>
#include <simavr/avr_uart.h>
#include <simavr/avr_watchdog.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_hex.h>
#include <simavr/sim_io.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace ktq::sim::uno {

namespace {

// optiboot sits in the 512-byte boot section, and the BOOTRST fuse of an Uno points the reset
// vector at it (simavr counts the program counter in bytes).
constexpr std::uint32_t bootSection = 0x7e00;
// The chip stays in reset about 66 ms after DTR: the reset pulse through the Uno's 100 nF
// capacitor, then the start-up delay of its fuses (16K clocks + 65 ms).
constexpr std::uint64_t resetHoldCycles = 66 * UnoBoard::cyclesPerMs;

UnoBoard* boardOf(avr_t* avr) {
    return static_cast<UnoBoard*>(avr->custom.data);
}

// simavr's default sleep waits in real time; the tool paces time itself.
void noSleep(avr_t*, avr_cycle_count_t) {}

// simavr's messages would mix with the tool's own lines on standard output; only its errors
// are worth showing, on standard error.
void logToStderr(avr_t*, const int level, const char* format, va_list arguments) {
    if (level <= LOG_ERROR)
        std::vfprintf(stderr, format, arguments);
}

// simavr's hex reader says on standard error that it skips the start address record optiboot's
// file ends with, which means nothing to a chip that starts at its reset vector; a file it
// cannot read shows in what it returns.
class QuietStderr {
public:
    QuietStderr() {
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
    }
    ~QuietStderr() {
        std::fflush(stderr);
        if (m_saved >= 0) {
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int m_saved = -1;
};

std::uint8_t watchdogPrescaler(std::uint8_t wdtcsr) {
    return (wdtcsr & 0x07) | ((wdtcsr >> 2) & 0x08); // WDP2..0 in bits 2..0, WDP3 in bit 5
}

} // namespace

UnoBoard::UnoBoard(const std::string& firmwareHex, const std::string& bootloaderHex) {
    avr_global_logger_set(logToStderr);
    m_chip.reset(avr_make_mcu_by_name("atmega328p"));
    if (!m_chip)
        throw std::runtime_error("simavr has no atmega328p");
    // The firmware's image names no MCU and no clock: an Uno's are an ATmega328P at 16 MHz.
    if (avr_init(m_chip.get()) != 0)
        throw std::runtime_error("simavr could not set up the atmega328p");
    m_chip->frequency = frequency;
    m_chip->sleep = noSleep;
    m_chip->custom.data = this; // no custom init or deinit: the field is ours to point back with
    load(firmwareHex);
    load(bootloaderHex);
    m_chip->reset_pc = bootSection;
    m_uart = findUart(m_chip.get(), '0');
    m_eeprom = findEeprom(m_chip.get());
    if (m_uart == nullptr || m_eeprom == nullptr || m_eeprom->size != eepromSize)
        throw std::runtime_error("simavr's atmega328p lacks its UART or EEPROM");
    hookRegisters();
    hookUart();
    // Power-on: PORF only, so optiboot starts the firmware at once.
    avr_reset(m_chip.get());
    avr_regbit_set(m_chip.get(), m_chip->reset_flags.porf);
}

UnoBoard::~UnoBoard() = default;

void UnoBoard::ChipDeleter::operator()(avr_t* avr) const {
    avr_terminate(avr);
    std::free(avr); // simavr allocates the chip with malloc()
}

void UnoBoard::load(const std::string& hexFile) {
    ihex_chunk_p chunks = nullptr;
    int count = 0;
    {
        const QuietStderr quiet;
        count = read_ihex_chunks(hexFile.c_str(), &chunks);
    }
    if (count <= 0)
        throw std::runtime_error("cannot read " + hexFile);
    for (int i = 0; i < count; ++i) {
        // simavr aborts on code past the flash; an image too big for the Uno is an error here.
        if (chunks[i].baseaddr + chunks[i].size > m_chip->flashend + 1) {
            free_ihex_chunks(chunks);
            throw std::runtime_error(hexFile + " does not fit the flash");
        }
        avr_loadcode(m_chip.get(), chunks[i].data, chunks[i].size, chunks[i].baseaddr);
    }
    free_ihex_chunks(chunks);
}

// Our handlers go in front of simavr's for the registers whose behaviour needs mending or
// watching; each calls simavr's own first.
void UnoBoard::hookRegisters() {
    m_coreReset = m_chip->reset;
    m_chip->reset = coreReset;
    auto& eecr = m_chip->io[AVR_DATA_TO_IO(m_eeprom->r_eecr)].w;
    m_eecr = {eecr.c, eecr.param};
    eecr.c = eecrWrite;
    eecr.param = this;
    avr_watchdog_t* watchdog = findWatchdog(m_chip.get());
    if (watchdog == nullptr)
        throw std::runtime_error("simavr's atmega328p lacks its watchdog");
    auto& wdtcsr = m_chip->io[AVR_DATA_TO_IO(watchdog->wdce.reg)].w;
    m_wdtcsr = {wdtcsr.c, wdtcsr.param};
    wdtcsr.c = wdtcsrWrite;
    wdtcsr.param = this;
}

void UnoBoard::coreReset(avr_t* avr) {
    UnoBoard* board = boardOf(avr);
    if (board->m_coreReset)
        board->m_coreReset(avr);
    board->afterReset();
}

void UnoBoard::afterReset() {
    // The receiver is off until the code that runs next enables it (which raises XON).
    m_xon = false;
    m_toChip.clear();
    if (m_resetHook)
        m_resetHook();
}

// Counts the writes the EEPROM module carries out: EEPE set while EEMPE still stands (the
// datasheet's write sequence; simavr's own handler tests the same).
void UnoBoard::eecrWrite(avr_t* avr, std::uint16_t addr, std::uint8_t value, void* param) {
    auto* board = static_cast<UnoBoard*>(param);
    const avr_eeprom_t* eeprom = board->m_eeprom;
    const bool masterEnabled = avr_regbit_get(avr, eeprom->eempe) != 0;
    const bool write = masterEnabled && ((value >> eeprom->eepe.bit) & eeprom->eepe.mask) != 0;
    board->m_eecr.write(avr, addr, value, board->m_eecr.param);
    if (write)
        ++board->m_eepromWrites;
}

// simavr 1.6 ignores a new watchdog timeout written under WDCE while the watchdog runs: the
// timer keeps the old period. optiboot ends its wait (on anything but an upload, and after an
// upload) by setting 16 ms and spinning; with the old 1 s period the firmware would start a
// second late. The datasheet's watchdog times out by the new period, so the timer is restarted
// with it, as a WDR would (simavr has already worked the new period out): the timeout comes at
// most the time since the last WDR late, and optiboot resets the watchdog on every byte it takes.
void UnoBoard::wdtcsrWrite(avr_t* avr, std::uint16_t addr, std::uint8_t value, void* param) {
    auto* board = static_cast<UnoBoard*>(param);
    const std::uint8_t before = avr->data[addr];
    board->m_wdtcsr.write(avr, addr, value, board->m_wdtcsr.param);
    const std::uint8_t after = avr->data[addr];
    constexpr std::uint8_t wdce = 0x10, wde = 0x08, wdie = 0x40;
    const bool running = (after & (wde | wdie)) != 0;
    if ((before & wdce) && running && watchdogPrescaler(before) != watchdogPrescaler(after))
        avr_ioctl(avr, AVR_IOCTL_WATCHDOG_RESET, nullptr);
}

// The Uno's USB serial chip puts the host's bytes on the line at the line's rate, and the chip
// takes them one by one into its UART. simavr's UART holds a queue of its own and paces what
// it delivers to the firmware at the baud rate; XON says there is room in it again.
void UnoBoard::hookUart() {
    // No usleep() while the firmware polls an empty UART (time is the tool's to pace), and no
    // copy of the firmware's output on standard output.
    std::uint32_t flags = 0;
    avr_ioctl(m_chip.get(), AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
    m_uartInput = avr_io_getirq(m_chip.get(), AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
    const auto notify = [this](int irq, avr_irq_notify_t callback) {
        avr_irq_register_notify(avr_io_getirq(m_chip.get(), AVR_IOCTL_UART_GETIRQ('0'), irq), callback, this);
    };
    notify(UART_IRQ_OUTPUT, [](avr_irq_t*, std::uint32_t value, void* param) {
        static_cast<UnoBoard*>(param)->m_toHost += static_cast<char>(value);
    });
    notify(UART_IRQ_OUT_XON, [](avr_irq_t*, std::uint32_t, void* param) {
        auto* board = static_cast<UnoBoard*>(param);
        board->m_xon = true;
        board->feed();
    });
    notify(UART_IRQ_OUT_XOFF, [](avr_irq_t*, std::uint32_t value, void* param) {
        static_cast<UnoBoard*>(param)->m_xon = value == 0;
    });
}

void UnoBoard::fromHost(std::string_view bytes) {
    if (m_holdUntil > m_elapsed)
        return; // the chip is held in reset
    m_toChip.insert(m_toChip.end(), bytes.begin(), bytes.end());
    feed();
}

void UnoBoard::feed() {
    while (!m_toChip.empty()) {
        if (!avr_regbit_get(m_chip.get(), m_uart->rxen)) {
            m_toChip.clear(); // no receiver listens to the line
            return;
        }
        if (!m_xon)
            return;
        const auto byte = static_cast<std::uint8_t>(m_toChip.front());
        m_toChip.pop_front();
        avr_raise_irq(m_uartInput, byte);
    }
}

std::string UnoBoard::takeToHost() {
    return std::exchange(m_toHost, {});
}

void UnoBoard::run(std::uint64_t cycles) {
    const std::uint64_t until = m_elapsed + cycles;
    while (m_elapsed < until) {
        if (m_holdUntil > m_elapsed) {
            m_elapsed = std::min(until, m_holdUntil);
            continue;
        }
        const avr_cycle_count_t before = m_chip->cycle;
        const int state = avr_run(m_chip.get());
        if (state == cpu_Done || state == cpu_Crashed)
            throw std::runtime_error("the chip stopped (a firmware crash)");
        // Some simavr versions start the chip's count again at a reset; the board's runs on.
        const avr_cycle_count_t after = m_chip->cycle;
        m_elapsed += after >= before ? after - before : after;
    }
}

void UnoBoard::resetFromHost() {
    avr_reset(m_chip.get());
    avr_regbit_set(m_chip.get(), m_chip->reset_flags.extrf);
    m_holdUntil = m_elapsed + resetHoldCycles;
}

bool UnoBoard::starting() const {
    return m_holdUntil > m_elapsed || m_chip->pc >= bootSection;
}

std::vector<std::uint8_t> UnoBoard::eeprom() const {
    std::vector<std::uint8_t> bytes(eepromSize);
    avr_eeprom_desc_t block{bytes.data(), 0, static_cast<std::uint32_t>(bytes.size())};
    avr_ioctl(m_chip.get(), AVR_IOCTL_EEPROM_GET, &block); // its result says nothing in simavr 1.6
    return bytes;
}

void UnoBoard::setEeprom(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() != eepromSize)
        throw std::invalid_argument("an EEPROM image of " + std::to_string(eepromSize) + " bytes");
    std::vector<std::uint8_t> copy = bytes;
    avr_eeprom_desc_t block{copy.data(), 0, static_cast<std::uint32_t>(copy.size())};
    avr_ioctl(m_chip.get(), AVR_IOCTL_EEPROM_SET, &block);
}

} // namespace ktq::sim::uno
