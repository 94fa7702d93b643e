#pragma once

#include <chrono>

namespace ktq::bus {
class WaitObserver;
}

namespace ktq::ui {

/// Waits without processing window events. Tests replace it so that nothing waits in real time.
class Pauser {
public:
    virtual ~Pauser() = default;
    virtual void pause(std::chrono::milliseconds duration) = 0;
};

/// Waits on a timer in a local event loop of the calling thread: the windows keep painting and
/// moving, and the operator's keys and clicks wait for the end of the step.
class EventLoopPauser final : public Pauser {
public:
    explicit EventLoopPauser(bus::WaitObserver* observer = nullptr) : m_observer(observer) {}
    void pause(std::chrono::milliseconds duration) override;

private:
    bus::WaitObserver* m_observer = nullptr;
};

/// A monotonic clock and a way to sleep until a point of it: the real ones, or a test's.
class MonotonicClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~MonotonicClock() = default;
    virtual TimePoint now() const = 0;
    virtual void sleepUntil(TimePoint deadline) = 0;
};

class SteadyClock final : public MonotonicClock {
public:
    TimePoint now() const override;
    void sleepUntil(TimePoint deadline) override;
};

/// Blocks the thread until the whole duration has passed on the monotonic clock, sleeping
/// rather than spinning; an early wake-up sleeps again for the rest.
class BlockingPauser final : public Pauser {
public:
    explicit BlockingPauser(MonotonicClock& clock) : m_clock(clock) {}
    void pause(std::chrono::milliseconds duration) override;

private:
    MonotonicClock& m_clock;
};

} // namespace ktq::ui
