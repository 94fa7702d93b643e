// The menu engine's short pause after each setting, and the clock it is measured by.
#pragma once

#include "run/pauser.h"

#include <chrono>
#include <functional>

namespace ktq::bus {
class WaitObserver;
}

namespace ktq::ui {

using run::Pauser;

/// Waits on a timer, the step going back to the event loop meanwhile: the windows keep painting
/// and moving, and the operator's keys and clicks wait for the end of the step. The pause ends by the
/// clock, not by the timer: a timer may fire early (on Windows by most of a millisecond), and the
/// units need the whole pause.
class EventLoopPauser final : public Pauser {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit EventLoopPauser(bus::WaitObserver* observer = nullptr, Clock clock = {});
    void pause(std::chrono::milliseconds duration) override;

private:
    bus::WaitObserver* m_observer = nullptr;
    Clock m_clock;
};

} // namespace ktq::ui
