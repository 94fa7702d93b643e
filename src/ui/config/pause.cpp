#include "pause.h"

#include <thread>

namespace ktq::ui {

SteadyClock::TimePoint SteadyClock::now() const {
    return std::chrono::steady_clock::now();
}

void SteadyClock::sleepUntil(TimePoint deadline) {
    std::this_thread::sleep_until(deadline);
}

void BlockingPauser::pause(std::chrono::milliseconds duration) {
    const auto deadline = m_clock.now() + duration;
    // sleep_until may return early (signals); the operator's units rely on the whole pause.
    while (m_clock.now() < deadline) {
        m_clock.sleepUntil(deadline);
    }
}

} // namespace ktq::ui
