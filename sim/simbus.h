// The simulated bus at the level of driver calls, and the bench the simulated C functions act on.
#pragma once

#include "sim/linuxgpib.h"
#include "sim/units/simunit.h"
#include "sim/wire/wirebus.h"
#include "src/bus/calltext.h"
#include "src/bus/gpibcalls.h"

#include <chrono>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim {

/// How the simulated bus spends time; tests put one in that only records.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

/// Time as a real bus takes it: a few milliseconds per transfer and, when `timeouts` is set,
/// the whole ibtmo timeout for a Receive that nobody answers. None of it by default.
struct Timing {
    static constexpr std::chrono::milliseconds realTransfer{3};

    std::chrono::milliseconds transfer{0};
    bool timeouts = false;

    /// From GPIB_SIM_TIMING ("real", or anything else for none) and GPIB_SIM_DELAY_MS (the time
    /// per transfer, with or without real timing); null for unset.
    static Timing fromSettings(const char* mode, const char* delayMs);
};

/// The driver a bench stands for, where linux-gpib and NI-488.2 differ in what a program sees.
enum class DriverFamily {
    LinuxGpib, // linux-gpib's libgpib.so.0
    Ni,        // NI-488.2: ni4882.dll on Windows, libni4882.so on Linux
};

/// Status the driver leaves behind after one call.
using CallStatus = bus::CallOutcome;

/// A simulated GPIB bus: one controller board "GPIB0" (board index 0, bus address 0; every ibfind
/// hands out the lowest free descriptor from 16 up, 4,080 at most, until ibonl(ud, 0) gives it
/// back, as linux-gpib does) and the units on it, driven through
/// linux-gpib's calls with linux-gpib's numbers. Each call goes down to the wire-level bus as the bytes and
/// lines the driver would put on it; the units live there. It behaves as linux-gpib does except
/// where set to NI's driver family (setDriverFamily): then its end modes and search are NI's.
///
/// Status after a call, as linux-gpib reports it over a board: success is CMPL|CIC with ATN, TACS
/// and LACS as the bus was left (0x0130 after commands, 0x0128 after a Send, 0x0124 after a
/// Receive), plus END, on calls with board index 0, while the board's last transfer ended with EOI
/// (a Send with EOI, a Receive ended by EOI or the termination byte); iberr is 0. A failure on the bus
/// adds ERR, and TIMO for EABO (a Receive nobody answered: 0xc124), with the code in iberr and
/// count 0, except FindLstn's ETAB, whose count is the number of addresses written; DevClear with a
/// bad address keeps EARG in iberr without ERR. An absent board gives ERR alone (and a kept END),
/// EDVR with the count 19 (ENODEV), or 9 (EBADF) while it was never there. A failure injected with
/// failNext is ERR, or ERR|TIMO for EABO, alone.
///
/// Every call appends one trace line:
///   Send(0, 5, "CAL:LOCK 0", 10, NLend) -> 0x2128 0 11    (addresses as the operator types them)
///   Receive(0, 5, 18, 0) "5\n" -> 0x2124 0 2
///   FindLstn(0, [1, 2, 3], 32) [2, 3] -> 0x0130 0 2
///   ibask(0, 1) 0 -> 0x0130 0 0            (the value written follows, only on success)
///   ibfind("GPIB0") -> 0x0130 0 0, ibsre(0, 1), ibtmo(0, 12), ibonl(16, 0), SendIFC(0), DevClear(0, 502),
///   SendCmds(0, "?%", 2)
/// Numbers are decimal; byte buffers are quoted with \n, \r, \", \\ and \xhh for other bytes
/// outside 0x20..0x7e; the count printed for Send is the caller's, its ibcntl includes the line
/// feed NLend appends; FindLstn's results are the addresses written (911 for primary 9,
/// secondary 11). The status reads (ThreadIbsta ...) are not traced.
class SimBus {
public:
    SimBus();
    ~SimBus();
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    /// "5=7174;9=7189;12=7181B"; blank: the demo unit at 5. Throws std::invalid_argument naming
    /// the entry for a bad address, an unknown model or an address given twice.
    static std::unique_ptr<SimBus> fromBenchLayout(std::string_view layout);

    /// Model text as listed ("7181B"), a bare model number or "demo". Throws
    /// std::invalid_argument for an unknown model, an address outside 0..30 or one already taken.
    SimUnit& addUnit(int primary, std::string_view model);
    SimUnit* unitAt(int primary);
    const SimUnit* unitAt(int primary) const;
    void removeUnit(int primary);
    std::vector<SimUnit*> units();
    /// The bus beneath the driver calls, shared with every other way onto this bench.
    WireBus& wire() { return m_wire; }
    const WireBus& wire() const { return m_wire; }

