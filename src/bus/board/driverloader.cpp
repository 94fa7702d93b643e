// The driver families' tables of library functions, and the loader that picks the first usable library.
#include "driverloader.h"

#include "bus/driverbases.h"
#include "bus/families.h"
#include "bus/gpibconstants.h"
#include "bus/sharedlibrary.h"

#include <algorithm>
#include <cstddef>
#include <ostream>
#include <utility>

namespace ktq::bus {

LibraryDriver::LibraryDriver() = default;
LibraryDriver::~LibraryDriver() = default;

void LibraryDriver::adoptLibrary(std::unique_ptr<SharedLibrary> library) {
    m_library = std::move(library);
}

DriverPlan LibraryDriver::plan() const {
    return DriverPlan{m_library ? m_library->path() : std::string(), {}, false};
}

namespace {

std::unique_ptr<LibraryDriver> resolveLinuxGpibDriver(const SymbolResolver& resolve,
                                                      const DriverConstants& constants, std::string& missing);
std::unique_ptr<LibraryDriver> resolveNi4882Driver(const SymbolResolver& resolve,
                                                   const DriverConstants& constants, std::string& missing);

// linux-gpib numbers its Send end modes differently from NI (NULLend 0, DABend 1, NLend 2):
// passing NI's NLend unchanged would ask for DABend and the unit would never see a line feed.
constexpr DriverConstants linuxGpib{
    .family = linuxGpibFamily, .resolve = &resolveLinuxGpibDriver, .nlEnd = 2, .dabEnd = 1, .stopEnd = 0x100};
// NI-488.2's numbers are the library's own; its export set is ni4882.h's on Windows and Linux alike.
constexpr DriverConstants niGpib{
    .family = niFamily, .resolve = &resolveNi4882Driver, .nlEnd = 1, .dabEnd = 2, .stopEnd = 0x100};

// ibconfig's options for the two settings NI's header makes macros over it.
constexpr int IbcTMO = 0x0003;
constexpr int IbcSRE = 0x000B;

// linux-gpib's C entry points, in the program's own shapes.
struct LinuxGpibFunctions {
#define KTQ_FUNCTION_POINTER(result, name, params, args, ...) result(*name) params = nullptr;
    KTQ_GPIB_CALLS(KTQ_FUNCTION_POINTER)
#undef KTQ_FUNCTION_POINTER
};

/// Calls a linux-gpib library's functions as they are.
class LinuxGpibTableDriver : public LibraryDriver {
public:
    explicit LinuxGpibTableDriver(const LinuxGpibFunctions& functions) : m_fn(functions) {}

#define KTQ_CALL_FUNCTION(result, name, params, args, ...)                                                   \
    result name params override {                                                                            \
        return m_fn.name args;                                                                               \
    }
    KTQ_GPIB_CALLS(KTQ_CALL_FUNCTION)
#undef KTQ_CALL_FUNCTION

protected:
    LinuxGpibFunctions m_fn;
};

/// A linux-gpib library, with NI's numbers translated to the library's.
class ResolvedDriver final : public LinuxGpibTableDriver {
public:
    ResolvedDriver(const LinuxGpibFunctions& functions, const DriverConstants& constants)
        : LinuxGpibTableDriver(functions), m_constants(constants) {}

    std::string_view family() const override { return m_constants.family; }

    int ibonl(int ud, int v) override { return m_fn.ibonl ? m_fn.ibonl(ud, v) : ni::ERR; }
    void Send(int board, std::uint16_t address, const void* buffer, long count, int eotMode) override {
        m_fn.Send(board, address, buffer, count, endMode(eotMode));
    }
    void Receive(int board, std::uint16_t address, void* buffer, long count, int termination) override {
        m_fn.Receive(board, address, buffer, count, terminationMode(termination));
    }

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

