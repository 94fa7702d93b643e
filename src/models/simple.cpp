// The function table of the units that offer only the bus address and the two enable registers.
#include "routines.h"

#include <array>

namespace ktq::models {

namespace {

// 7174, 7179 and 7147 offer only their bus address and the two status enable registers.
constexpr std::array<FunctionEntry, 3> kSimple{{
    {"Bus Address - 0 to 30 or 31", "SYST:COMM:GPIB:ADDR"},
    {"ESR Enable Bits - 0 to 255", "*ESE"},
    {"SRE Enable Bits - 0 to 255", "*SRE"},
}};

} // namespace

const SetupRoutine Config7174{
    .name = "Config7174",
    .functions = kSimple,
    .lockSupported = true,
};

const SetupRoutine Config7179{
    .name = "Config7179",
    .functions = kSimple,
    .lockSupported = true,
};

const SetupRoutine Config7147{
    .name = "Config7147",
    .functions = kSimple,
    .lockSupported = true,
};

} // namespace ktq::models
