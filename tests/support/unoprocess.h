// ktqsim-uno started for a test: the real AR488 firmware on an emulated Arduino Uno, the units of
// a bench on its bus, its serial port a pseudo-terminal. The firmware runs in simulated time,
// about twice as fast as real time on an idle machine and slower under load.
#pragma once

#include "toolprocess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <concepts>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace ktq::test {

/// A firmware version and what a host meets on it.
struct UnoFirmware {
    const char* version;
    const char* versionLine; // its "++ver" answer
    const char* name;        // in test names
    // 0.51.09 reads a serial poll's status byte while it still drives the data lines high, and
    // so reads them as it drives them; it pulses EOI on its own after the last byte; it takes no
    // secondary addresses.
    const char* statusByte; // a 7174's answer to "++spoll" with a reply waiting for service
    bool eoiOnWire;
    bool secondaryAddresses;
    const char* emulated; // the bench's adapter side whose emulation follows this firmware
};

/// 0.53.04, then 0.51.09.
const std::vector<UnoFirmware>& unoFirmwares();

class UnoProcess {
public:
    /// False where the build had no AVR toolchain, simavr or firmware archives.
    static bool built();

    /// Starts the tool with the units of `bench` (GPIB_SIM_BENCH) and waits for its port.
    UnoProcess(const UnoFirmware& firmware, const std::vector<std::string>& arguments,
               const std::string& bench = "");
    ~UnoProcess();

    const std::string& path() const { return m_path; }

    /// Opens the port as a host does (which resets the board); returns its descriptor.
    int open();
    /// Opens the port and asks "++ver" until the firmware, past the bootloader, answers it.
    int openStarted();
    /// Sends a command line and reads its answer, up to `end`.
    std::string ask(const std::string& command, const std::string& end = "\r\n") {
        return exchange(m_port, command + "\r\n", end);
    }
    void closePort();
    /// As the board's owner at a terminal: opens the port, waits for the firmware, sends the
    /// commands and closes the port; returns the EEPROM bytes written so far.
    int ownersSetUp(const std::vector<std::string>& commands);

    /// What the tool has said on its standard output since the last call, waiting up to `within`
    /// for a first line.
    std::string said(std::chrono::milliseconds within = std::chrono::milliseconds(0));
    /// EEPROM bytes the firmware has written so far, as the tool has said.
    int eepromWrites() {
        said();
        return m_eepromWrites;
    }

    /// Ends the tool (SIGTERM) and waits for it; its traces are complete then.
    void stop();
    /// The serial dialogue (GPIB_SIM_ADAPTER_TRACE) as the tool has written it so far.
    std::string dialogue() const { return fileText(m_dialogue); }
    std::vector<std::string> dialogueLines() const { return fileLines(m_dialogue); }
    /// The bus events (GPIB_SIM_TRACE) as the tool has written them so far.
    std::vector<std::string> busEvents() const { return fileLines(m_events); }

private:
    UnoFirmware m_firmware;
    std::string m_dialogue;
    std::string m_events;
    std::optional<ToolProcess> m_tool;
    int m_port = -1;
    std::string m_path;
    std::string m_pending; // standard output not yet split into lines
    int m_eepromWrites = 0;
};

/// Tests over the firmware versions (or any parameter), skipped where the tool was not built.
template <typename Param = std::size_t> class UnoTest : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override {
        if (!UnoProcess::built())
            GTEST_SKIP() << "ktqsim-uno was not built (cmake said what it lacks)";
    }
    /// The firmware version the parameter indexes.
    const UnoFirmware& firmware() const requires std::same_as<Param, std::size_t> {
        return unoFirmwares().at(this->GetParam());
    }
};

/// The firmware versions by index, named.
inline std::string unoFirmwareName(const ::testing::TestParamInfo<std::size_t>& info) {
    return unoFirmwares().at(info.param).name;
}

} // namespace ktq::test
