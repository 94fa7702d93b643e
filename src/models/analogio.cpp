// The function table of the analog and digital I/O unit.
#include "routines.h"

#include <array>

namespace ktq::models {

namespace {

// Walked once per channel after the unit has been told the channel with "C n"; the unit keeps one
// bus address for all channels. The mixed-case headers are what the unit expects.
constexpr std::array<FunctionEntry, 15> kAnalog7170{{
    {"Bus Address - 0 to 30 or 31", "SYST:COMM:GPIB:ADDR"},
    {"Bus Address Ext Sw - 1/0", "SYST:COMM:GPIB:ADDR:EXT"},
    {"V Out Offset +/-dd.dddd", "VOLT:OFFSET"},
    {"V Out Slope +/-dd.dddd", "VOLT:SLOPe"},
    {"V Out Limit dd.dddd", "VOLT:LIMit"},
    {"V Out Pol 1=Uni, 2=Bipolar", "VOLT:POL"},
    {"V Out pon value +/-dd.dddd", "VOLT"},
    {"Digital Out Polarity 0/1", "OUTP:POL"},
    {"Digital Out pon value 0/1", "OUTP:STATE"},
    {"V In Range - 10,1, or 0.1", "MEAS:RANGE"},
    {"V In Pol - 1=Uni, 2=Bipolar ", "MEAS:POL"},
    {"V In Average - 1-50", "MEAS:AVER"},
    {"Fault Output Enabled - 1/0", "CAL:FAULT"},
    {"ESR Enable Bits - 0 to 255", "*ESE"},
    {"SRE Enable Bits - 0 to 255", "*SRE"},
}};

} // namespace

// Next Channel is left as it is, so from the second channel on it stays offered while the menu runs.
const SetupRoutine Config7170{
    .name = "Config7170",
    .functions = kAnalog7170,
    .lockSupported = true,
    .channelCount = 4,
    .channelChoice = ChannelChoice::ChannelCommand,
};

} // namespace ktq::models