    // Board state.
    void setBoardPresent(bool present) { m_boardPresent = present; }
    bool boardPresent() const { return m_boardPresent; }
    bool remoteEnabled() const { return m_wire.remoteEnabled(); }
    int timeoutCode() const { return m_timeoutCode; }
    /// Descriptors ibfind handed out and ibonl has not taken back.
    std::size_t openDescriptors() const { return m_openDescriptors.size(); }

    /// The next `times` calls of the named driver function ("Send", "ibfind" ...) fail with
    /// `iberr`; nothing reaches the units. Throws std::invalid_argument for an unknown name.
    void failNext(std::string_view function, int iberr, int times = 1);
    /// The next Receive from `primary` gets these bytes, EOI after the last, whatever the unit
    /// there would say. Several replies queue up.
    void queueReply(int primary, std::string bytes);
    /// The unit at `primary` still listens but never talks: every Receive from it times out.
    void silence(int primary, bool silent);
    /// The driver whose behaviour the calls take where the two differ (linux-gpib's by default).
    /// NI's: Send takes NI's end modes (NLend 1, DABend 2; the trace names the mode the caller's number
    /// stands for), and FindLstn reports the listeners it finds behind secondary addresses.
    void setDriverFamily(DriverFamily family) { m_family = family; }
    DriverFamily driverFamily() const { return m_family; }
    /// How long each transfer (Send, Receive, SendCmds) takes, and whether a transfer nobody
    /// answers waits its whole timeout; for a demo that feels like hardware. Off by default.
    void setTiming(Timing timing);
    /// The sleeper the timing uses (the thread's own sleep when none is set); not owned.
    void setSleeper(Sleeper* sleeper) { m_sleeper = sleeper; }

    /// The trace so far, a copy: the bus thread may be adding to it.
    std::vector<std::string> trace() const;
    void clearTrace();
    /// A free line in the trace, as is (e.g. "pause 200").
    void note(std::string line);
    /// A driver call and the status it left, as a trace line (for calls that went elsewhere).
    void noteCall(const std::string& call, const CallStatus& status);
    /// Appends every later trace line to this file; an empty path stops it.
    void setTraceFile(std::string path);

    // The driver calls that act, with linux-gpib's names, arguments and numbers (Addr4882 is
    // std::uint16_t). The C functions call these; the status reads are lastStatus.
#define KTQ_SIM_CALL(result, name, params, ...) result name params;
    KTQ_GPIB_ACTIONS(KTQ_SIM_CALL)
#undef KTQ_SIM_CALL
    const CallStatus& lastStatus() const {
        return m_status;
    }

private:
    bool takeFailure(const char* function);
    bool boardFails(int board, bool boardCall = true);
    CallStatus ok(bool boardCall, long count = 0) const;
    CallStatus busError(int iberr, bool boardCall, long count = 0) const;
    CallStatus absentBoard(bool boardCall) const;
    std::string talkAddress() const;
    bool probeListeners(const std::vector<int>& probed, const std::function<bool(int)>& report);
    void finish(std::string line);
    void pause() const;
    void sleep(std::chrono::milliseconds duration) const;

    WireBus m_wire;
    std::map<std::string, std::deque<int>, std::less<>> m_failures;

    bool m_boardPresent = true;
    DriverFamily m_family = DriverFamily::LinuxGpib;
    int m_timeoutCode = lg::T10s;
    bool m_end = false; // the last transfer on the board ended with EOI
    std::set<int> m_openDescriptors;
    bool m_boardOpened = false; // a call reached the board while it was there
    Timing m_timing;
    Sleeper* m_sleeper = nullptr;
    CallStatus m_status;

    // Notes may come from the window's thread (tests) and calls from the bus thread.
    mutable std::mutex m_traceLock;
    std::vector<std::string> m_trace;
    std::ofstream m_traceFile;
};

/// Installs a bench as the one the C functions act on, for the lifetime of this object; the bench
/// installed before comes back afterwards.
class ScopedBench {
public:
    explicit ScopedBench(SimBus& bench);
    ~ScopedBench();
    ScopedBench(const ScopedBench&) = delete;
    ScopedBench& operator=(const ScopedBench&) = delete;

private:
    SimBus* m_previous = nullptr;
};

/// Runs `action` under the bench lock with the bench the C functions act on (nullptr for none).
void onCurrentBench(const std::function<void(SimBus*)>& action);

/// What GPIB_SIM_TRACE records for a bench built from the environment.
enum class EnvironmentTrace { DriverCalls, BusEvents };
/// Without an installed bench, the first use builds one from GPIB_SIM_BENCH, GPIB_SIM_TRACE,
/// GPIB_SIM_DELAY_MS and GPIB_SIM_TIMING.
void useEnvironmentBench(EnvironmentTrace trace);

/// The C function for a linux-gpib name ("ibfind", "Send", "ThreadIbsta" ...), acting on the
/// installed bench; nullptr for a name the bench does not offer.
void* resolveSymbol(const char* name);

} // namespace ktq::sim
