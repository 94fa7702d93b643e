// The simulated driver's C functions, which the drop-in libraries export under the drivers' names.
#pragma once

#include "src/bus/gpibcalls.h"

#include <cstdint>

// The simulated driver's C functions, under names of their own so that a program holding both
// this library and the drop-in libgpib.so.0 never has two definitions of linux-gpib's names.
// They act on the bench installed with ScopedBench; without one every call fails with ENEB,
// unless ktqsim_useEnvironmentBench() was called (the drop-in library does), in which case the
// first call builds a bench from GPIB_SIM_BENCH, GPIB_SIM_TRACE, GPIB_SIM_TIMING and
// GPIB_SIM_DELAY_MS.
extern "C" {

#define KTQ_SIM_DECLARE(result, name, params, ...) result ktqsim_##name params;
KTQ_GPIB_CALLS(KTQ_SIM_DECLARE)
#undef KTQ_SIM_DECLARE

void ktqsim_useEnvironmentBench(void);

// For NI's libraries: the environment bench behaves as NI-488.2 does where it differs from
// linux-gpib (its end modes, its search reporting listeners behind secondary addresses; see
// SimBus::setDriverFamily).
void ktqsim_useNiDriver(void);
// ibconfig reaches the two settings NI's Windows library offers only through it (IbcTMO 3,
// IbcSRE 11; others fail with ECAP).
int ktqsim_ibconfig(int ud, int option, int v);
}
