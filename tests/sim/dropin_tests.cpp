// The drop-in libgpib.so.0: its exports and its bench from the environment.
#include "simdriver.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ktq::sim::test {
namespace {

// The drop-in library builds its own bench from the environment on its first call, apart from the
// bench of this process.
TEST(DropInLibrary, RunsTheProgramsCallsOnTheEnvironmentBench) {
    const std::string tracePath = ::testing::TempDir() + "ktq_sim_dropin_trace.txt";
    std::remove(tracePath.c_str());
    setenv("GPIB_SIM_BENCH", "7=7174", 1);
    setenv("GPIB_SIM_TRACE", tracePath.c_str(), 1);

    void* library = dlopen(KTQ_SIM_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_EQ(dlsym(library, "ktqsim_Send"), nullptr) << "only linux-gpib's names may be visible";
    for (const char* name : {KTQ_GPIB_CALLS(KTQ_GPIB_NAME)})
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    const Driver driver = Driver::resolve([library](const char* name) { return dlsym(library, name); });
    ASSERT_NE(driver.ThreadIbcntl, nullptr);

    EXPECT_EQ(driver.ibfind("GPIB0"), 16);
    driver.send(7, "SYST:COMM:GPIB:ADDR?");
    EXPECT_EQ(driver.ThreadIbcntl(), 21);
    EXPECT_EQ(driver.receive(7), "7\n");
    EXPECT_EQ(driver.ThreadIbsta(), lg::END | lg::CMPL | lg::CIC | lg::LACS);

    // This process has no bench installed: its own copy of the functions still has none.
    Driver::inProcess().SendIFC(0);
    EXPECT_EQ(Driver::inProcess().ThreadIberr(), lg::ENEB);

    std::ifstream file(tracePath);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "ibfind(\"GPIB0\") -> 0x0130 0 0\n"
                          "Send(0, 7, \"SYST:COMM:GPIB:ADDR?\", 20, NLend) -> 0x2128 0 21\n"
                          "Receive(0, 7, 18, 0) \"7\\n\" -> 0x2124 0 2\n");
    dlclose(library);
    unsetenv("GPIB_SIM_BENCH");
    unsetenv("GPIB_SIM_TRACE");
    std::remove(tracePath.c_str());
}

} // namespace
} // namespace ktq::sim::test
