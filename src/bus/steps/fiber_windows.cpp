// A fiber on Windows: the system's own.
#include "fiber.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <new>

namespace ktq::bus {

namespace {

// As on POSIX: a main thread's stack reserved, a little of it committed at first.
constexpr SIZE_T stackReserve = 8u << 20;
constexpr SIZE_T stackCommit = 64u << 10;

} // namespace

struct Fiber::Native {
    LPVOID own = nullptr;
    LPVOID caller = nullptr;
};

Fiber::Fiber(Entry entry, void* arg) : m_entry(entry), m_arg(arg), m_native(new Native) {
    m_native->own = CreateFiberEx(
        stackCommit, stackReserve, FIBER_FLAG_FLOAT_SWITCH,
        [](LPVOID self) { start(static_cast<Fiber*>(self)); }, this);
    if (m_native->own == nullptr) {
        delete m_native;
        throw std::bad_alloc();
    }
}

Fiber::~Fiber() {
    DeleteFiber(m_native->own);
    delete m_native;
}

void Fiber::start(Fiber* fiber) {
    fiber->m_entry(fiber->m_arg);
    fiber->m_returned = true;
    // A fiber's procedure must not return: that would end the thread.
    SwitchToFiber(fiber->m_native->caller);
}

void Fiber::switchIn() {
    // The window's thread becomes a fiber itself the first time, and stays one.
    if (!IsThreadAFiber()) {
        ConvertThreadToFiberEx(nullptr, FIBER_FLAG_FLOAT_SWITCH);
    }
    m_native->caller = GetCurrentFiber();
    SwitchToFiber(m_native->own);
}

void Fiber::switchOut() {
    SwitchToFiber(m_native->caller);
}

} // namespace ktq::bus
