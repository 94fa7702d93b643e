#pragma once

#include <chrono>

namespace ktq::bus {
class WaitObserver;
}

namespace ktq::ui {

/// The menu engine's short pause. Tests replace it so that nothing waits in real time.
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

} // namespace ktq::ui
