#pragma once

#include <cstdint>

// The simulated driver's C functions, under names of their own so that a program holding both
// this library and the drop-in libgpib.so.0 never has two definitions of linux-gpib's names.
// They act on the bench installed with ScopedBench; without one every call fails with ENEB,
// unless ktqsim_useEnvironmentBench() was called (the drop-in library does), in which case the
// first call builds a bench from GPIB_SIM_BENCH, GPIB_SIM_TRACE, GPIB_SIM_TIMING and
// GPIB_SIM_DELAY_MS.
extern "C" {

int ktqsim_ibfind(const char* name);
int ktqsim_ibask(int ud, int option, int* value);
int ktqsim_ibsre(int ud, int v);
int ktqsim_ibtmo(int ud, int v);
int ktqsim_ibonl(int ud, int v);
void ktqsim_SendIFC(int board);
void ktqsim_DevClear(int board, std::uint16_t address);
void ktqsim_FindLstn(int board, const std::uint16_t* padList, std::uint16_t* resultList, int limit);
void ktqsim_Send(int board, std::uint16_t address, const void* buffer, long count, int eotmode);
void ktqsim_Receive(int board, std::uint16_t address, void* buffer, long count, int termination);
void ktqsim_SendCmds(int board, const void* cmds, long count);
int ktqsim_ThreadIbsta(void);
int ktqsim_ThreadIberr(void);
int ktqsim_ThreadIbcnt(void);
long ktqsim_ThreadIbcntl(void);

void ktqsim_useEnvironmentBench(void);

// For NI's libraries: the environment bench behaves as NI-488.2 does where it differs from
// linux-gpib (its end modes, its search reporting listeners behind secondary addresses; see
// SimBus::setDriverFamily). ktqsim_useNiEndModes is its earlier name, the same switch.
void ktqsim_useNiDriver(void);
void ktqsim_useNiEndModes(void);
// ibconfig reaches the two settings NI's Windows library offers only through it (IbcTMO 3,
// IbcSRE 11; others fail with ECAP).
int ktqsim_ibconfig(int ud, int option, int v);
}
