// The function tables of the serial interface units.
#include "routines.h"

#include <array>

namespace ktq::models {

namespace {

// Mode and Emulation come first, so the bus address is function 3.
constexpr std::array<FunctionEntry, 17> kSerial7185A{{
    {"Mode - G/S", "SYST:MODE"},
    {"Emulation - KTQ/NI", "SYST:EMUL"},
    {"Bus Address - 0 to 30 or 31", "SYST:COMM:GPIB:ADDR"},
    {"Baud - enter rate 300-115200", "SYST:COMM:SER:BAUD"},
    {"Data bits - 7/8", "SYST:COMM:SER:BITS"},
    {"Parity - Odd/even/none", "SYST:COMM:SER:PAR"},
    {"Check parity - 0/1", "SYST:COMM:SER:PAR:CHECK"},
    {"Stop bits - 1/2", "SYST:COMM:SER:SBIT"},
    {"Pace - None/Xon", "SYST:COMM:SER:PACE"},
    {"Swap - Time/CR/LF/none", "SYST:COMM:GPIB:SWAP"},
    {"EOM char - LF = 10, CR = 13", "SYST:COMM:SER:EOM"},
    {"Add char after EOM char - 1/0", "SYST:COMM:SER:ADD:ENAB"},
    {"Added char - decimal value", "SYST:COMM:SER:ADD:CHAR"},
    {"EOI on last char - 1/0", "SYST:COMM:SER:EOI"},
    {"Tristate Xtmr btwn msgs - 1/0", "SYST:COMM:SER:RS485"},
    {"ESR Enable Bits - 0 to 255", "*ESE"},
    {"SRE Enable Bits - 0 to 255", "*SRE"},
}};

// Headers go out behind the "SYST" prefix.
constexpr std::array<FunctionEntry, 13> kSerial7187{{
    {"Mode - G/S", ":MODE"},
    {"Emulation - KTQ/NI", ":EMUL"},
    {"Bus Address - 0 to 30 or 31", ":COMM:GPIB:ADDR"},
    {"Baud - enter rate 300-38400", ":COMM:SER:BAUD"},
    {"Data bits - 7/8", ":COMM:SER:BITS"},
    {"Parity - Odd/even/none", ":COMM:SER:PAR"},
    {"Check parity - 0/1", ":COMM:SER:PAR:CHECK"},
    {"Stop bits - 1/2", ":COMM:SER:SBIT"},
    {"Pace - None/Xon", ":COMM:SER:PACE"},
    {"EOM char - LF = 10, CR = 13", ":COMM:SER:EOM"},
    {"Add char after EOM char - 1/0", ":COMM:SER:ADD:ENAB"},
    {"Added char - decimal value", ":COMM:SER:ADD:CHAR"},
    {"EOI on last char - 1/0", ":COMM:SER:EOI"},
}};

// Walked once per channel, each at its own secondary address.
constexpr std::array<FunctionEntry, 14> kSerial7189{{
    {"Bus Address - 0 to 30 or 31", "SYST:COMM:GPIB:ADDR"},
    {"GPIB Buffer - 8-52K in 4K inc", "SYST:COMM:GPIB:BUFS"},
    {"Baud - enter rate 300-115200", "SYST:COMM:SER:BAUD"},
    {"Data bits - 7/8", "SYST:COMM:SER:BITS"},
    {"Parity - Odd/even/none", "SYST:COMM:SER:PAR"},
    {"Check parity - 0/1", "SYST:COMM:SER:PAR:CHECK"},
    {"Stop bits - 1/2", "SYST:COMM:SER:SBIT"},
    {"Pace - None/Xon", "SYST:COMM:SER:PACE"},
    {"EOM char - LF = 10, CR = 13", "SYST:COMM:SER:EOM"},
    {"Add char after EOM char - 1/0", "SYST:COMM:SER:ADD:ENAB"},
    {"Added char - decimal value", "SYST:COMM:SER:ADD:CHAR"},
    {"EOI on last char - 1/0", "SYST:COMM:SER:EOI"},
    {"ESR Enable Bits - 0 to 255", "*ESE"},
    {"SRE Enable Bits - 0 to 255", "*SRE"},
}};

// The timeout prompt really does end in a double-quote character.
constexpr std::array<FunctionEntry, 10> kSerial7142{{
    {"Bus Address - 0 to 30 or 31", "SYST:COMM:GPIB:ADDR"},
    {"Mode - Async/Standard/Smart", "SYST:MODE"},
    {"Baud - enter rate 300 to 38400", "SYST:COMM:SER:BAUD"},
    {"Data bits - 7/8", "SYST:COMM:SER:BITS"},
    {"Parity - Odd/even/none", "SYST:COMM:SER:PAR"},
    {"Stop Bits - 1/2", "SYST:COMM:SER:SBIT"},
    {"Timeout - 25 to 65535 ms\"", "SYST:COMM:SER:TIME"},
    {"GPIB Add Character - hex value", "SYST:COMM:GPIB:ADD:CHAR"},
    {"GPIB Add Char Enable - 0/1", "SYST:COMM:GPIB:ADD:ENAB"},
    {"Cal Date - enter date mm/dd/yyyy", "CAL:DATE"},
}};

// 7142's table with the RS-485 and external EOM functions after the timeout.
constexpr std::array<FunctionEntry, 12> kSerial7150{{
    {"Bus Address - 0 to 30 or 31", "SYST:COMM:GPIB:ADDR"},
    {"Mode - Async/Standard/Smart", "SYST:MODE"},
    {"Baud - enter rate 300 to 38400", "SYST:COMM:SER:BAUD"},
    {"Data bits - 7/8", "SYST:COMM:SER:BITS"},
    {"Parity - Odd/even/none", "SYST:COMM:SER:PAR"},
    {"Stop Bits - 1/2", "SYST:COMM:SER:SBIT"},
    {"Timeout - 25 to 65535 ms\"", "SYST:COMM:SER:TIME"},
    {"RS485 half-duplex operation - 0/1", "SYST:COMM:SER:RS485"},
    {"External serial EOMchar-hex value", "SYST:COMM:SER:EOMchr"}, // sic: the unit's own header
    {"GPIB Add Character - hex value", "SYST:COMM:GPIB:ADD:CHAR"},
    {"GPIB Add Char Enable - 0/1", "SYST:COMM:GPIB:ADD:ENAB"},
    {"Cal Date - enter date mm/dd/yyyy", "CAL:DATE"},
}};

} // namespace

const SetupRoutine Config7185A{
    .name = "Config7185A",
    .functions = kSerial7185A,
    .addressFunction = 3,
    .triggerOnStart = true,
};

const SetupRoutine Config7187{
    .name = "Config7187",
    .functions = kSerial7187,
    .commandPrefix = "SYST",
    .addressFunction = 3,
    .triggerOnStart = true,
};

// Set Address has already put the channel's secondary address into the device address word, so
// the routine must not overwrite it; Next Channel stays hidden until the channel's list is done.
const SetupRoutine Config7189{
    .name = "Config7189",
    .functions = kSerial7189,
    .channelCount = 4,
    .channelChoice = ChannelChoice::SecondaryAddress,
    .keepsDeviceAddress = true,
    .hidesNextChannel = true,
};

const SetupRoutine Config7142{
    .name = "Config7142",
    .functions = kSerial7142,
    .lockSupported = true,
};

const SetupRoutine Config7150{
    .name = "Config7150",
    .functions = kSerial7150,
    .lockSupported = true,
};

} // namespace ktq::models
