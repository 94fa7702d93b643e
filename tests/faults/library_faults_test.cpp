// The emulated board fails its ioctls beneath the real linux-gpib library with the errors a kernel
// driver gives: a transfer that fails once (EIO, ETIMEDOUT, EINTR), the adapter unplugged (ENODEV
// from then on), and command transfers nobody takes because the units on the bus are switched off
// (a USB adapter's driver finds no device on the bus: ENOTCONN; a board whose handshake never
// completes: ETIMEDOUT). Each step of the program meets each: it neither crashes nor hangs, its
// report carries the codes the library made of the error, the status line says what to check, and
// nothing is sent once the board has gone.
#include "faultrun.h"

#include "bus/errorreport.h"
#include "bus/gpibconstants.h"
#include "sim/board/boardfaults.h"
#include "sim/board/gpibioctl.h"
#include "ui/dialogs/statusline.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <optional>
#include <regex>

namespace ktq::test {
namespace {

using sim::board::BoardFaults;
namespace ni = bus::ni;

enum class Kind { Once, Unplugged, UnitsOff };

struct KernelFault {
    const char* name;
    Kind kind;
    int error;
};

void PrintTo(const KernelFault& fault, std::ostream* os) {
    *os << fault.name;
}

const KernelFault kernelFaults[] = {
    {"EIO", Kind::Once, EIO},
    {"ETIMEDOUT", Kind::Once, ETIMEDOUT},
    {"EINTR", Kind::Once, EINTR},
    {"Unplugged", Kind::Unplugged, ENODEV},
    {"UnitsOffEmptyBus", Kind::UnitsOff, ENOTCONN},
    {"UnitsOffHandshake", Kind::UnitsOff, ETIMEDOUT},
};

// What linux-gpib's library makes of a failed ioctl (lib/ibCmd.c, ibWrt.c, ibRd.c): the command
// transfer, the write and the read know a few errors; everything else is EDVR with the errno in
// the count.
struct LibraryCode {
    int iberr;
    std::optional<long> count; // where the library leaves the errno in the count
    bool timeout;              // TIMO beside ERR
};

LibraryCode libraryCode(unsigned long request, int error) {
    using namespace sim::board;
    const bool transfer = request == IBCMD || request == IBWRT || request == IBRD;
    if (request == IBCMD && error == ETIMEDOUT)
        return {ni::EBUS, {}, true};
    if (request == IBCMD && error == ENOTCONN)
        return {ni::ENOL, {}, false};
    if ((request == IBWRT || request == IBRD) && error == ETIMEDOUT)
        return {ni::EABO, {}, true};
    if (transfer && error == EINTR)
        return {ni::EABO, {}, false};
    // Send and Receive count what they moved after the errno was left there.
    return {ni::EDVR, transfer ? std::nullopt : std::optional<long>(error), false};
}

// One configuration run, or a Configure on the main window.
struct StepRun {
    FaultRun run;
    std::unique_ptr<MainRun> main;

