// Driver libraries that load but are no usable NI-488.2 library: the program falls back to the
// unavailable driver, says why on its log line, and the operator meets "ibfind error".
#include "faultrun.h"

#include "bus/board/driverloader.h"
#include "bus/driverbus.h"
#include "ui/dialogs/statusline.h"

#include <dlfcn.h>
#include <link.h>

#include <gtest/gtest.h>

#include <sstream>

namespace ktq::test {
namespace {

// The full path of a library already known to the dynamic loader by its soname.
std::string fullPathOf(const char* soname) {
    void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return {};
    }
    link_map* map = nullptr;
    std::string path;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
        path = map->l_name;
    }
    dlclose(handle);
    return path;
}

// The main window on a driver the loader returned; the bench only keeps the notes of the
// interaction and pause fakes.
struct LoadedRun {
    explicit LoadedRun(bus::GpibDriver& driver) : gpibDriver(driver), gpib(driver) {}

    bus::GpibDriver& gpibDriver;
    sim::SimBus notes;
    FakeInteraction interaction{notes};
    FakePauser pauser{notes};
    bus::Gpib32 gpib;
    bus::DriverBus messages{gpib};
    ui::SharedState state;
    MainRun main{ui::Session{messages, state, interaction, pauser}, interaction};
};

struct Candidates {
    const char* name;
    std::vector<std::string> files;
    bool ni;                          // loaded as NI-488.2 (ibfindA, ibconfig)
    std::vector<std::string> reasons; // each must show on the log line
};

void PrintTo(const Candidates& c, std::ostream* os) {
    *os << c.name;
}

std::vector<Candidates> candidateLists() {
    const std::string zlib = fullPathOf("libz.so.1");
    const std::string libm = fullPathOf("libm.so.6");
    const std::string half = KTQ_FAULT_HALF_LIB;
    return {
        {"HalfALibrary", {half}, false, {half + " (lacks DevClear)"}},
        {"Zlib", {zlib}, false, {zlib + " (lacks ibfind)"}},
        {"MathLibraryAsNi", {libm}, true, {libm + " (lacks ibfindA)"}},
        {"NoSuchFile", {"/nonexistent/libgpib.so.0"}, false, {"/nonexistent/libgpib.so.0 ("}},
        {"AllOfThem",
         {zlib, libm, half},
         false,
         {zlib + " (lacks ibfind); " + libm + " (lacks ibfind); " + half + " (lacks DevClear)"}},
    };
}

class UnusableLibraries : public testing::TestWithParam<Candidates> {};

TEST_P(UnusableLibraries, FallBackToTheUnavailableDriverAndConfigureSaysIbfindError) {
    const Candidates& c = GetParam();
    for (const std::string& file : c.files) {
        ASSERT_FALSE(file.empty()) << "library not found on this machine";
    }
    std::vector<bus::DriverCandidate> candidates;
    for (const std::string& file : c.files) {
        candidates.push_back({file, c.ni ? &bus::niGpibConstants() : &bus::linuxGpibConstants()});
    }
    std::ostringstream log;
    const std::unique_ptr<bus::GpibDriver> driver = bus::loadFirstDriver(candidates, log);
    ASSERT_NE(driver, nullptr);
    const std::string line = log.str();
    EXPECT_EQ(line.rfind("ktqconfig: GPIB driver: no usable library", 0), 0u) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    for (const std::string& reason : c.reasons) {
        EXPECT_NE(line.find(reason), std::string::npos) << line;
    }

    // The program runs on it: Configure reports the board missing, every time it is pressed.
    LoadedRun run(*driver);
    MainRun& main = run.main;
    main.choose(QStringLiteral("7174"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        main.configure();
        EXPECT_FALSE(main.message()->isHidden());
        EXPECT_EQ(main.message()->text(), expectedReport(QStringLiteral("ibfind error"), 0));
        EXPECT_TRUE(
            control<ui::StatusLine>(main.window, "statusLine")->text().startsWith(u"No GPIB driver library"));
        EXPECT_EQ(main.configRuns(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, UnusableLibraries, testing::ValuesIn(candidateLists()),
                         [](const testing::TestParamInfo<Candidates>& info) { return info.param.name; });

TEST(DriverLibraryFaults, AForeignLibraryBeforeAUsableOneIsPassedOver) {
    const std::vector<bus::DriverCandidate> candidates = {
        {fullPathOf("libz.so.1"), &bus::linuxGpibConstants()},
        {KTQ_SIM_DROPIN_LIB, &bus::linuxGpibConstants()},
    };
    std::ostringstream log;
    const std::unique_ptr<bus::GpibDriver> driver = bus::loadFirstDriver(candidates, log);
    EXPECT_NE(log.str().find("loaded "), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("(linux-gpib)"), std::string::npos) << log.str();
    EXPECT_EQ(driver->family(), "linux-gpib") << "the family the advice tells codes apart by";

    // The drop-in's own bench, built from the environment, has its demo unit.
    qunsetenv("GPIB_SIM_BENCH");
    LoadedRun run(*driver);
    MainRun& main = run.main;
    main.choose(QStringLiteral("7174"));
    QString proposed;
    main.configure(
        [&proposed](QDialog& config) { proposed = control<QLineEdit>(config, "txtAddr")->text(); });
    EXPECT_EQ(main.configRuns(), 1);
    EXPECT_TRUE(main.message()->isHidden());
    EXPECT_EQ(proposed, QStringLiteral(" 5"));
}

} // namespace
} // namespace ktq::test
