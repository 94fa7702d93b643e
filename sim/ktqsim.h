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

// For NI's Windows library: the environment bench takes NI's end modes, and ibconfig reaches the
// two settings that library offers only through it (IbcTMO 3, IbcSRE 11; others fail with ECAP).
void ktqsim_useNiEndModes(void);
int ktqsim_ibconfig(int ud, int option, int v);
}
