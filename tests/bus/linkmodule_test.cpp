// The module of the Linux links to "++" adapters: loaded from the first place that has this
// version's, not before an adapter is looked for, and a module that cannot be loaded said once.
#include "bus/adapter/adapterfinder.h"
#include "bus/adapter/linkmodule.h"
#include "bus/driverbases.h"

#include <gtest/gtest.h>

#include <sstream>

namespace ktq::bus {
namespace {

TEST(LinkModule, TheFirstCandidateWithThisVersionsEntryIsLoaded) {
    const std::string module = KTQ_LINK_MODULE_PATH, other = KTQ_FAKE_GPIB_LIB;
    const struct {
        std::vector<std::string> candidates;
        std::string saysWhy; // empty: loaded
    } cases[] = {
        {{"/nowhere/links.so", module}, ""},
        {{"/nowhere/links.so", other},
         "looked for /nowhere/links.so (cannot open shared object file: No such file or directory); " +
             other + " (lacks ktqconfig_link_opener_"},
    };
    for (const auto& c : cases) {
        std::string failure;
        const LinkOpenerFactory factory = openLinkModule(c.candidates, failure);
        EXPECT_EQ(factory != nullptr, c.saysWhy.empty()) << failure;
        EXPECT_NE(failure.find(c.saysWhy), std::string::npos) << failure;
        EXPECT_EQ(failure.find('\n'), std::string::npos);
    }
}

struct Board final : FailingDriver {
    explicit Board(bool opens) : FailingDriver("linux-gpib"), opens(opens) {}
    int ibfind(const char*) override { return opens ? 16 : -1; }
    bool opens;
};

// A board that opens, or a search not yet made, loads nothing; each search that needs the links
// loads them once, and where they are not there says so in one line on the log and the status line.
TEST(LinkModule, IsLoadedOnlyToReachAnAdapterAndAFailureSaysWhy) {
    const struct {
        std::string setting;
        bool boardOpens;
        int loads;
        std::string reason; // empty: the board is used
    } cases[] = {
        {"", true, 0, ""},
        {"", false, 1, "no \"++\" adapter can be looked for: gone"},
        {"/dev/ttyUSB0", true, 1, "/dev/ttyUSB0 (KTQ_GPIB_ADAPTER) cannot be opened: gone"},
        {"lab-gpib", true, 1, "lab-gpib:1234 (KTQ_GPIB_ADAPTER) cannot be opened: gone"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        int loads = 0;
        const auto load = [&loads](std::string& why) { return ++loads, why = "gone", LinkOpenerFactory{}; };
        std::ostringstream log;
        AdapterFinder finder(std::make_unique<Board>(c.boardOpens), makeModuleLinkOpener(load),
                             AdapterSearch{c.setting, true}, log);
        EXPECT_EQ(loads, 0);
        EXPECT_EQ(finder.ibfind("GPIB0") >= 0, c.reason.empty());
        EXPECT_EQ(finder.ibfind("GPIB0") >= 0, c.reason.empty()) << "the next Configure";
        EXPECT_EQ(loads, c.loads);
        const std::string line = c.reason.empty() ? "" : "ktqconfig: GPIB adapter: " + c.reason + "\n";
        EXPECT_EQ(log.str(), line + line);
        EXPECT_EQ(finder.unreachableReason(), c.reason);
    }
}

} // namespace
} // namespace ktq::bus
