// Driver loading: which library is taken, how its calls are found and what is logged.
#include "bus/board/driverloader.h"
#include "bus/errorreport.h"
#include "bus/gpib32.h"
#include "bus/gpibconstants.h"
#include "symboltable.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <algorithm>
#include <array>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace ktq::bus {
namespace {

using test::resolverFor;
using test::symbol;

// What the resolver-built functions last received.
struct LibraryCalls {
    std::string findName;
    int eotMode = -1;
    int termination = -1;
    std::vector<int> released; // ibonl's descriptors
};
LibraryCalls calls;

int libIbfind(const char* name) {
    calls.findName = name;
    return 1;
}
int libIbask(int, int, int*) {
    return 0;
}
int libIntInt(int, int) {
    return 0;
}
int libIbonl(int ud, int) {
    calls.released.push_back(ud);
    return 0x100;
}
void libSendIFC(int) {}
void libDevClear(int, std::uint16_t) {}
void libFindLstn(int, const std::uint16_t*, std::uint16_t*, int) {}
void libSend(int, std::uint16_t, const void*, long, int eotMode) {
    calls.eotMode = eotMode;
}
void libReceive(int, std::uint16_t, void*, long, int termination) {
    calls.termination = termination;
}
void libSendCmds(int, const void*, long) {}
int libStatus() {
    return 0x100;
}
long libCount() {
    return 0;
}

std::map<std::string, void*> completeLibrary() {
    return {{"ibfind", symbol(libIbfind)},      {"ibask", symbol(libIbask)},
            {"ibsre", symbol(libIntInt)},       {"ibtmo", symbol(libIntInt)},
            {"SendIFC", symbol(libSendIFC)},    {"DevClear", symbol(libDevClear)},
            {"FindLstn", symbol(libFindLstn)},  {"Send", symbol(libSend)},
            {"Receive", symbol(libReceive)},    {"SendCmds", symbol(libSendCmds)},
            {"ThreadIbsta", symbol(libStatus)}, {"ThreadIberr", symbol(libStatus)},
            {"ThreadIbcnt", symbol(libStatus)}, {"ThreadIbcntl", symbol(libCount)}};
}

TEST(DriverLoader, TranslatesNiEndModesAndTerminationToTheLibrarys) {
    struct Case {
        const DriverConstants* constants;
        int niValue;
        int libraryEotMode;
        int libraryTermination;
    };
    const std::array<Case, 5> cases{{
        {&linuxGpibConstants(), ni::NLend, 2, ni::NLend},
        {&linuxGpibConstants(), ni::DABend, 1, ni::DABend},
        {&linuxGpibConstants(), ni::NULLend, 0, 0},
        {&linuxGpibConstants(), ni::STOPend, ni::STOPend, 0x100},
        {&linuxGpibConstants(), '\n', '\n', '\n'},
    }};
    for (const Case& c : cases) {
        std::string missing;
        auto driver = makeResolvedDriver(resolverFor(completeLibrary()), *c.constants, missing);
        ASSERT_NE(driver, nullptr) << missing;
        driver->Send(0, 1, "x", 1, c.niValue);
        driver->Receive(0, 1, nullptr, 0, c.niValue);
        EXPECT_EQ(calls.eotMode, c.libraryEotMode) << c.constants->family << " " << c.niValue;
        EXPECT_EQ(calls.termination, c.libraryTermination) << c.constants->family << " " << c.niValue;
    }
}

TEST(DriverLoader, NamesTheFirstMissingFunction) {
    for (const auto& [name, unused] : completeLibrary()) {
        auto symbols = completeLibrary();
        symbols.erase(name);
        std::string missing;
        EXPECT_EQ(makeResolvedDriver(resolverFor(symbols), linuxGpibConstants(), missing), nullptr) << name;
        EXPECT_EQ(missing, name);
    }
}

// Giving a descriptor back is housekeeping: a library without ibonl still drives the bus, and the
// call then reaches nothing and reports ERR.
TEST(DriverLoader, IbonlIsCalledWhereOfferedAndNeverRequired) {
    for (const DriverConstants* constants : {&linuxGpibConstants()}) { // NI's: in the NI library tests
        calls.released.clear();
        auto symbols = completeLibrary();
        std::string missing;
        auto without = makeResolvedDriver(resolverFor(symbols), *constants, missing);
        ASSERT_NE(without, nullptr) << constants->family << " refused for lack of " << missing;
        EXPECT_EQ(without->ibonl(16, 0), ni::ERR);
        EXPECT_TRUE(calls.released.empty());

        symbols["ibonl"] = symbol(libIbonl);
        auto with = makeResolvedDriver(resolverFor(symbols), *constants, missing);
        ASSERT_NE(with, nullptr);
        EXPECT_EQ(with->ibonl(16, 0), 0x100);
        EXPECT_EQ(calls.released, std::vector<int>{16});
    }
}

TEST(DriverLoader, UnavailableDriverFailsEveryStepWithASystemError) {
    auto driver = makeUnavailableDriver();
    EXPECT_EQ(driver->family(), "") << "no library, no family";
    Gpib32 bus(*driver);
    std::int16_t descriptor = 0;
    bus.GpibFind("GPIB0", &descriptor);
    EXPECT_EQ(descriptor, -1);

    QString message = "ibfind error";
    QString errorText;
    GpibErrorReport(message, bus.status(), errorText);
    EXPECT_EQ(errorText.toStdString(),
              "ibfind error,  ibsta = &H8000 <  ERR  >, iberr =  0 EDVR <Op System Error>, ibcnt =  0");

    QString response(18, QLatin1Char(' '));
    bus.GpibReceive(0, 5, response, 0);
    EXPECT_TRUE(bus.status().failed());
    EXPECT_EQ(response, QString(18, QLatin1Char(' ')));
}

#ifndef _WIN32 // linux-gpib's file names and dlopen; ni4882_test.cpp covers Windows
int countLines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(DriverLoader, FirstCompleteLibraryWinsAndOneLineSaysWhich) {
    const std::array<DriverCandidate, 3> candidates{{
        {"libktq-no-such-gpib.so.0", &niGpibConstants()},
        {KTQ_FAKE_GPIB_PARTIAL_LIB, &niGpibConstants()},
        {KTQ_FAKE_GPIB_LIB, &linuxGpibConstants()},
    }};
    std::ostringstream log;
    auto driver = loadFirstDriver(candidates, log);

    EXPECT_EQ(log.str(),
              std::string("ktqconfig: GPIB driver: loaded ") + KTQ_FAKE_GPIB_LIB + " (linux-gpib)\n");
    EXPECT_EQ(driver->family(), "linux-gpib");
    Gpib32 bus(*driver);
    std::int16_t descriptor = 0;
    bus.GpibFind("GPIB0", &descriptor);
    EXPECT_EQ(descriptor, 3);
    EXPECT_FALSE(bus.status().failed());

    // A second handle on the same file shows what the loaded driver passed in.
    void* library = dlopen(KTQ_FAKE_GPIB_LIB, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    const auto lastEotMode = reinterpret_cast<int (*)()>(dlsym(library, "fakeLastEotMode"));
    QString text = "*CLS";
    bus.GpibSend(0, 5, text, ni::NLend);
    EXPECT_EQ(lastEotMode(), 2);
    dlclose(library);

    driver.reset();
    EXPECT_EQ(dlopen(KTQ_FAKE_GPIB_LIB, RTLD_NOW | RTLD_NOLOAD), nullptr) << "library still loaded";
}

TEST(DriverLoader, NoUsableLibraryGivesOneLineWithEachReason) {
    const std::array<DriverCandidate, 2> candidates{{
        {"libktq-no-such-gpib.so.0", &linuxGpibConstants()},
        {KTQ_FAKE_GPIB_PARTIAL_LIB, &linuxGpibConstants()},
    }};
    std::ostringstream log;
    auto driver = loadFirstDriver(candidates, log);

    const std::string line = log.str();
    EXPECT_EQ(countLines(line), 1);
    EXPECT_TRUE(line.starts_with("ktqconfig: GPIB driver: ")) << line;
    EXPECT_NE(line.find("libktq-no-such-gpib.so.0 (cannot open shared object file"), std::string::npos)
        << line;
    EXPECT_NE(line.find(std::string(KTQ_FAKE_GPIB_PARTIAL_LIB) + " (lacks SendCmds)"), std::string::npos)
        << line;
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->ibfind("GPIB0"), -1);
    EXPECT_EQ(driver->ThreadIbsta(), ni::ERR);
}

TEST(DriverLoader, SystemLoaderOnAMachineWithoutGpibLibrary) {
    std::ostringstream log;
    auto driver = loadSystemDriver(log);
    ASSERT_NE(driver, nullptr);
    const std::string line = log.str();
    ASSERT_EQ(countLines(line), 1) << line;
    if (line.starts_with("ktqconfig: GPIB driver: loaded ")) {
        GTEST_SKIP() << "a GPIB library is installed here: " << line;
    }
    for (const char* name : {"libgpib.so.0 (", "libni4882.so ("}) {
        EXPECT_NE(line.find(name), std::string::npos) << name << " not named in: " << line;
    }
    Gpib32 bus(*driver);
    bus.GpibSendIFC(0);
    EXPECT_TRUE(bus.status().failed());
    EXPECT_EQ(bus.iberr(), ni::EDVR);
}
#endif

} // namespace
} // namespace ktq::bus
