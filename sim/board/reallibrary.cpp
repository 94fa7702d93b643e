// The real linux-gpib library loaded beside the bench, each of its calls traced into the bench.
#include "sim/board/reallibrary.h"

#include "sim/linuxgpib.h"
#include "sim/simbus.h"
#include "src/bus/gpibcalls.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <vector>

namespace ktq::sim::board {

namespace {

// The real library's functions; Addr4882 is std::uint16_t.
struct RealLibrary {
#define KTQ_REAL_FUNCTION(result, name, params, ...) result(*name) params = nullptr;
    KTQ_GPIB_CALLS(KTQ_REAL_FUNCTION)
#undef KTQ_REAL_FUNCTION
};

RealLibrary g_real;
bool g_loaded = false;

CallStatus lastStatus() {
    return CallStatus{g_real.ThreadIbsta(), g_real.ThreadIberr(), g_real.ThreadIbcntl()};
}

void trace(const std::string& call, const CallStatus& status) {
    onCurrentBench([&](SimBus* bench) {
        if (bench)
            bench->noteCall(call, status);
    });
}

// Each call as the real library makes it, leaving a trace line behind; the status reads pass
// through untraced, as the bench's own are.
namespace traced {

int ibfind(const char* name) {
    const int ud = g_real.ibfind(name);
    trace(bus::calltext::ibfind(name), lastStatus());
    return ud;
}

int ibask(int ud, int option, int* value) {
    const int result = g_real.ibask(ud, option, value);
    const CallStatus status = lastStatus();
    trace(bus::calltext::ibask(ud, option, value, status), status);
    return result;
}

#define KTQ_TRACED_SETTING(name)                                                                             \
    int name(int ud, int v) {                                                                                \
        const int result = g_real.name(ud, v);                                                               \
        trace(bus::calltext::setting(#name, ud, v), lastStatus());                                           \
        return result;                                                                                       \
    }
KTQ_TRACED_SETTING(ibsre)
KTQ_TRACED_SETTING(ibtmo)
KTQ_TRACED_SETTING(ibonl)
#undef KTQ_TRACED_SETTING

void SendIFC(int board) {
    g_real.SendIFC(board);
    trace(bus::calltext::SendIFC(board), lastStatus());
}

void DevClear(int board, Addr4882 address) {
    g_real.DevClear(board, address);
    trace(bus::calltext::DevClear(board, address), lastStatus());
}

void FindLstn(int board, const Addr4882* padList, Addr4882* resultList, int limit) {
    g_real.FindLstn(board, padList, resultList, limit);
    const CallStatus status = lastStatus();
    trace(bus::calltext::FindLstn(board, padList, resultList, limit, status), status);
}

void Send(int board, Addr4882 address, const void* buffer, long count, int eotMode) {
    g_real.Send(board, address, buffer, count, eotMode);
    trace(bus::calltext::Send(board, address, buffer, count,
                              bus::calltext::endModeName(eotMode, bus::calltext::EndModes::LinuxGpib)),
          lastStatus());
}

void Receive(int board, Addr4882 address, void* buffer, long count, int termination) {
    g_real.Receive(board, address, buffer, count, termination);
    const CallStatus status = lastStatus();
    trace(bus::calltext::Receive(board, address, buffer, count, termination, status), status);
}

void SendCmds(int board, const void* commands, long count) {
    g_real.SendCmds(board, commands, count);
    trace(bus::calltext::SendCmds(board, commands, count), lastStatus());
}

#define KTQ_UNTRACED_READ(result, name, params, args, ...)                                                   \
    result name params {                                                                                     \
        return g_real.name args;                                                                             \
    }
KTQ_GPIB_STATUS_READS(KTQ_UNTRACED_READ)
#undef KTQ_UNTRACED_READ

} // namespace traced

template <typename Function>
bool find(void* library, const char* name, Function& function, std::string& error) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (function == nullptr)
        error = std::string("no ") + name;
    return function != nullptr;
}

} // namespace

bool loadRealLibrary(const std::string& path, std::string& error) {
    if (g_loaded)
        return true;
    // The library reads its configuration on first use; the emulated board's unless one is named.
    setenv("IB_CONFIG", KTQ_BOARD_CONFIG, 0);
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        error = reason ? reason : "cannot open " + path;
        return false;
    }
    RealLibrary real;
#define KTQ_FIND(result, name, params, ...) &&find(library, #name, real.name, error)
    g_loaded = true KTQ_GPIB_CALLS(KTQ_FIND);
#undef KTQ_FIND
    if (g_loaded)
        g_real = real;
    return g_loaded;
}

void* resolveRealLibrary(const char* name) {
    struct Entry {
        const char* name;
        void* function;
    };
    if (!g_loaded || name == nullptr)
        return nullptr;
    static const Entry table[] = {
#define KTQ_TRACED_ENTRY(result, name, params, ...) {#name, reinterpret_cast<void*>(&traced::name)},
        KTQ_GPIB_CALLS(KTQ_TRACED_ENTRY)
#undef KTQ_TRACED_ENTRY
    };
    for (const Entry& entry : table)
        if (std::strcmp(entry.name, name) == 0)
            return entry.function;
    return nullptr;
}

} // namespace ktq::sim::board
