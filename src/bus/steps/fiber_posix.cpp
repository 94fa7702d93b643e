// A fiber on POSIX: a mapped stack and ucontext, told to the sanitizers at every switch.
#include "fiber.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KTQ_ASAN 1
#include <sanitizer/common_interface_defs.h>
#endif
#if defined(__SANITIZE_THREAD__)
#define KTQ_TSAN 1
#include <sanitizer/tsan_interface.h>
#endif

namespace ktq::bus {

namespace {

// Handlers show message boxes and dialogs from the step, and those paint with the whole of Qt's
// text stack below them: the size of a main thread's stack, of which only what is touched is
// ever given memory.
constexpr std::size_t stackSize = 8u << 20;

// makecontext passes only ints: the fiber about to start for the first time is handed over here.
thread_local Fiber* starting = nullptr;

} // namespace

struct Fiber::Native {
    ucontext_t own{};
    ucontext_t caller{};
    void* stack = nullptr;
#ifdef KTQ_ASAN
    void* fakeStack = nullptr;       // the fiber's, while it is switched out
    void* callerFakeStack = nullptr; // the caller's, while the fiber runs
    const void* callerBottom = nullptr;
    std::size_t callerSize = 0;
#endif
#ifdef KTQ_TSAN
    void* tsanOwn = nullptr;
    void* tsanCaller = nullptr;
#endif
};

Fiber::Fiber(Entry entry, void* arg) : m_entry(entry), m_arg(arg), m_native(new Native) {
    void* stack =
        mmap(nullptr, stackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (stack == MAP_FAILED) {
        delete m_native;
        throw std::bad_alloc();
    }
    // The lowest page stays unmapped for access: an overflow faults instead of writing elsewhere.
    mprotect(stack, static_cast<std::size_t>(sysconf(_SC_PAGESIZE)), PROT_NONE);
    m_native->stack = stack;
    getcontext(&m_native->own);
    m_native->own.uc_stack.ss_sp = stack;
    m_native->own.uc_stack.ss_size = stackSize;
    m_native->own.uc_link = nullptr;
    makecontext(&m_native->own, reinterpret_cast<void (*)()>(+[] { start(starting); }), 0);
#ifdef KTQ_TSAN
    m_native->tsanOwn = __tsan_create_fiber(0);
#endif
}

Fiber::~Fiber() {
#ifdef KTQ_TSAN
    __tsan_destroy_fiber(m_native->tsanOwn);
#endif
    munmap(m_native->stack, stackSize);
    delete m_native;
}

void Fiber::start(Fiber* fiber) {
#ifdef KTQ_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &fiber->m_native->callerBottom, &fiber->m_native->callerSize);
#endif
    fiber->m_entry(fiber->m_arg);
    fiber->m_returned = true;
    Native& n = *fiber->m_native;
#ifdef KTQ_ASAN
    // Null: the fiber's fake stack goes with it, as it never comes back.
    __sanitizer_start_switch_fiber(nullptr, n.callerBottom, n.callerSize);
#endif
#ifdef KTQ_TSAN
    __tsan_switch_to_fiber(n.tsanCaller, 0);
#endif
    setcontext(&n.caller);
    std::abort(); // setcontext returns only where it failed
}

void Fiber::switchIn() {
    Native& n = *m_native;
    starting = this;
#ifdef KTQ_ASAN
    __sanitizer_start_switch_fiber(&n.callerFakeStack, n.stack, stackSize);
#endif
#ifdef KTQ_TSAN
    n.tsanCaller = __tsan_get_current_fiber();
    __tsan_switch_to_fiber(n.tsanOwn, 0);
#endif
    swapcontext(&n.caller, &n.own);
#ifdef KTQ_ASAN
    __sanitizer_finish_switch_fiber(n.callerFakeStack, nullptr, nullptr);
#endif
}

void Fiber::switchOut() {
    Native& n = *m_native;
#ifdef KTQ_ASAN
    __sanitizer_start_switch_fiber(&n.fakeStack, n.callerBottom, n.callerSize);
#endif
#ifdef KTQ_TSAN
    __tsan_switch_to_fiber(n.tsanCaller, 0);
#endif
    swapcontext(&n.own, &n.caller);
#ifdef KTQ_ASAN
    // Whoever switched in this time may stand on another stack than the last one.
    __sanitizer_finish_switch_fiber(n.fakeStack, &n.callerBottom, &n.callerSize);
#endif
}

} // namespace ktq::bus
