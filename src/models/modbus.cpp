// The function tables of the Modbus interface units.
#include "routines.h"

#include <array>

namespace ktq::models {

namespace {

// The Modbus timeout and device address have the one-letter headers "D" and "C".
constexpr std::array<FunctionEntry, 11> kModbus7153{{
    {"Bus Address - 0 to 30 or 31", "SYST:COMM:GPIB:ADDR"},
    {"Ext Address Enable - 0/1", "SYST:COMM:GPIB:ADDR:EXT"},
    {"Baud - enter rate 300 to 38400", "SYST:COMM:SER:BAUD"},
    {"Data bits - 7/8", "SYST:COMM:SER:BITS"},
    {"Parity - Odd/even/none", "SYST:COMM:SER:PAR"},
    {"Stop Bits - 1/2", "SYST:COMM:SER:SBIT"},
    {"RS-485 half-duplex operation-1/0", "SYST:COMM:SER:RS485"},
    {"Talk Data - ASCii/HEXL", "FORM:TALK"},
    {"Modbus timeout - 50 to 1000 ms", "D"},
    {"Modbus device address - 1 to 250", "C"},
    {"Cal Date - enter date mm/dd/yyyy", "CAL:DATE"},
}};

// No extended-address switch; the RS-485 function is worded as a transmitter tristate.
constexpr std::array<FunctionEntry, 10> kModbus7199{{
    {"Bus Address - 0 to 30 or 31", "SYST:COMM:GPIB:ADDR"},
    {"Baud - enter rate 300 to 38400", "SYST:COMM:SER:BAUD"},
    {"Data bits - 7/8", "SYST:COMM:SER:BITS"},
    {"Parity - Odd/even/none", "SYST:COMM:SER:PAR"},
    {"Stop Bits - 1/2", "SYST:COMM:SER:SBIT"},
    {"Tristate xtmr btwn msgs - 1/0", "SYST:COMM:SER:RS485"},
    {"Talk Data - ASCii/HEXL", "FORM:TALK"},
    {"Modbus timeout - 50 to 1000 ms", "D"},
    {"Modbus device address - 1 to 250", "C"},
    {"Cal Date - enter date mm/dd/yyyy", "CAL:DATE"},
}};

} // namespace

const SetupRoutine Config7153{
    .name = "Config7153",
    .functions = kModbus7153,
    .lockSupported = true,
};

const SetupRoutine Config7199{
    .name = "Config7199",
    .functions = kModbus7199,
    .lockSupported = true,
};

} // namespace ktq::models
