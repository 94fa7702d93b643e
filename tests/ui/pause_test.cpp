#include "ui/config/pause.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace ktq::test {
namespace {

using namespace std::chrono_literals;

// A clock that only moves when the pauser sleeps on it; each sleep wakes at the next of the
// given wake-up offsets (an early wake-up, as a signal gives) or at the deadline.
class ScriptedClock final : public ui::MonotonicClock {
public:
    explicit ScriptedClock(std::vector<std::chrono::milliseconds> earlyWakeUps)
        : m_earlyWakeUps(std::move(earlyWakeUps)) {}

    TimePoint now() const override {
        ++reads;
        return m_now;
    }
    void sleepUntil(TimePoint deadline) override {
        sleeps.push_back(deadline);
        if (m_next < m_earlyWakeUps.size() && m_start + m_earlyWakeUps[m_next] < deadline) {
            m_now = m_start + m_earlyWakeUps[m_next++];
        } else {
            m_now = deadline;
        }
    }

    TimePoint start() const { return m_start; }

    mutable int reads = 0;
    std::vector<TimePoint> sleeps;

private:
    TimePoint m_start{std::chrono::seconds(1000)};
    TimePoint m_now{m_start};
    std::vector<std::chrono::milliseconds> m_earlyWakeUps;
    std::size_t m_next = 0;
};

struct PauseCase {
    const char* name;
    std::chrono::milliseconds duration;
    std::vector<std::chrono::milliseconds> earlyWakeUps;
    std::size_t expectedSleeps;
};

class BlockingPause : public testing::TestWithParam<PauseCase> {};

// The pause sleeps to one deadline on the monotonic clock and sleeps again after an early
// wake-up; it never polls the clock in a loop of its own.
TEST_P(BlockingPause, SleepsToTheDeadlineWithoutSpinning) {
    const PauseCase& c = GetParam();
    ScriptedClock clock(c.earlyWakeUps);
    ui::BlockingPauser pauser(clock);
    pauser.pause(c.duration);
    const int reads = clock.reads;

    ASSERT_EQ(clock.sleeps.size(), c.expectedSleeps);
    for (const auto deadline : clock.sleeps) {
        EXPECT_EQ(deadline, clock.start() + c.duration) << "every sleep aims at the same deadline";
    }
    EXPECT_GE(clock.now(), clock.start() + c.duration) << "the pause ended early";
    // One read for the deadline, one before the first sleep and one after each wake-up.
    EXPECT_LE(reads, static_cast<int>(c.expectedSleeps) + 2) << "the clock was polled";
}

INSTANTIATE_TEST_SUITE_P(Pauses, BlockingPause,
                         testing::Values(PauseCase{"StatusCheck", 200ms, {}, 1},
                                         PauseCase{"AddressMove", 400ms, {}, 1},
                                         PauseCase{"TwoEarlyWakeUps", 200ms, {50ms, 199ms}, 3},
                                         PauseCase{"Nothing", 0ms, {}, 0}),
                         [](const testing::TestParamInfo<PauseCase>& info) { return info.param.name; });

} // namespace
} // namespace ktq::test