    const QWidget& window() const {
        return main ? static_cast<const QWidget&>(main->window) : static_cast<const QWidget&>(*run.window);
    }
    ui::MessageLine* report() const { return control<ui::MessageLine>(window(), "txtGPIBErr"); }
    QString guidance() const { return control<ui::StatusLine>(window(), "statusLine")->text(); }
};

struct ProgramStep {
    const char* name;
    const char* model;
    unsigned long request; // the ioctl of the step's own driver call
    int nth;               // which of the request's calls within the action
    const char* function;  // that driver call
    bool commands;         // the action sends bus commands
    // The report after a fault of the step's own call alone, after the board went at that call,
    // and with the units switched off; nullptr for none.
    const char* reportOnce;
    const char* reportGone;
    const char* reportUnitsOff;
    bool reportsOnlySystemErrors;
    std::function<void(StepRun&)> reach;
    std::function<void(StepRun&)> act;
    // Operator actions after the board has gone, which must send nothing.
    std::function<void(StepRun&)> again;
};

void PrintTo(const ProgramStep& step, std::ostream* os) {
    *os << step.name;
}

void openWindow(StepRun& s) {
    s.run.open(QString::fromLatin1(s.run.bench.sim.unitAt(5)->model().c_str()));
}

void setAddress(StepRun& s) {
    s.run.setAddress(QStringLiteral("5"));
}

std::vector<ProgramStep> programSteps() {
    using namespace sim::board;
    const auto nothing = [](StepRun&) {};
    const auto atFirstFunction = [](StepRun& s) {
        openWindow(s);
        setAddress(s);
    };
    std::vector<ProgramStep> steps;
    steps.push_back({"BringUp", "7174", IBSIC, 1, "SendIFC", false, "SendIFC error", "SendIFC error", nullptr,
                     false, nothing,
                     [](StepRun& s) {
                         s.main = std::make_unique<MainRun>(s.run.bench.session(), s.run.bench.interaction);
                         s.main->choose(QStringLiteral("7174"));
                         s.main->configure();
                     },
                     nullptr});
    steps.push_back({"Search", "7174", IBCMD, 1, "FindLstn", true, "FindLstn error", "FindLstn error",
                     "FindLstn error", true, nothing, openWindow, nullptr});
    // linux-gpib's DevClear takes back the ERR of a command transfer that failed (DevClearList
    // leaves the library twice, the second time as if all went well): the first query shows it.
    steps.push_back({"SetAddress", "7174", IBCMD, 1, "DevClear", true, nullptr, "DevClear Error",
                     "Receive Error", false, openWindow, setAddress, nullptr});
    steps.push_back({"ShowFunction", "7174", IBRD, 1, "Receive", true, "Receive Error", "Receive Error",
                     "Receive Error", false, atFirstFunction, [](StepRun& s) { s.run.advance(1); },
                     [](StepRun& s) {
                         s.run.enter(QStringLiteral("3"));
                         s.run.advance(1);
                     }});
    steps.push_back({"SetValue", "7174", IBWRT, 1, "Send", true, nullptr, nullptr, nullptr, false,
                     [atFirstFunction](StepRun& s) {
                         atFirstFunction(s);
                         s.run.advance(1);
                     },
                     [](StepRun& s) { s.run.enter(QStringLiteral("7")); },
                     [](StepRun& s) {
                         s.run.enter(QStringLiteral("7"));
                         s.run.advance(1);
                     }});
    steps.push_back({"Save", "7174", IBWRT, 1, "Send", true, "Send SAV Error", "Send SAV Error",
                     "Send SAV Error", false,
                     [atFirstFunction](StepRun& s) {
                         atFirstFunction(s);
                         s.run.advance(3);
                         ASSERT_TRUE(s.run.button("cmdSav")->isEnabled());
                     },
                     [](StepRun& s) { s.run.button("cmdSav")->click(); },
                     [](StepRun& s) {
                         s.run.button("cmdLock")->click();
                         s.run.button("cmdNoSRQ")->click();
                     }});
    // The trigger of the first function's sequence follows the device clear's command transfer.
    steps.push_back({"Trigger", "7185B", IBCMD, 2, "SendCmds", true, nullptr, "Receive Error",
                     "Receive Error", false, openWindow, setAddress, [](StepRun& s) { s.run.advance(1); }});
    return steps;
}

// The driver calls in trace lines, without the notes between them.
bool isDriverCall(const std::string& line) {
    static const std::regex call(
        R"re(^(ibfind|ibask|ibsre|ibtmo|SendIFC|DevClear|FindLstn|Send|Receive|SendCmds)\()re");
    return std::regex_search(line, call);
}

// The status a traced driver call left, as the program's snapshot holds it.
bus::StatusSnapshot tracedStatus(const std::string& line) {
    static const std::regex status(R"re( -> 0x([0-9a-f]+) (-?\d+) (-?\d+)$)re");
    std::smatch m;
    if (!std::regex_search(line, m, status))
        throw std::runtime_error("no status in " + line);
    const long count = std::stol(m[3].str());
    return bus::StatusSnapshot{static_cast<std::int16_t>(std::stoi(m[1].str(), nullptr, 16)),
                               static_cast<std::int16_t>(std::stoi(m[2].str())),
                               static_cast<std::int16_t>(count), static_cast<std::int32_t>(count)};
}

using LibraryCase = std::tuple<ProgramStep, KernelFault>;

class LibraryFaults : public testing::TestWithParam<LibraryCase> {};

TEST_P(LibraryFaults, EachStepReportsTheLibrarysCodesAndSaysWhatToCheck) {
    if (!Bench::onRealLibrary())
        GTEST_SKIP() << "the emulated board is reached through the real linux-gpib library only";
    const auto& [step, fault] = GetParam();
    StepRun s;
    s.run.bench.sim.addUnit(5, step.model);
    s.run.bench.state.ModelText = QString::fromLatin1(step.model);
    s.run.bench.state.ModelNumber =
        static_cast<std::int16_t>(QString::fromLatin1(step.model).left(4).toInt());
    step.reach(s);
    ASSERT_TRUE(s.report()->isHidden()) << "the way to the step is clean";
    s.run.bench.sim.wire().setEventLog(true);
    const std::size_t start = s.run.mark();
    BoardFaults faults;
    std::optional<std::size_t> eventsAtFault;
    faults.onFirstFailure([&s, &eventsAtFault] { eventsAtFault = s.run.bench.sim.wire().events().size(); });
    switch (fault.kind) {
    case Kind::Once:
        faults.fail(step.request, fault.error, step.nth);
        break;
    case Kind::Unplugged:
        faults.unplug(step.request, step.nth);
        break;
    case Kind::UnitsOff:
        faults.fail(sim::board::IBCMD, fault.error, 1, BoardFaults::Span::FromThenOn);
        break;
    }
    step.act(s);
    ASSERT_GT(faults.failures(), 0) << "the fault never came";

    // The trace as it is, each driver call with the status it left.
    const std::vector<std::string> trace = s.run.bench.sim.trace();
    const std::vector<std::string> lines(trace.begin() + static_cast<long>(start), trace.end());
    const auto noted = std::find_if(lines.begin(), lines.end(),
                                    [](const std::string& line) { return line.rfind("board: ", 0) == 0; });
    ASSERT_NE(noted, lines.end());
    std::vector<std::string> callsAfter;
    std::copy_if(noted + 1, lines.end(), std::back_inserter(callsAfter), isDriverCall);
    ASSERT_FALSE(callsAfter.empty());
    if (fault.kind == Kind::Once) {
        EXPECT_EQ(callsAfter.front().rfind(std::string(step.function) + "(", 0), 0u)
            << "the fault hit " << callsAfter.front();
    }

    const LibraryCode code = fault.kind == Kind::Unplugged  ? LibraryCode{ni::EDVR, ENODEV, false}
                             : fault.kind == Kind::UnitsOff ? libraryCode(sim::board::IBCMD, fault.error)
                                                            : libraryCode(step.request, fault.error);
    const char* message = fault.kind == Kind::Once        ? step.reportOnce
                          : fault.kind == Kind::Unplugged ? step.reportGone
                                                          : step.reportUnitsOff;
    const bool reported = message != nullptr && (!step.reportsOnlySystemErrors || code.iberr == ni::EDVR);
    const QString guidance = s.guidance();
    if (reported) {
        // The report is the library's status after the last call the step made, and the code is
        // the one the library makes of the board's errno.
        std::string last;
        for (const std::string& line : lines) {
            if (isDriverCall(line))
                last = line;
        }
        const bus::StatusSnapshot status = tracedStatus(last);
        ASSERT_FALSE(s.report()->isHidden());
        EXPECT_EQ(s.report()->text().toStdString(),
                  bus::gpibErrorReportText(QString::fromLatin1(message), status).toStdString());
        EXPECT_EQ(status.iberr, code.iberr) << last;
        if (code.count) {
            EXPECT_EQ(status.ibcntl, *code.count) << last;
        }
        EXPECT_EQ((status.ibsta & ni::TIMO) != 0, code.timeout) << last;
        EXPECT_FALSE(guidance.isEmpty()) << "nothing said beside the report";
    } else {
        EXPECT_TRUE(s.report()->isHidden()) << s.report()->text().toStdString();
    }
    // The main window's bring-up stops at its first failure whatever the code.
    if (fault.kind == Kind::Unplugged && !s.main) {
        EXPECT_TRUE(guidance.contains(QLatin1String("ENODEV"))) << guidance.toStdString();
        EXPECT_TRUE(guidance.contains(QLatin1String("nothing more is sent"))) << guidance.toStdString();
    } else if (fault.kind == Kind::UnitsOff && reported) {
        EXPECT_TRUE(guidance.contains(QLatin1String("switched on"))) << guidance.toStdString();
    }

    if (std::string(step.name) == "Search") {
        // The search ends as one that found nobody: the outcome box is the one it always was, and
        // what the driver reported is named on the status line.
        ASSERT_EQ(s.run.bench.interaction.boxes.size(), 1u);
        EXPECT_EQ(s.run.bench.interaction.boxes[0].title, QStringLiteral("WARNING - No devices found"));
        EXPECT_EQ(s.run.bench.interaction.boxes[0].text,
                  QStringLiteral("Check bus for an active GPIB device and manually enter its GPIB address or "
                                 "restart this program"));
        if (!reported) {
            EXPECT_TRUE(guidance.contains(bus::gpibErrorName(code.iberr))) << guidance.toStdString();
        }
        if (fault.kind == Kind::UnitsOff) {
            EXPECT_TRUE(guidance.contains(QLatin1String("switched on"))) << guidance.toStdString();
        }
    }

    if (fault.kind == Kind::Unplugged) {
        // The call that met the unplug is the last one: nothing goes out after it, nothing reached
        // the bus, and what the operator does next sends nothing either.
        EXPECT_EQ(callsAfter.size(), 1u) << callsAfter.back();
        ASSERT_TRUE(eventsAtFault.has_value());
        EXPECT_EQ(s.run.bench.sim.wire().events().size(), *eventsAtFault);
        if (step.again) {
            const std::size_t later = s.run.mark();
            step.again(s);
            const auto calls = s.run.bench.calls(later);
            EXPECT_EQ(std::count_if(calls.begin(), calls.end(), isDriverCall), 0);
            EXPECT_TRUE(s.guidance().contains(QLatin1String("ENODEV"))) << s.guidance().toStdString();
        }
    }

    // The operator can leave: Done asks once when nothing was saved, then closes.
    if (!s.main) {
        s.run.button("cmdDone")->click();
        if (s.run.closed.count() == 0) {
            s.run.button("cmdDone")->click();
        }
        EXPECT_EQ(s.run.closed.count(), 1);
    }
}

std::vector<LibraryCase> libraryCases() {
    std::vector<LibraryCase> cases;
    for (const ProgramStep& step : programSteps()) {
        for (const KernelFault& fault : kernelFaults) {
            // Switched-off units show only in command transfers.
            if (fault.kind != Kind::UnitsOff || step.commands) {
                cases.emplace_back(step, fault);
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Board, LibraryFaults, testing::ValuesIn(libraryCases()),
                         [](const testing::TestParamInfo<LibraryCase>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

} // namespace
} // namespace ktq::test
