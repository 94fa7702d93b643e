// Ending the program while a driver call is stuck in the driver.
#include "bus/busthread.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace ktq::bus {
namespace {

// The process goes at once with its reason on standard error: no exit handler runs (one could
// wait for the stuck thread or free the buffers it writes), and the stuck thread does not hold
// it up.
TEST(ProcessEndDeathTest, EndsAtOnceWithoutExitHandlersOrTheStuckThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atexit([] { std::_Exit(ProcessEnd::exitCode + 2); });
            // Left to the stuck thread for good, as the driver's would be.
            auto* lock = new std::mutex;
            auto* never = new std::condition_variable;
            std::thread([lock, never] {
                std::unique_lock guard(*lock);
                never->wait(guard, [] { return false; });
            }).detach();
            ProcessEnd().endNow("ktqconfig: GPIB driver: Receive did not return after 8 s");
        },
        testing::ExitedWithCode(ProcessEnd::exitCode), "Receive did not return after 8 s");
}

} // namespace
} // namespace ktq::bus
