// A stack of the window's thread's own, switched to and from on that thread.
#pragma once

namespace ktq::bus {

/// Runs `entry(arg)` on a stack of its own: switchIn() runs it from where the caller stands until
/// it calls switchOut() or returns; the next switchIn() goes on from there. Made, switched and
/// freed on one thread; freed only once `entry` has returned or before it ever ran.
class Fiber {
public:
    using Entry = void (*)(void* arg);
    Fiber(Entry entry, void* arg);
    ~Fiber();
    Fiber(const Fiber&) = delete;
    Fiber& operator=(const Fiber&) = delete;

    /// From the caller's stack into the fiber's, until it switches out or returns.
    void switchIn();
    /// From inside the fiber back to whoever last switched in.
    void switchOut();
    bool returned() const { return m_returned; }

private:
    struct Native;
    static void start(Fiber* fiber);

    Entry m_entry = nullptr;
    void* m_arg = nullptr;
    bool m_returned = false;
    Native* m_native = nullptr;
};

} // namespace ktq::bus
