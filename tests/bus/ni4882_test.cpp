// NI-488.2's 64-bit library, ni4882.dll on Windows and libni4882.so on Linux: its export names and
// argument shapes, and (on Windows) where the program looks for it.
#include "bus/board/driverloader.h"
#include "bus/gpib32.h"
#include "bus/gpibcalls.h"
#include "bus/gpibconstants.h"
#include "bus/sharedlibrary.h"
#include "symboltable.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace ktq::bus {
namespace {

using test::resolverFor;
using test::symbol;

// ni4882.h's status and count type: unsigned long on Windows, unsigned int on Linux.
#ifdef _WIN32
using NiStatus = unsigned long;
#else
using NiStatus = unsigned int;
#endif

// What the stand-ins in NI's shapes last received.
struct NiCalls {
    std::string foundName;
    std::vector<std::array<int, 3>> configs;
    std::vector<std::string> direct;
    std::size_t count = 0;
    int eotMode = -1;
};
NiCalls ni4882;

int niIbfindA(const char* name) {
    ni4882.foundName = name;
    return 4;
}
NiStatus niIbask(int, int, int* value) {
    *value = 0;
    return 0x100;
}
NiStatus niIbconfig(int ud, int option, int v) {
    ni4882.configs.push_back({ud, option, v});
    return 0x100;
}
NiStatus niIbsre(int, int) {
    ni4882.direct.push_back("ibsre");
    return 0x100;
}
NiStatus niIbtmo(int, int) {
    ni4882.direct.push_back("ibtmo");
    return 0x100;
}
NiStatus niIbonl(int, int) {
    ni4882.direct.push_back("ibonl");
    return 0x100;
}
void niBoard(int) {}
void niDevClear(int, std::uint16_t) {}
void niFindLstn(int, const std::uint16_t*, std::uint16_t*, std::size_t) {}
void niSend(int, std::uint16_t, const void*, std::size_t count, int eotMode) {
    ni4882.count = count;
    ni4882.eotMode = eotMode;
}
void niReceive(int, std::uint16_t, void*, std::size_t count, int) {
    ni4882.count = count;
}
void niSendCmds(int, const void*, std::size_t count) {
    ni4882.count = count;
}
NiStatus niStatus() {
    return 0x2100;
}
NiStatus niCount() {
    return 70000; // wider than 16 bits: ibcntl must keep it whole
}

// What NI's header promises on both platforms: no ibfind, ibsre, ibtmo or ThreadIbcntl as
// functions.
std::map<std::string, void*> niLibrary() {
    return {{"ibfindA", symbol(niIbfindA)},    {"ibask", symbol(niIbask)},
            {"ibconfig", symbol(niIbconfig)},  {"SendIFC", symbol(niBoard)},
            {"DevClear", symbol(niDevClear)},  {"FindLstn", symbol(niFindLstn)},
            {"Send", symbol(niSend)},          {"Receive", symbol(niReceive)},
            {"SendCmds", symbol(niSendCmds)},  {"ThreadIbsta", symbol(niStatus)},
            {"ThreadIberr", symbol(niStatus)}, {"ThreadIbcnt", symbol(niCount)}};
}

TEST(Ni4882Library, CallsReachTheExportsNiNamesWithNiNumbers) {
    ni4882 = {};
    std::string missing;
    auto driver = makeResolvedDriver(resolverFor(niLibrary()), niGpibConstants(), missing);
    ASSERT_NE(driver, nullptr) << missing;
    Gpib32 bus(*driver);

    std::int16_t descriptor = 0;
    bus.GpibFind("GPIB0", &descriptor);
    EXPECT_EQ(ni4882.foundName, "GPIB0");
    EXPECT_EQ(descriptor, 4);

    bus.GpibTmo(4, ni::T3s);
    bus.GpibSre(4, 1);
    const std::vector<std::array<int, 3>> configs{{4, 0x3, ni::T3s}, {4, 0xB, 1}};
    EXPECT_EQ(ni4882.configs, configs) << "timeout and service request go through ibconfig";

    QString text = "*RST";
    bus.GpibSend(0, 5, text, ni::NLend);
    EXPECT_EQ(ni4882.eotMode, 1) << "NI's own numbers go unchanged";
    EXPECT_EQ(ni4882.count, 4u);
    EXPECT_EQ(bus.ibcntl(), 70000);
    EXPECT_EQ(bus.ibsta(), 0x2100);
    bus.GpibSend(0, 5, text, ni::DABend);
    EXPECT_EQ(ni4882.eotMode, 2);
    EXPECT_EQ(driver->family(), "NI-488.2") << "the family the advice tells codes apart by";
}

TEST(Ni4882Library, ExportedSettingsCallsAreUsedAndIbconfigIsThenOptional) {
    ni4882 = {};
    auto symbols = niLibrary();
    symbols.erase("ibconfig");
    symbols["ibsre"] = symbol(niIbsre);
    symbols["ibtmo"] = symbol(niIbtmo);
    std::string missing;
    auto driver = makeResolvedDriver(resolverFor(symbols), niGpibConstants(), missing);
    ASSERT_NE(driver, nullptr) << missing;
    driver->ibtmo(0, ni::T3s);
    driver->ibsre(0, 1);
    EXPECT_EQ(ni4882.direct, (std::vector<std::string>{"ibtmo", "ibsre"}));
}

// ibonl only gives a descriptor back: without it the library is still taken, and the call fails.
TEST(Ni4882Library, IbonlIsCalledWhereExportedAndNeverRequired) {
    ni4882 = {};
    auto symbols = niLibrary();
    std::string missing;
    auto without = makeResolvedDriver(resolverFor(symbols), niGpibConstants(), missing);
    ASSERT_NE(without, nullptr) << missing;
    EXPECT_EQ(without->ibonl(4, 0), ni::ERR);
    symbols["ibonl"] = symbol(niIbonl);
    auto with = makeResolvedDriver(resolverFor(symbols), niGpibConstants(), missing);
    ASSERT_NE(with, nullptr) << missing;
    EXPECT_EQ(with->ibonl(4, 0), 0x100);
    EXPECT_EQ(ni4882.direct, std::vector<std::string>{"ibonl"});
}

TEST(Ni4882Library, NamesTheMissingFunction) {
    struct Case {
        std::vector<std::string> removed;
        std::map<std::string, void*> added;
        const char* missing;
    };
    const std::vector<Case> cases{
        // A library offering only the unsuffixed name lacks what NI's library exports.
        {{"ibfindA"}, {{"ibfind", symbol(niIbfindA)}}, "ibfindA"},
        {{"ibconfig"}, {}, "ibconfig"},
        {{"ibconfig"}, {{"ibsre", symbol(niIbsre)}}, "ibconfig"},
        {{"SendCmds"}, {}, "SendCmds"},
        {{"ThreadIbcnt"}, {{"ThreadIbcntl", symbol(niCount)}}, "ThreadIbcnt"},
    };
    for (const Case& c : cases) {
        auto symbols = niLibrary();
        for (const std::string& name : c.removed) {
            symbols.erase(name);
        }
        symbols.insert(c.added.begin(), c.added.end());
        std::string missing;
        EXPECT_EQ(makeResolvedDriver(resolverFor(symbols), niGpibConstants(), missing), nullptr) << c.missing;
        EXPECT_EQ(missing, c.missing);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The bench the simulated library builds on its first call; the same for every test, in case the
// library stays loaded between them.
constexpr const char* simulatedBench = "5=7174;9=7189";

std::unique_ptr<GpibDriver> loadSimulatedLibrary(std::ostringstream& log) {
    const std::array<DriverCandidate, 1> candidates{{{KTQ_SIM_NI4882_LIB, &niGpibConstants()}}};
    return loadFirstDriver(candidates, log);
}

// The simulated library in NI's shapes, loaded from its full path: the whole way from the
// wrappers through the loader to the bench, whose trace shows what the library received.
TEST(Ni4882Library, SimulatedLibraryReceivesNiEndModes) {
    // It offers what NI's header declares and no more, so the loader's fallbacks are what it meets.
    {
        std::string error;
        const auto exports = SharedLibrary::open(KTQ_SIM_NI4882_LIB, error);
        ASSERT_NE(exports, nullptr) << error;
        for (const char* absent : {"ibfind", "ibsre", "ibtmo", "ThreadIbcntl"}) {
            EXPECT_EQ(exports->symbol(absent), nullptr) << absent;
        }
        for (const char* present : {"ibfindA", "ibconfig", "ThreadIbcnt"}) {
            EXPECT_NE(exports->symbol(present), nullptr) << present;
        }
#define KTQ_REQUIRED(result, name, params, optional) {#name, optional},
        const struct {
            const char* name;
            bool optional;
        } calls[] = {KTQ_NI4882_CALLS(KTQ_REQUIRED, unsigned)};
#undef KTQ_REQUIRED
        for (const auto& call : calls) {
            EXPECT_TRUE(call.optional || exports->symbol(call.name) != nullptr) << call.name;
        }
    }

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string tracePath = QDir::toNativeSeparators(folder.filePath("trace.txt")).toStdString();
    qputenv("GPIB_SIM_BENCH", simulatedBench);
    qputenv("GPIB_SIM_TRACE", QByteArray::fromStdString(tracePath));

    std::ostringstream log;
    auto driver = loadSimulatedLibrary(log);
    EXPECT_TRUE(log.str().starts_with("ktqconfig: GPIB driver: loaded ")) << log.str();
    EXPECT_TRUE(log.str().ends_with(" (NI-488.2)\n")) << log.str();
    EXPECT_EQ(driver->family(), "NI-488.2");
    Gpib32 bus(*driver);
    std::int16_t descriptor = -1;
    bus.GpibFind("GPIB0", &descriptor);
    bus.GpibTmo(descriptor, ni::T3s);
    QString query = "SYST:COMM:GPIB:ADDR?";
    bus.GpibSend(0, 5, query, ni::NLend);
    QString reply(18, QLatin1Char(' '));
    bus.GpibReceive(0, 5, reply, ni::STOPend);
    EXPECT_EQ(reply.left(bus.ibcntl()), "5\n");
    bus.GpibOnl(descriptor, 0);
    driver.reset();
    qunsetenv("GPIB_SIM_BENCH");
    qunsetenv("GPIB_SIM_TRACE");

    EXPECT_EQ(readFile(tracePath), "ibfind(\"GPIB0\") -> 0x0130 0 0\n"
                                   "ibtmo(16, 12) -> 0x0130 0 0\n"
                                   "Send(0, 5, \"SYST:COMM:GPIB:ADDR?\", 20, NLend) -> 0x2128 0 21\n"
                                   "Receive(0, 5, 18, 256) \"5\\n\" -> 0x2124 0 2\n"
                                   "ibonl(16, 0) -> 0x0124 0 0\n");
}

// As NI's FindLstn: where no unit listens at a primary address, the listeners behind its secondary
// addresses are reported as their address words (a 7189's channels 1 to 4 at secondaries 11 to 14),
// and the count is the number of words written.
TEST(Ni4882Library, SimulatedLibraryReportsListenersBehindSecondaryAddresses) {
    qputenv("GPIB_SIM_BENCH", simulatedBench);
    std::ostringstream log;
    auto driver = loadSimulatedLibrary(log);
    ASSERT_NE(driver, nullptr);
    Gpib32 bus(*driver);
    std::array<std::int16_t, 31> candidates{};
    for (int k = 0; k < 30; ++k) {
        candidates[k] = static_cast<std::int16_t>(k + 1);
    }
    candidates[30] = -1;
    std::array<std::int16_t, 65> found{};
    found.fill(-2);
    bus.GpibFindLstn(0, candidates, found, 32);
    driver.reset();
    qunsetenv("GPIB_SIM_BENCH");

    EXPECT_GE(bus.ibsta(), 0) << "no error";
    EXPECT_EQ(bus.ibcnt(), 5);
    EXPECT_EQ(std::vector<std::int16_t>(found.begin(), found.begin() + 6),
              (std::vector<std::int16_t>{5, 0x6B09, 0x6C09, 0x6D09, 0x6E09, -2}));
}

#ifdef _WIN32
// A library of the driver's name in the current folder or on PATH is never loaded: only the
// program's folder and the system folder are searched.
TEST(Ni4882Library, PlantedLibraryInTheCurrentFolderIsIgnored) {
    QTemporaryDir planted;
    ASSERT_TRUE(planted.isValid());
    ASSERT_TRUE(QFile::copy(QStringLiteral(KTQ_SIM_NI4882_LIB), planted.filePath("ni4882.dll")));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(planted.path()));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QDir::toNativeSeparators(planted.path()).toLocal8Bit() + ";" + path);

    // The plant works: a bare name would find it.
    HMODULE naive = LoadLibraryW(L"ni4882.dll");
    EXPECT_NE(naive, nullptr) << "the test's planted library is not where a bare name looks";
    if (naive) {
        FreeLibrary(naive);
    }

    std::ostringstream log;
    auto driver = loadSystemDriver(log);
    QDir::setCurrent(previous);
    qputenv("PATH", path);

    const std::string line = log.str();
    EXPECT_TRUE(line.starts_with(
        "ktqconfig: GPIB driver: no usable library, Configure will look for a \"++\" adapter; looked for "))
        << line;
    EXPECT_NE(line.find("\\ni4882.dll ("), std::string::npos) << line;
    EXPECT_EQ(driver->ibfind("GPIB0"), -1);
}
#endif

} // namespace
} // namespace ktq::bus
