// The real linux-gpib library loaded beside the bench, each of its calls traced into the bench.
#include "sim/board/reallibrary.h"

#include "sim/linuxgpib.h"
#include "sim/simbus.h"
#include "sim/tracetext.h"
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

std::string bytes(const void* data, long count) {
    return quoted(data && count > 0
                      ? std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(count))
                      : std::string_view());
}

bool succeeded(const CallStatus& status) {
    return (status.ibsta & lg::ERR) == 0;
}

// Each call as the real library makes it, leaving a trace line behind; the status reads pass
// through untraced, as the bench's own are.
namespace traced {

int ibfind(const char* name) {
    const int ud = g_real.ibfind(name);
    trace(std::string("ibfind(") + (name ? bytes(name, static_cast<long>(std::strlen(name))) : "NULL") + ")",
          lastStatus());
    return ud;
}

int ibask(int ud, int option, int* value) {
    const int result = g_real.ibask(ud, option, value);
    const CallStatus status = lastStatus();
    trace("ibask(" + std::to_string(ud) + ", " + std::to_string(option) + ")" +
              (succeeded(status) && value ? " " + std::to_string(*value) : ""),
          status);
    return result;
}

int ibsre(int ud, int enable) {
    const int result = g_real.ibsre(ud, enable);
    trace("ibsre(" + std::to_string(ud) + ", " + std::to_string(enable) + ")", lastStatus());
    return result;
}

int ibtmo(int ud, int code) {
    const int result = g_real.ibtmo(ud, code);
    trace("ibtmo(" + std::to_string(ud) + ", " + std::to_string(code) + ")", lastStatus());
    return result;
}

int ibonl(int ud, int online) {
    const int result = g_real.ibonl(ud, online);
    trace("ibonl(" + std::to_string(ud) + ", " + std::to_string(online) + ")", lastStatus());
    return result;
}

void SendIFC(int board) {
    g_real.SendIFC(board);
    trace("SendIFC(" + std::to_string(board) + ")", lastStatus());
}

void DevClear(int board, Addr4882 address) {
    g_real.DevClear(board, address);
    trace("DevClear(" + std::to_string(board) + ", " + std::to_string(address) + ")", lastStatus());
}

void FindLstn(int board, const Addr4882* padList, Addr4882* resultList, int limit) {
    g_real.FindLstn(board, padList, resultList, limit);
    const CallStatus status = lastStatus();
    std::vector<int> probed;
    for (int i = 0; padList && i < 256 && padList[i] != lg::NOADDR; ++i)
        probed.push_back(padList[i]);
    std::vector<int> written;
    if ((succeeded(status) || status.iberr == lg::ETAB) && resultList)
        for (long i = 0; i < status.ibcntl && i < limit; ++i)
            written.push_back(resultList[i]);
    trace("FindLstn(" + std::to_string(board) + ", " + joined(probed) + ", " + std::to_string(limit) + ") " +
              joined(written),
          status);
}

void Send(int board, Addr4882 address, const void* buffer, long count, int eotMode) {
    g_real.Send(board, address, buffer, count, eotMode);
    trace("Send(" + std::to_string(board) + ", " + std::to_string(address) + ", " + bytes(buffer, count) +
              ", " + std::to_string(count) + ", " + std::to_string(eotMode) + ")",
          lastStatus());
}

void Receive(int board, Addr4882 address, void* buffer, long count, int termination) {
    g_real.Receive(board, address, buffer, count, termination);
    const CallStatus status = lastStatus();
    const long received = status.iberr == lg::EDVR && !succeeded(status) ? 0 : std::min(status.ibcntl, count);
    trace("Receive(" + std::to_string(board) + ", " + std::to_string(address) + ", " + std::to_string(count) +
              ", " + std::to_string(termination) + ") " + bytes(buffer, received),
          status);
}

void SendCmds(int board, const void* commands, long count) {
    g_real.SendCmds(board, commands, count);
    trace("SendCmds(" + std::to_string(board) + ", " + bytes(commands, count) + ", " + std::to_string(count) +
              ")",
          lastStatus());
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
