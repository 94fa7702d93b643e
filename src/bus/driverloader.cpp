#include "driverloader.h"

#include "gpibconstants.h"
#include "sharedlibrary.h"

#include <algorithm>
#include <cstddef>
#include <ostream>
#include <utility>

namespace ktq::bus {

namespace {

// linux-gpib numbers its Send end modes differently from NI (NULLend 0, DABend 1, NLend 2):
// passing NI's NLend unchanged would ask for DABend and the unit would never see a line feed.
constexpr DriverConstants linuxGpib{.family = "linux-gpib", .nlEnd = 2, .dabEnd = 1, .stopEnd = 0x100};
// NI-488.2's numbers are the library's own; its export set is ni4882.h's on Windows and Linux alike.
constexpr DriverConstants niGpib{
    .family = "NI-488.2", .exports = DriverExports::Ni4882, .nlEnd = 1, .dabEnd = 2, .stopEnd = 0x100};

// ibconfig's options for the two settings NI's header makes macros over it.
constexpr int IbcTMO = 0x0003;
constexpr int IbcSRE = 0x000B;

/// A driver whose functions live in a loaded library.
class LibraryDriver : public GpibDriver {
public:
    // Keeps the library loaded for as long as its functions can be called.
    void adoptLibrary(std::unique_ptr<SharedLibrary> library) { m_library = std::move(library); }

private:
    // In the base, so that it is released last, after nothing can call into the library.
    std::unique_ptr<SharedLibrary> m_library;
};

// The library's C entry points; Addr4882_t is uint16_t.
struct DriverFunctions {
    int (*ibfind)(const char*) = nullptr;
    int (*ibask)(int, int, int*) = nullptr;
    int (*ibsre)(int, int) = nullptr;
    int (*ibtmo)(int, int) = nullptr;
    int (*ibonl)(int, int) = nullptr; // may be absent
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
class ResolvedDriver final : public LibraryDriver {
public:
    ResolvedDriver(const DriverFunctions& functions, const DriverConstants& constants)
        : m_fn(functions), m_constants(constants) {}

    std::string_view family() const override { return m_constants.family; }

