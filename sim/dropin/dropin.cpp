// libgpib.so.0 with linux-gpib's names: a stand-in for the real driver library that puts the
// program on a simulated bench. Everything but these names stays hidden in the library.

#include "sim/ktqsim.h"

#include <cstdint>

#define KTQ_DRIVER_EXPORT __attribute__((visibility("default")))

namespace {

// The bench comes from the environment; there is nobody to install one.
struct EnvironmentBench {
    EnvironmentBench() { ktqsim_useEnvironmentBench(); }
} const environmentBench;

} // namespace

extern "C" {

KTQ_DRIVER_EXPORT int ibfind(const char* name) {
    return ktqsim_ibfind(name);
}
KTQ_DRIVER_EXPORT int ibask(int ud, int option, int* value) {
    return ktqsim_ibask(ud, option, value);
}
KTQ_DRIVER_EXPORT int ibsre(int ud, int v) {
    return ktqsim_ibsre(ud, v);
}
KTQ_DRIVER_EXPORT int ibtmo(int ud, int v) {
    return ktqsim_ibtmo(ud, v);
}
KTQ_DRIVER_EXPORT int ibonl(int ud, int v) {
    return ktqsim_ibonl(ud, v);
}
KTQ_DRIVER_EXPORT void SendIFC(int board) {
    ktqsim_SendIFC(board);
}
KTQ_DRIVER_EXPORT void DevClear(int board, std::uint16_t address) {
    ktqsim_DevClear(board, address);
}

KTQ_DRIVER_EXPORT void FindLstn(int board, const std::uint16_t* padList, std::uint16_t* resultList,
                                int limit) {
    ktqsim_FindLstn(board, padList, resultList, limit);
}

KTQ_DRIVER_EXPORT void Send(int board, std::uint16_t address, const void* buffer, long count, int eotmode) {
    ktqsim_Send(board, address, buffer, count, eotmode);
}

KTQ_DRIVER_EXPORT void Receive(int board, std::uint16_t address, void* buffer, long count, int termination) {
    ktqsim_Receive(board, address, buffer, count, termination);
}

KTQ_DRIVER_EXPORT void SendCmds(int board, const void* cmds, long count) {
    ktqsim_SendCmds(board, cmds, count);
}
KTQ_DRIVER_EXPORT int ThreadIbsta(void) {
    return ktqsim_ThreadIbsta();
}
KTQ_DRIVER_EXPORT int ThreadIberr(void) {
    return ktqsim_ThreadIberr();
}
KTQ_DRIVER_EXPORT int ThreadIbcnt(void) {
    return ktqsim_ThreadIbcnt();
}
KTQ_DRIVER_EXPORT long ThreadIbcntl(void) {
    return ktqsim_ThreadIbcntl();
}
}
