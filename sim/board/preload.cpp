// The emulated board as a preload library: the real linux-gpib library, started under
// LD_PRELOAD with IB_CONFIG naming the bench's gpib.conf, finds a board whose bus carries the units
// of GPIB_SIM_BENCH; GPIB_SIM_TRACE records the bus events.

#include "sim/simbus.h"

namespace {

struct EnvironmentBoard {
    EnvironmentBoard() { ktq::sim::useEnvironmentBench(ktq::sim::EnvironmentTrace::BusEvents); }
} const environmentBoard;

} // namespace