    int ibfind(const char* name) override { return m_fn.ibfind(name); }
    int ibask(int ud, int option, int* value) override { return m_fn.ibask(ud, option, value); }
    int ibsre(int ud, int v) override { return m_fn.ibsre(ud, v); }
    int ibtmo(int ud, int v) override { return m_fn.ibtmo(ud, v); }
    int ibonl(int ud, int v) override { return m_fn.ibonl ? m_fn.ibonl(ud, v) : ni::ERR; }
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

// The calls both export sets name alike, each in its own shapes.
template <typename Functions>
bool resolveBoardCalls(const SymbolResolver& resolve, Functions& fn, std::string& missing) {
    return resolveInto(resolve, "SendIFC", fn.SendIFC, missing) &&
           resolveInto(resolve, "DevClear", fn.DevClear, missing) &&
           resolveInto(resolve, "FindLstn", fn.FindLstn, missing) &&
           resolveInto(resolve, "Send", fn.Send, missing) &&
           resolveInto(resolve, "Receive", fn.Receive, missing) &&
           resolveInto(resolve, "SendCmds", fn.SendCmds, missing) &&
           resolveInto(resolve, "ThreadIbsta", fn.ThreadIbsta, missing) &&
           resolveInto(resolve, "ThreadIberr", fn.ThreadIberr, missing) &&
           resolveInto(resolve, "ThreadIbcnt", fn.ThreadIbcnt, missing);
}

std::unique_ptr<LibraryDriver> resolveLinuxGpibDriver(const SymbolResolver& resolve,
                                                      const DriverConstants& constants,
                                                      std::string& missing) {
    DriverFunctions fn;
    // Releasing a descriptor is housekeeping: a library without ibonl still does all the work.
    fn.ibonl = reinterpret_cast<decltype(fn.ibonl)>(resolve("ibonl"));
    const bool complete = resolveInto(resolve, "ibfind", fn.ibfind, missing) &&
                          resolveInto(resolve, "ibask", fn.ibask, missing) &&
                          resolveInto(resolve, "ibsre", fn.ibsre, missing) &&
                          resolveInto(resolve, "ibtmo", fn.ibtmo, missing) &&
                          resolveBoardCalls(resolve, fn, missing) &&
                          resolveInto(resolve, "ThreadIbcntl", fn.ThreadIbcntl, missing);
    if (!complete) {
        return nullptr;
    }
    return std::make_unique<ResolvedDriver>(fn, constants);
}

// NI-488.2's 64-bit library, in the shapes ni4882.h gives it (Addr4882_t is 16 bits; __stdcall
// means nothing on x64). Status and count are unsigned long on Windows and unsigned int on Linux,
// 32 bits on both: read as 64 bits on Linux they would bring the upper half of a register along.
// The settings calls may be absent: NI's header makes them ibconfig options.
using NiStatus = std::uint32_t;
struct Ni4882Functions {
    int (*ibfindA)(const char*) = nullptr;
    NiStatus (*ibask)(int, int, int*) = nullptr;
    NiStatus (*ibconfig)(int, int, int) = nullptr;
    NiStatus (*ibsre)(int, int) = nullptr;
    NiStatus (*ibtmo)(int, int) = nullptr;
    NiStatus (*ibonl)(int, int) = nullptr; // may be absent
    void (*SendIFC)(int) = nullptr;
    void (*DevClear)(int, std::uint16_t) = nullptr;
    void (*FindLstn)(int, const std::uint16_t*, std::uint16_t*, std::size_t) = nullptr;
    void (*Send)(int, std::uint16_t, const void*, std::size_t, int) = nullptr;
    void (*Receive)(int, std::uint16_t, void*, std::size_t, int) = nullptr;
    void (*SendCmds)(int, const void*, std::size_t) = nullptr;
    NiStatus (*ThreadIbsta)() = nullptr;
    NiStatus (*ThreadIberr)() = nullptr;
    NiStatus (*ThreadIbcnt)() = nullptr;
};

// A negative count would turn into an enormous size_t: the library would read or write far past
// the caller's buffer.
std::size_t byteCount(long count) {
    return static_cast<std::size_t>(std::max(count, 0L));
}

/// NI's numbers are the library's own here; only names and argument shapes differ.
class Ni4882Driver final : public LibraryDriver {
public:
    Ni4882Driver(const Ni4882Functions& functions, const DriverConstants& constants)
        : m_fn(functions), m_family(constants.family) {}

    std::string_view family() const override { return m_family; }

