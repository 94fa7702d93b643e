// A library with linux-gpib's C interface that records what reaches it. The loader tests open
// it by its full path and read the recording through fakeLastEotMode and fakeLastTermination.
// Built with KTQ_FAKE_BOARD_ONLY it keeps only the board-level calls of the bring-up: a library
// that loads but lacks what the program needs after it.
#include "bus/gpibcalls.h"

#include <cstdint>

extern "C" {
// linux-gpib's shapes, so that a function below in any other shape does not compile.
#define KTQ_FAKE_DECLARE(result, name, params, ...) result name params;
KTQ_GPIB_CALLS(KTQ_FAKE_DECLARE)
#undef KTQ_FAKE_DECLARE
}

namespace {
int lastEotMode = -1;
int lastTermination = -1;
} // namespace

extern "C" {

int fakeLastEotMode() {
    return lastEotMode;
}
int fakeLastTermination() {
    return lastTermination;
}

int ibfind(const char*) {
    return 3;
}
int ibask(int, int, int* value) {
    *value = 0;
    return 0x100;
}
int ibsre(int, int) {
    return 0x100;
}
int ibtmo(int, int) {
    return 0x100;
}
void SendIFC(int) {}
#ifndef KTQ_FAKE_BOARD_ONLY
void DevClear(int, std::uint16_t) {}
void FindLstn(int, const std::uint16_t*, std::uint16_t*, int) {}
void Send(int, std::uint16_t, const void*, long, int eotMode) {
    lastEotMode = eotMode;
}
void Receive(int, std::uint16_t, void*, long, int termination) {
    lastTermination = termination;
}
#ifndef KTQ_FAKE_WITHOUT_SENDCMDS
void SendCmds(int, const void*, long) {}
#endif
int ThreadIbsta() {
    return 0x100;
}
int ThreadIberr() {
    return 0;
}
int ThreadIbcnt() {
    return 0;
}
long ThreadIbcntl() {
    return 0;
}
#endif
}
