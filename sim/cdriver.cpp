// The simulated driver's C functions over the installed bench, and their lookup by linux-gpib's names.
#include "sim/ktqsim.h"
#include "sim/simbus.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <string_view>

namespace ktq::sim {

namespace {

// One program thread drives the bus, but a test may install benches from another; the lock keeps
// the installed pointer and each call whole.
std::recursive_mutex& benchLock() {
    static std::recursive_mutex lock;
    return lock;
}

SimBus* g_installed = nullptr;
bool g_useEnvironment = false;
DriverFamily g_family = DriverFamily::LinuxGpib;
bool g_traceWire = false; // GPIB_SIM_TRACE gets bus events instead of driver calls
thread_local CallStatus t_status;

std::unique_ptr<SimBus> benchFromEnvironment() {
    const char* layout = std::getenv("GPIB_SIM_BENCH");
    std::unique_ptr<SimBus> bench;
    try {
        bench = SimBus::fromBenchLayout(layout ? layout : "");
    } catch (const std::invalid_argument& error) {
        // A bench that cannot be built must not look like a working one.
        std::cerr << "GPIB_SIM_BENCH: " << error.what() << "; the simulated board is absent\n";
        bench = std::make_unique<SimBus>();
        bench->setBoardPresent(false);
    }
    bench->setDriverFamily(g_family);
    if (const char* trace = std::getenv("GPIB_SIM_TRACE"); trace && *trace) {
        if (g_traceWire)
            bench->wire().setEventFile(trace);
        else
            bench->setTraceFile(trace);
    }
    // Real timing: each transfer takes a few milliseconds and a silent unit its whole timeout.
    bench->setTiming(Timing::fromSettings(std::getenv("GPIB_SIM_TIMING"), std::getenv("GPIB_SIM_DELAY_MS")));
    return bench;
}

SimBus* currentBench() {
    if (g_installed)
        return g_installed;
    if (!g_useEnvironment)
        return nullptr;
    static std::unique_ptr<SimBus> environmentBench = benchFromEnvironment();
    return environmentBench.get();
}

// Runs one call on the current bench and keeps its status for the Thread* functions.
template <typename Call> auto onBench(Call call) {
    std::lock_guard guard(benchLock());
    SimBus* bench = currentBench();
    if (!bench) {
        t_status = CallStatus{lg::ERR, lg::ENEB, 0};
        using Result = decltype(call(*bench));
        if constexpr (std::is_void_v<Result>)
            return;
        else
            return Result(-1);
    }
    if constexpr (std::is_void_v<decltype(call(*bench))>) {
        call(*bench);
        t_status = bench->lastStatus();
    } else {
        auto result = call(*bench);
        t_status = bench->lastStatus();
        return result;
    }
}

} // namespace

ScopedBench::ScopedBench(SimBus& bench) {
    std::lock_guard guard(benchLock());
    m_previous = g_installed;
    g_installed = &bench;
}

ScopedBench::~ScopedBench() {
    std::lock_guard guard(benchLock());
    g_installed = m_previous;
}

void onCurrentBench(const std::function<void(SimBus*)>& action) {
    std::lock_guard guard(benchLock());
    action(currentBench());
}

void useEnvironmentBench(EnvironmentTrace trace) {
    std::lock_guard guard(benchLock());
    g_useEnvironment = true;
    g_traceWire = trace == EnvironmentTrace::BusEvents;
}

void* resolveSymbol(const char* name) {
    struct Entry {
        const char* name;
        void* function;
    };
    static const Entry table[] = {
#define KTQ_SIM_ENTRY(result, name, params, ...) {#name, reinterpret_cast<void*>(&ktqsim_##name)},
        KTQ_GPIB_CALLS(KTQ_SIM_ENTRY)
#undef KTQ_SIM_ENTRY
    };
    if (name == nullptr)
        return nullptr;
    for (const Entry& entry : table)
        if (std::strcmp(entry.name, name) == 0)
            return entry.function;
    return nullptr;
}

} // namespace ktq::sim

using ktq::sim::SimBus;

extern "C" {

// Each call that acts runs on the bench under its own name.
#define KTQ_SIM_ACTION(result, name, params, args, ...)                                                      \
    result ktqsim_##name params {                                                                            \
        return ktq::sim::onBench([&](SimBus& bench) { return bench.name args; });                            \
    }
KTQ_GPIB_ACTIONS(KTQ_SIM_ACTION)
#undef KTQ_SIM_ACTION

int ktqsim_ThreadIbsta(void) {
    return ktq::sim::t_status.ibsta;
}
int ktqsim_ThreadIberr(void) {
    return ktq::sim::t_status.iberr;
}
int ktqsim_ThreadIbcnt(void) {
    return static_cast<int>(ktq::sim::t_status.ibcntl);
}
long ktqsim_ThreadIbcntl(void) {
    return ktq::sim::t_status.ibcntl;
}

void ktqsim_useEnvironmentBench(void) {
    ktq::sim::useEnvironmentBench(ktq::sim::EnvironmentTrace::DriverCalls);
}

void ktqsim_useNiDriver(void) {
    std::lock_guard guard(ktq::sim::benchLock());
    ktq::sim::g_family = ktq::sim::DriverFamily::Ni;
}

int ktqsim_ibconfig(int ud, int option, int v) {
    switch (option) {
    case 0x3:
        return ktqsim_ibtmo(ud, v);
    case 0xB:
        return ktqsim_ibsre(ud, v);
    default:
        ktq::sim::t_status = ktq::sim::CallStatus{ktq::sim::lg::ERR, ktq::sim::lg::ECAP, 0};
        return ktq::sim::lg::ERR;
    }
}
}