    int ibfind(const char* name) override { return m_fn.ibfindA(name); }
    int ibask(int ud, int option, int* value) override {
        return static_cast<int>(m_fn.ibask(ud, option, value));
    }
    int ibsre(int ud, int v) override {
        return static_cast<int>(m_fn.ibsre ? m_fn.ibsre(ud, v) : m_fn.ibconfig(ud, IbcSRE, v));
    }
    int ibtmo(int ud, int v) override {
        return static_cast<int>(m_fn.ibtmo ? m_fn.ibtmo(ud, v) : m_fn.ibconfig(ud, IbcTMO, v));
    }
    int ibonl(int ud, int v) override { return m_fn.ibonl ? static_cast<int>(m_fn.ibonl(ud, v)) : ni::ERR; }
    void SendIFC(int board) override { m_fn.SendIFC(board); }
    void DevClear(int board, std::uint16_t address) override { m_fn.DevClear(board, address); }
    void FindLstn(int board, const std::uint16_t* padList, std::uint16_t* resultList, int limit) override {
        m_fn.FindLstn(board, padList, resultList, static_cast<std::size_t>(std::max(limit, 0)));
    }
    void Send(int board, std::uint16_t address, const void* buffer, long count, int eotMode) override {
        m_fn.Send(board, address, buffer, byteCount(count), eotMode);
    }
    void Receive(int board, std::uint16_t address, void* buffer, long count, int termination) override {
        m_fn.Receive(board, address, buffer, byteCount(count), termination);
    }
    void SendCmds(int board, const void* commands, long count) override {
        m_fn.SendCmds(board, commands, byteCount(count));
    }
    int ThreadIbsta() override { return static_cast<int>(m_fn.ThreadIbsta()); }
    int ThreadIberr() override { return static_cast<int>(m_fn.ThreadIberr()); }
    int ThreadIbcnt() override { return static_cast<int>(m_fn.ThreadIbcnt()); }
    // NI's header defines ThreadIbcntl as ThreadIbcnt: the library has no function of that name.
    long ThreadIbcntl() override { return static_cast<long>(m_fn.ThreadIbcnt()); }

private:
    Ni4882Functions m_fn;
    std::string_view m_family;
};

std::unique_ptr<LibraryDriver> resolveNi4882Driver(const SymbolResolver& resolve,
                                                   const DriverConstants& constants, std::string& missing) {
    Ni4882Functions fn;
    fn.ibsre = reinterpret_cast<decltype(fn.ibsre)>(resolve("ibsre"));
    fn.ibtmo = reinterpret_cast<decltype(fn.ibtmo)>(resolve("ibtmo"));
    fn.ibonl = reinterpret_cast<decltype(fn.ibonl)>(resolve("ibonl"));
    const bool needsConfig = !fn.ibsre || !fn.ibtmo;
    const bool complete = resolveInto(resolve, "ibfindA", fn.ibfindA, missing) &&
                          resolveInto(resolve, "ibask", fn.ibask, missing) &&
                          (!needsConfig || resolveInto(resolve, "ibconfig", fn.ibconfig, missing)) &&
                          resolveBoardCalls(resolve, fn, missing);
    if (!complete) {
        return nullptr;
    }
    return std::make_unique<Ni4882Driver>(fn, constants);
}

std::unique_ptr<LibraryDriver> resolveDriver(const SymbolResolver& resolve, const DriverConstants& constants,
                                             std::string& missing) {
    if (constants.exports == DriverExports::Ni4882) {
        return resolveNi4882Driver(resolve, constants, missing);
    }
    return resolveLinuxGpibDriver(resolve, constants, missing);
}

/// Stands in when no library is usable, so that every bus step fails the ordinary way.
class UnavailableDriver final : public GpibDriver {
public:
    std::string_view family() const override { return {}; }
    int ibfind(const char*) override { return -1; }
    int ibask(int, int, int*) override { return ni::ERR; }
    int ibsre(int, int) override { return ni::ERR; }
    int ibtmo(int, int) override { return ni::ERR; }
    int ibonl(int, int) override { return ni::ERR; }
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
    return driver.family();
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
        std::string error;
        std::unique_ptr<SharedLibrary> library = SharedLibrary::open(candidate.fileName, error);
        if (!library) {
            noteFailure(candidate.fileName, error);
            continue;
        }
        const SharedLibrary& opened = *library;
        std::string missing;
        auto driver =
            resolveDriver([&opened](const char* name) { return opened.symbol(name); }, constants, missing);
        if (!driver) {
            noteFailure(candidate.fileName, "lacks " + missing);
            continue;
        }
        const std::string path = library->path();
        driver->adoptLibrary(std::move(library));
        log << "ktqconfig: GPIB driver: loaded " << path << " (" << constants.family << ")\n";
        return driver;
    }

    log << "ktqconfig: GPIB driver: no usable library, the bus is unavailable; looked for "
        << (failures.empty() ? std::string("nothing") : failures) << "\n";
    return makeUnavailableDriver();
}

std::unique_ptr<GpibDriver> loadSystemDriver(std::ostream& log) {
    return loadFirstDriver(systemDriverCandidates(), log);
}

} // namespace ktq::bus
