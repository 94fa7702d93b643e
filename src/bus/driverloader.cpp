#include "driverloader.h"

#include "gpibconstants.h"

#include <dlfcn.h>
#include <link.h>

#include <array>
#include <ostream>
#include <utility>

namespace ktq::bus {

namespace {

// linux-gpib numbers its Send end modes differently from NI (NULLend 0, DABend 1, NLend 2):
// passing NI's NLend unchanged would ask for DABend and the unit would never see a line feed.
constexpr DriverConstants linuxGpib{.family = "linux-gpib", .nlEnd = 2, .dabEnd = 1, .stopEnd = 0x100};
constexpr DriverConstants niGpib{
    .family = "NI-488.2", .nlEnd = 1, .dabEnd = 2, .stopEnd = 0x100, .findAlias = "ibfindA"};

struct LibraryCloser {
    void operator()(void* handle) const { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

// The library's C entry points; Addr4882_t is uint16_t.
struct DriverFunctions {
    int (*ibfind)(const char*) = nullptr;
    int (*ibask)(int, int, int*) = nullptr;
    int (*ibsre)(int, int) = nullptr;
    int (*ibtmo)(int, int) = nullptr;
    void (*SendIFC)(int) = nullptr;
    void (*DevClear)(int, std::uint16_t) = nullptr;
    void (*FindLstn)(int, const std::uint16_t*, std::uint16_t*, int) = nullptr;
    void (*Send)(int, std::uint16_t, const void*, long, int) = nullptr;
    void (*Receive)(int, std::uint16_t, void*, long, int) = nullptr;
    void (*SendCmds)(int, const void*, long) = nullptr;
    int (*ThreadIbsta)() = nullptr;
    int (*ThreadIberr)() = nullptr;
    int (*ThreadIbcnt)() = nullptr;
    long (*ThreadIbcntl)() = nullptr;
};

/// A driver calling a library's functions, translating NI's numbers to the library's.
class ResolvedDriver final : public GpibDriver {
public:
    ResolvedDriver(const DriverFunctions& functions, const DriverConstants& constants)
        : m_fn(functions), m_constants(constants) {}

    // Keeps the library loaded for as long as its functions can be called.
    void adoptLibrary(LibraryHandle handle) { m_library = std::move(handle); }

    int ibfind(const char* name) override { return m_fn.ibfind(name); }
    int ibask(int ud, int option, int* value) override { return m_fn.ibask(ud, option, value); }
    int ibsre(int ud, int v) override { return m_fn.ibsre(ud, v); }
    int ibtmo(int ud, int v) override { return m_fn.ibtmo(ud, v); }
    void SendIFC(int board) override { m_fn.SendIFC(board); }
    void DevClear(int board, std::uint16_t address) override { m_fn.DevClear(board, address); }
    void FindLstn(int board, const std::uint16_t* padList, std::uint16_t* resultList, int limit) override {
        m_fn.FindLstn(board, padList, resultList, limit);
    }
    void Send(int board, std::uint16_t address, const void* buffer, long count, int eotMode) override {
        m_fn.Send(board, address, buffer, count, endMode(eotMode));
    }
    void Receive(int board, std::uint16_t address, void* buffer, long count, int termination) override {
        m_fn.Receive(board, address, buffer, count, terminationMode(termination));
    }
    void SendCmds(int board, const void* commands, long count) override {
        m_fn.SendCmds(board, commands, count);
    }
    int ThreadIbsta() override { return m_fn.ThreadIbsta(); }
    int ThreadIberr() override { return m_fn.ThreadIberr(); }
    int ThreadIbcnt() override { return m_fn.ThreadIbcnt(); }
    long ThreadIbcntl() override { return m_fn.ThreadIbcntl(); }

    const DriverConstants& constants() const { return m_constants; }

private:
    int endMode(int niMode) const {
        switch (niMode) {
        case ni::NLend:
            return m_constants.nlEnd;
        case ni::DABend:
            return m_constants.dabEnd;
        default:
            return niMode;
        }
    }

    // End-of-string bytes 0..255 mean the same everywhere; only "stop at EOI" differs.
    int terminationMode(int niTermination) const {
        return niTermination == ni::STOPend ? m_constants.stopEnd : niTermination;
    }

    // Declared first so that it is released last, after nothing can call into the library.
    LibraryHandle m_library;
    DriverFunctions m_fn;
    DriverConstants m_constants;
};

template <typename Fn>
bool resolveInto(const SymbolResolver& resolve, const char* name, Fn& function, std::string& missing) {
    void* symbol = resolve(name);
    if (!symbol) {
        missing = name;
        return false;
    }
    function = reinterpret_cast<Fn>(symbol);
    return true;
}

std::unique_ptr<ResolvedDriver> resolveDriver(const SymbolResolver& resolve, const DriverConstants& constants,
                                              std::string& missing) {
    DriverFunctions fn;
    if (constants.findAlias) {
        if (void* symbol = resolve(constants.findAlias)) {
            fn.ibfind = reinterpret_cast<decltype(fn.ibfind)>(symbol);
        }
    }
    const bool complete = (fn.ibfind || resolveInto(resolve, "ibfind", fn.ibfind, missing)) &&
                          resolveInto(resolve, "ibask", fn.ibask, missing) &&
                          resolveInto(resolve, "ibsre", fn.ibsre, missing) &&
                          resolveInto(resolve, "ibtmo", fn.ibtmo, missing) &&
                          resolveInto(resolve, "SendIFC", fn.SendIFC, missing) &&
                          resolveInto(resolve, "DevClear", fn.DevClear, missing) &&
                          resolveInto(resolve, "FindLstn", fn.FindLstn, missing) &&
                          resolveInto(resolve, "Send", fn.Send, missing) &&
                          resolveInto(resolve, "Receive", fn.Receive, missing) &&
                          resolveInto(resolve, "SendCmds", fn.SendCmds, missing) &&
                          resolveInto(resolve, "ThreadIbsta", fn.ThreadIbsta, missing) &&
                          resolveInto(resolve, "ThreadIberr", fn.ThreadIberr, missing) &&
                          resolveInto(resolve, "ThreadIbcnt", fn.ThreadIbcnt, missing) &&
                          resolveInto(resolve, "ThreadIbcntl", fn.ThreadIbcntl, missing);
    if (!complete) {
        return nullptr;
    }
    return std::make_unique<ResolvedDriver>(fn, constants);
}

/// Stands in when no library is usable, so that every bus step fails the ordinary way.
class UnavailableDriver final : public GpibDriver {
public:
    int ibfind(const char*) override { return -1; }
    int ibask(int, int, int*) override { return ni::ERR; }
    int ibsre(int, int) override { return ni::ERR; }
    int ibtmo(int, int) override { return ni::ERR; }
    void SendIFC(int) override {}
    void DevClear(int, std::uint16_t) override {}
    void FindLstn(int, const std::uint16_t*, std::uint16_t*, int) override {}
    void Send(int, std::uint16_t, const void*, long, int) override {}
    void Receive(int, std::uint16_t, void*, long, int) override {}
    void SendCmds(int, const void*, long) override {}
    int ThreadIbsta() override { return ni::ERR; }
    int ThreadIberr() override { return ni::EDVR; }
    int ThreadIbcnt() override { return 0; }
    long ThreadIbcntl() override { return 0; }
};

// dlerror's text usually starts with the file name, which the log line already gives; and the
// log takes exactly one line.
std::string failureReason(const std::string& fileName, const char* error) {
    std::string reason = error ? error : "cannot be opened";
    const std::string prefix = fileName + ": ";
    if (reason.starts_with(prefix)) {
        reason.erase(0, prefix.size());
    }
    for (char& c : reason) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return reason;
}

std::string loadedPath(void* handle, const std::string& fallback) {
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name) {
        return map->l_name;
    }
    return fallback;
}

} // namespace

const DriverConstants& linuxGpibConstants() {
    return linuxGpib;
}

const DriverConstants& niGpibConstants() {
    return niGpib;
}

std::unique_ptr<GpibDriver> makeResolvedDriver(const SymbolResolver& resolve,
                                               const DriverConstants& constants, std::string& missing) {
    return resolveDriver(resolve, constants, missing);
}

std::string_view driverFamily(const GpibDriver& driver) {
    const auto* resolved = dynamic_cast<const ResolvedDriver*>(&driver);
    return resolved ? std::string_view(resolved->constants().family) : std::string_view();
}

std::unique_ptr<GpibDriver> makeUnavailableDriver() {
    return std::make_unique<UnavailableDriver>();
}

std::unique_ptr<GpibDriver> loadFirstDriver(std::span<const DriverCandidate> candidates, std::ostream& log) {
    std::string failures;
    auto noteFailure = [&failures](const std::string& fileName, const std::string& reason) {
        if (!failures.empty()) {
            failures += "; ";
        }
        failures += fileName + " (" + reason + ")";
    };

    for (const DriverCandidate& candidate : candidates) {
        const DriverConstants& constants = candidate.constants ? *candidate.constants : linuxGpibConstants();
        dlerror();
        LibraryHandle library(dlopen(candidate.fileName.c_str(), RTLD_NOW | RTLD_LOCAL));
        if (!library) {
            noteFailure(candidate.fileName, failureReason(candidate.fileName, dlerror()));
            continue;
        }
        void* handle = library.get();
        std::string missing;
        auto driver =
            resolveDriver([handle](const char* name) { return dlsym(handle, name); }, constants, missing);
        if (!driver) {
            noteFailure(candidate.fileName, "lacks " + missing);
            continue;
        }
        const std::string path = loadedPath(handle, candidate.fileName);
        driver->adoptLibrary(std::move(library));
        log << "ktqconfig: GPIB driver: loaded " << path << " (" << constants.family << ")\n";
        return driver;
    }

    log << "ktqconfig: GPIB driver: no usable library, the bus is unavailable; looked for "
        << (failures.empty() ? std::string("nothing") : failures) << "\n";
    return makeUnavailableDriver();
}

std::unique_ptr<GpibDriver> loadSystemDriver(std::ostream& log) {
    // Bare file names only: the dynamic loader's search path, never the current folder.
    const std::array<DriverCandidate, 4> candidates{{
        {"libgpib.so.0", &linuxGpib},
        {"libgpibapi.so", &niGpib},
        {"libgpibapi.so.2", &niGpib},
        {"libgpibapi.so.1", &niGpib},
    }};
    return loadFirstDriver(candidates, log);
}

} // namespace ktq::bus
