// NI-488.2's 64-bit library over the simulated bench, with the names and argument shapes of
// ni4882.h: ni4882.dll on Windows, libni4882.so on Linux. A stand-in for the real driver, for tests
// and the demo only. ibfind is exported only as ibfindA, ibsre and ibtmo only as ibconfig options,
// and ibcntl only through ThreadIbcnt, as NI's header declares them.

#include "sim/ktqsim.h"

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#define KTQ_DRIVER_EXPORT __declspec(dllexport)
#else
#define KTQ_DRIVER_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// The bench comes from the environment; there is nobody to install one. It behaves as NI's driver
// where that differs from linux-gpib's.
struct EnvironmentBench {
    EnvironmentBench() {
        ktqsim_useNiDriver();
        ktqsim_useEnvironmentBench();
    }
} const environmentBench;

// NI's status and count type: unsigned long on Windows, unsigned int on Linux (NI-488.2 for
// Linux 3.2 replaced every unsigned long of ni4882.h), 32 bits on both.
#ifdef _WIN32
using NiStatus = unsigned long;
#else
using NiStatus = unsigned int;
#endif

// NI's counts are size_t; the bench's are long, which is 32 bits on Windows.
long benchCount(std::size_t count) {
    constexpr std::size_t most = 0x7fffffff;
    return static_cast<long>(count > most ? most : count);
}

NiStatus status(int ibsta) {
    return static_cast<NiStatus>(static_cast<unsigned int>(ibsta) & 0xffffu);
}

} // namespace

extern "C" {

// The shapes of ni4882.h, so that a definition below in any other shape does not compile. The
// settings calls NI's header makes ibconfig options are declared there but not offered here.
#define KTQ_NI_DECLARE(result, name, params, ...) KTQ_DRIVER_EXPORT result name params;
KTQ_NI4882_CALLS(KTQ_NI_DECLARE, NiStatus)
#undef KTQ_NI_DECLARE

KTQ_DRIVER_EXPORT int ibfindA(const char* name) {
    return ktqsim_ibfind(name);
}
KTQ_DRIVER_EXPORT NiStatus ibask(int ud, int option, int* value) {
    return status(ktqsim_ibask(ud, option, value));
}
KTQ_DRIVER_EXPORT NiStatus ibconfig(int ud, int option, int v) {
    return status(ktqsim_ibconfig(ud, option, v));
}
KTQ_DRIVER_EXPORT NiStatus ibonl(int ud, int v) {
    return status(ktqsim_ibonl(ud, v));
}
KTQ_DRIVER_EXPORT void SendIFC(int board) {
    ktqsim_SendIFC(board);
}
KTQ_DRIVER_EXPORT void DevClear(int board, std::uint16_t address) {
    ktqsim_DevClear(board, address);
}
KTQ_DRIVER_EXPORT void FindLstn(int board, const std::uint16_t* padList, std::uint16_t* resultList,
                                std::size_t limit) {
    ktqsim_FindLstn(board, padList, resultList, static_cast<int>(benchCount(limit)));
}
KTQ_DRIVER_EXPORT void Send(int board, std::uint16_t address, const void* buffer, std::size_t count,
                            int eotMode) {
    ktqsim_Send(board, address, buffer, benchCount(count), eotMode);
}
KTQ_DRIVER_EXPORT void Receive(int board, std::uint16_t address, void* buffer, std::size_t count,
                               int termination) {
    ktqsim_Receive(board, address, buffer, benchCount(count), termination);
}
KTQ_DRIVER_EXPORT void SendCmds(int board, const void* cmds, std::size_t count) {
    ktqsim_SendCmds(board, cmds, benchCount(count));
}
KTQ_DRIVER_EXPORT NiStatus ThreadIbsta(void) {
    return status(ktqsim_ThreadIbsta());
}
KTQ_DRIVER_EXPORT NiStatus ThreadIberr(void) {
    return static_cast<NiStatus>(ktqsim_ThreadIberr());
}
KTQ_DRIVER_EXPORT NiStatus ThreadIbcnt(void) {
    return static_cast<NiStatus>(ktqsim_ThreadIbcntl());
}
}