    DriverConstants m_constants;
};

std::unique_ptr<LibraryDriver> resolveLinuxGpibDriver(const SymbolResolver& resolve,
                                                      const DriverConstants& constants,
                                                      std::string& missing) {
    LinuxGpibFunctions fn;
    // Releasing a descriptor is housekeeping: a library without ibonl still does all the work.
#define KTQ_RESOLVE(result, name, params, args, ...)                                                         \
    fn.name = reinterpret_cast<decltype(fn.name)>(resolve(#name));                                           \
    if (fn.name == nullptr && std::string_view(#name) != "ibonl") {                                          \
        missing = #name;                                                                                     \
        return nullptr;                                                                                      \
    }
    KTQ_GPIB_CALLS(KTQ_RESOLVE)
#undef KTQ_RESOLVE
    return std::make_unique<ResolvedDriver>(fn, constants);
}

// NI's status and count type: unsigned long on Windows and unsigned int on Linux, 32 bits on both;
// read as 64 bits on Linux they would bring the upper half of a register along.
using NiStatus = std::uint32_t;
struct Ni4882Functions {
#define KTQ_FUNCTION_POINTER(result, name, params, ...) result(*name) params = nullptr;
    KTQ_NI4882_CALLS(KTQ_FUNCTION_POINTER, NiStatus)
#undef KTQ_FUNCTION_POINTER
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
#define KTQ_RESOLVE(result, name, params, optional)                                                          \
    fn.name = reinterpret_cast<decltype(fn.name)>(resolve(#name));
    KTQ_NI4882_CALLS(KTQ_RESOLVE, NiStatus)
#undef KTQ_RESOLVE
    // ibconfig is needed only for a setting the library has no function for.
    const bool needsConfig = !fn.ibsre || !fn.ibtmo;
#define KTQ_CHECK(result, name, params, optional)                                                            \
    if (fn.name == nullptr && (!(optional) || (needsConfig && std::string_view(#name) == "ibconfig"))) {     \
        missing = #name;                                                                                     \
        return nullptr;                                                                                      \
    }
    KTQ_NI4882_CALLS(KTQ_CHECK, NiStatus)
#undef KTQ_CHECK
    return std::make_unique<Ni4882Driver>(fn, constants);
}

std::unique_ptr<LibraryDriver> resolveDriver(const SymbolResolver& resolve, const DriverConstants& constants,
                                             std::string& missing) {
    return (constants.resolve ? constants.resolve : linuxGpib.resolve)(resolve, constants, missing);
}

/// Stands in when no library is usable, so that every bus step fails the ordinary way.
class UnavailableDriver final : public FailingDriver {};

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

std::unique_ptr<GpibDriver> makeUnavailableDriver() {
    return std::make_unique<UnavailableDriver>();
}

std::unique_ptr<GpibDriver> loadFirstDriver(std::span<const DriverCandidate> candidates, std::ostream& log) {
    std::string failures;
    for (const DriverCandidate& candidate : candidates) {
        const DriverConstants& constants = candidate.constants ? *candidate.constants : linuxGpibConstants();
        std::string error;
        std::unique_ptr<SharedLibrary> library = SharedLibrary::open(candidate.fileName, error);
        if (!library) {
            noteFailure(failures, candidate.fileName, error);
            continue;
        }
        const SharedLibrary& opened = *library;
        std::string missing;
        auto driver =
            resolveDriver([&opened](const char* name) { return opened.symbol(name); }, constants, missing);
        if (!driver) {
            noteFailure(failures, candidate.fileName, "lacks " + missing);
            continue;
        }
        const std::string path = library->path();
        driver->adoptLibrary(std::move(library));
        log << "ktqconfig: GPIB driver: loaded " << path << " (" << constants.family << ")\n";
        return driver;
    }

    log << "ktqconfig: GPIB driver: no usable library, Configure will look for a \"++\" adapter; looked for "
        << (failures.empty() ? std::string("nothing") : failures) << "\n";
    return makeUnavailableDriver();
}

std::unique_ptr<GpibDriver> loadSystemDriver(std::ostream& log) {
    return loadFirstDriver(systemDriverCandidates(), log);
}

} // namespace ktq::bus
