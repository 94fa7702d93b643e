// The function tables of the printer and plotter units.
#include "routines.h"

#include <array>

namespace ktq::models {

namespace {

// Headers go out behind the "SYST" prefix; Emulation and Mode come first, so the bus address is
// function 3.
constexpr std::array<FunctionEntry, 6> kPrinter7181A{{
    {"Emulation - KTQ/NI", ":EMUL"},
    {"Mode - G/P", ":MODE"},
    {"Bus Address - 0 to 30 or 31", ":COMM:GPIB:ADDR"},
    {"Send FormFeed Char - 0 or 1", ":COMM:GPIB:FORM"},
    {"Send PlotMode sequence - 0 or 1", ":COMM:GPIB:PLOT"},
    {"PMode - CONTROLLER/DEVICE/TALK ONLY", ":PMOD"},
}};

// The B version adds the idle space-backspace setting before PMode.
constexpr std::array<FunctionEntry, 7> kPrinter7181B{{
    {"Emulation - KTQ/NI", ":EMUL"},
    {"Mode - G/P", ":MODE"},
    {"Bus Address - 0 to 30 or 31", ":COMM:GPIB:ADDR"},
    {"Send FormFeed Char - 0 or 1", ":COMM:GPIB:FORM"},
    {"Send PlotMode sequence - 0 or 1", ":COMM:GPIB:PLOT"},
    {"Enable spc-bkspc every 8s - 0 or 1", ":COMM:GPIB:IDLE"},
    {"PMode - CONTROLLER/DEVICE/TALK ONLY", ":PMOD"},
}};

} // namespace

const SetupRoutine Config7181A{
    .name = "Config7181A",
    .functions = kPrinter7181A,
    .commandPrefix = "SYST",
    .addressFunction = 3,
    .triggerOnStart = true,
};

const SetupRoutine Config7181B{
    .name = "Config7181B",
    .functions = kPrinter7181B,
    .commandPrefix = "SYST",
    .addressFunction = 3,
    .triggerOnStart = true,
};

} // namespace ktq::models
