// The one list of the driver calls and their shapes, from which every table of them is generated.
#pragma once

#include <cstddef>
#include <cstdint>

// Each entry is X(result type, name, parameter list, argument list, failure), in the order a
// library is checked for them. The shapes are the program's and linux-gpib's libgpib.so.0 alike
// (status int, counts long, Addr4882_t as std::uint16_t), so a table of linux-gpib's C functions
// is the list as it stands. `failure` is what a call that acts returns when no bus is reached (a
// descriptor of -1, a status of ERR, nothing): it names ni::ERR, so only code in ktq::bus reads
// it; the status reads leave it empty. Most users define X(r, n, p, a, ...).

// The calls that act on the bus or the driver's settings.
#define KTQ_GPIB_ACTIONS(X)                                                                                  \
    X(int, ibfind, (const char* name), (name), -1)                                                           \
    X(int, ibask, (int ud, int option, int* value), (ud, option, value), ni::ERR)                            \
    X(int, ibsre, (int ud, int v), (ud, v), ni::ERR)                                                         \
    X(int, ibtmo, (int ud, int v), (ud, v), ni::ERR)                                                         \
    X(int, ibonl, (int ud, int v), (ud, v), ni::ERR)                                                         \
    X(void, SendIFC, (int board), (board), )                                                                 \
    X(void, DevClear, (int board, std::uint16_t address), (board, address), )                                \
    X(void, FindLstn, (int board, const std::uint16_t* padList, std::uint16_t* resultList, int limit),       \
      (board, padList, resultList, limit), )                                                                 \
    X(void, Send, (int board, std::uint16_t address, const void* buffer, long count, int eotMode),           \
      (board, address, buffer, count, eotMode), )                                                            \
    X(void, Receive, (int board, std::uint16_t address, void* buffer, long count, int termination),          \
      (board, address, buffer, count, termination), )                                                        \
    X(void, SendCmds, (int board, const void* commands, long count), (board, commands, count), )

// The per-thread status reads that follow every call.
#define KTQ_GPIB_STATUS_READS(X)                                                                             \
    X(int, ThreadIbsta, (), (), )                                                                            \
    X(int, ThreadIberr, (), (), )                                                                            \
    X(int, ThreadIbcnt, (), (), )                                                                            \
    X(long, ThreadIbcntl, (), (), )

// Every call.
#define KTQ_GPIB_CALLS(X) KTQ_GPIB_ACTIONS(X) KTQ_GPIB_STATUS_READS(X)

// The X of a list of names: {KTQ_GPIB_CALLS(KTQ_GPIB_NAME)} is every call's, "ibfind" first.
#define KTQ_GPIB_NAME(result, name, ...) #name,

// NI-488.2's ni4882.h, the same on Windows (ni4882.dll) and Linux (libni4882.so), where its
// shapes differ: ibfind only as ibfindA, ibsre and ibtmo possibly only as ibconfig options (so
// optional here, with ibconfig), no ThreadIbcntl (ibcntl comes through ThreadIbcnt), counts as
// size_t, status and counts as a 32-bit unsigned (`Status`, the user's). Addr4882_t is 16 bits;
// __stdcall means nothing on x64. X(result type, name, parameter list, optional).
#define KTQ_NI4882_CALLS(X, Status)                                                                          \
    X(int, ibfindA, (const char* name), false)                                                               \
    X(Status, ibask, (int ud, int option, int* value), false)                                                \
    X(Status, ibconfig, (int ud, int option, int v), true)                                                   \
    X(Status, ibsre, (int ud, int v), true)                                                                  \
    X(Status, ibtmo, (int ud, int v), true)                                                                  \
    X(Status, ibonl, (int ud, int v), true)                                                                  \
    X(void, SendIFC, (int board), false)                                                                     \
    X(void, DevClear, (int board, std::uint16_t address), false)                                             \
    X(void, FindLstn,                                                                                        \
      (int board, const std::uint16_t* padList, std::uint16_t* resultList, std::size_t limit), false)        \
    X(void, Send, (int board, std::uint16_t address, const void* buffer, std::size_t count, int eotMode),    \
      false)                                                                                                 \
    X(void, Receive, (int board, std::uint16_t address, void* buffer, std::size_t count, int termination),   \
      false)                                                                                                 \
    X(void, SendCmds, (int board, const void* commands, std::size_t count), false)                           \
    X(Status, ThreadIbsta, (), false)                                                                        \
    X(Status, ThreadIberr, (), false)                                                                        \
    X(Status, ThreadIbcnt, (), false)
