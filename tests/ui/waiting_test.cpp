// The windows while a driver call is out: pauses, closes and hung calls.
#include "harness.h"

#include "bus/busthread.h"
#include "bus/driverbases.h"
#include "bus/gpibconstants.h"
#include "bus/steps/steps.h"
#include "ui/config/frmconfig.h"
#include "ui/config/pause.h"
#include "ui/dialogs/busycursor.h"
#include "ui/dialogs/leaving.h"
#include "ui/main/frmmain.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <qpa/qwindowsysteminterface.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace ktq::test {
namespace {

using Async = QWindowSystemInterface::AsynchronousDelivery;

/// Stands in for the simulated bus's time per transfer: the transfer after holdNext() stops on
/// the thread that makes it until release(), while `whileHeld` runs on the window's thread. Made
/// on the window's thread.
class TransferGate final : public sim::Sleeper {
public:
    TransferGate() {
        m_start.setSingleShot(true);
        m_start.setInterval(0);
        QObject::connect(&m_start, &QTimer::timeout, &m_start, [this] {
            std::function<void()> whileHeld;
            {
                const std::lock_guard guard(m_lock);
                whileHeld = std::exchange(m_whileHeld, nullptr);
            }
            whileHeld();
        });
    }
    void holdNext(std::function<void()> whileHeld) {
        const std::lock_guard guard(m_lock);
        m_whileHeld = std::move(whileHeld);
        m_holding = true;
        m_released = false;
    }
    void release() {
        const std::lock_guard guard(m_lock);
        m_released = true;
        m_wake.notify_all();
    }
    void sleep(std::chrono::milliseconds) override {
        std::unique_lock guard(m_lock);
        callers.insert(std::this_thread::get_id());
        if (std::exchange(m_holding, false)) {
            // Started by name: nothing of the test's is built or freed on the transfer's thread.
            QMetaObject::invokeMethod(&m_start, "start", Qt::QueuedConnection);
            m_wake.wait(guard, [this] { return m_released; });
        }
    }
    std::set<std::thread::id> callers; // read once the bus is idle

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::function<void()> m_whileHeld;
    bool m_holding = false;
    bool m_released = false;
    QTimer m_start; // runs `whileHeld` on the window's thread
};

/// Passes every call on, the calls it names after a transfer's time on the gate: like a driver
/// that takes its time over them, or an adapter that stops answering.
class HeldCalls final : public bus::ForwardingDriver {
public:
    HeldCalls(bus::GpibDriver& driver, TransferGate& gate, std::set<std::string_view> held)
        : ForwardingDriver(driver), m_gate(gate), m_held(std::move(held)) {}

private:
    void beforeCall(const char* name) override {
        if (m_held.count(name) != 0)
            m_gate.sleep(std::chrono::milliseconds(1));
    }
    TransferGate& m_gate;
    std::set<std::string_view> m_held;
};

/// The time by which the bus thread judges a call, moved on only by the test; what falls due
/// is woken at once.
class FakeCallClock final : public bus::CallClock {
public:
    TimePoint now() override { return m_now; }
    void wakeAt(TimePoint at, std::function<void()> due) override {
        m_at = at;
        m_due = std::move(due);
    }
    void cancel() override { m_due = nullptr; }
    void advance(std::chrono::milliseconds by) {
        m_now += by;
        if (m_due && m_now >= m_at) {
            std::exchange(m_due, nullptr)();
        }
    }

private:
    TimePoint m_now{};
    TimePoint m_at{};
    std::function<void()> m_due;
};

/// Records what ending the program would say, and lets the held call go so that the test can
/// unwind instead.
class RecordedEnd final : public bus::ProgramEnd {
public:
    explicit RecordedEnd(TransferGate& gate) : m_gate(gate) {}
    void endNow(const std::string& why) override {
        said.push_back(why);
        m_gate.release();
    }
    std::vector<std::string> said;

private:
    TransferGate& m_gate;
};

/// Lets the gate go after a few real seconds if nothing else has: a program that does not end
/// fails the test instead of hanging it. A passing test never waits for it.
class FailSafe {
public:
    explicit FailSafe(TransferGate& gate) {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [&gate] { gate.release(); });
        m_timer.start(std::chrono::seconds(5));
    }

private:
    QTimer m_timer;
};

/// A unit at address 5 configured through a shown window whose driver calls run on the bus
/// thread, as in the program, on the board or through an adapter; the pauses are still the
/// bench's, which take no time. A 7174's address is set at once.
struct ThreadedRun {
    explicit ThreadedRun(const QString& model = QStringLiteral("7174"), const AdapterSide* side = nullptr)
        : owned(side != nullptr ? std::make_unique<Bench>(*side) : std::make_unique<Bench>()), bench(*owned) {
        bench.sim.addUnit(5, model.toStdString());
        bench.sim.setTiming(sim::Timing{std::chrono::milliseconds(1), false});
        bench.sim.setSleeper(&gate);
        bench.state.ModelText = model;
        bench.state.ModelNumber = static_cast<std::int16_t>(model.left(4).toInt());
        if (side != nullptr) {
            EXPECT_TRUE(bench.bringUp()); // the adapter set up as the main window leaves it
        }
        gpib.GpibTmo(0, static_cast<std::int16_t>(bus::ni::T3s)); // as the bring-up leaves it
        window->show();
        window->openRun();
        bus::finishSteps();
        if (model == QStringLiteral("7174"))
            press("cmdSet"); // the address found, 5
    }
    // Presses the button and lets the step it starts run to its end.
    void press(const char* button) {
        control<QPushButton>(*window, button)->click();
        bus::finishSteps();
    }
    void enter(const QString& value) {
        control<QLineEdit>(*window, "txtChoice")->setText(value);
        press("cmdEnter");
    }
    // Lets the input queued meanwhile, and what it starts, be handled.
    static void settle() {
        for (int pass = 0; pass < 3; ++pass) {
            QCoreApplication::processEvents();
            bus::finishSteps();
        }
    }
    std::vector<std::string> sentSince(std::size_t from) const {
        std::vector<std::string> out;
        for (const std::string& line : bench.calls(from)) {
            if (line.find('(') != std::string::npos) { // driver calls, not notes
                out.push_back(line);
            }
        }
        return out;
    }

    std::unique_ptr<Bench> owned;
    Bench& bench;
    TransferGate gate;
    FakeCallClock clock;
    RecordedEnd end{gate};
    ui::BusyCursor busy{std::chrono::milliseconds(0)};
    ui::LeavingWhileOverdue leaving;
    bus::BusThread busThread{&busy, bus::HangWatch{&clock, &end, std::chrono::seconds(5), &leaving}};
    // Through an adapter the bench's transfers take no time of their own: each driver call does.
    std::unique_ptr<HeldCalls> gated =
        bench.adapter
            ? std::make_unique<HeldCalls>(*bench.driver, gate, std::set<std::string_view>{"Send", "SendCmds"})
            : nullptr;
    bus::Gpib32 gpib{gated ? *gated : *bench.driver, busThread};
    bus::DriverBus messages{gpib};
    std::unique_ptr<ui::frmConfig> window = std::make_unique<ui::frmConfig>(bench.session(messages));
};

// Queues input the way the window system does, behind whatever the program is doing.
void postKey(QWindow* window, Qt::Key key, const QString& text = {}) {
    QWindowSystemInterface::handleKeyEvent<Async>(window, QEvent::KeyPress, key, Qt::NoModifier, text);
    QWindowSystemInterface::handleKeyEvent<Async>(window, QEvent::KeyRelease, key, Qt::NoModifier, text);
}

void postClick(QWidget& target) {
    const QPointF local = target.mapTo(target.window(), target.rect().center());
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QWindowSystemInterface::handleMouseEvent<Async>(
            target.window()->windowHandle(), local, target.mapToGlobal(target.rect().center()),
            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::LeftButton, type);
    }
}

// Presses `button` as a screen reader or switch control does, through its accessible action,
// and waits for the click that follows: Qt animates the press and clicks 100 ms later.
void accessiblePress(QAbstractButton& button) {
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QAccessible::queryAccessibleInterface(&button)->actionInterface()->doAction(
        QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(clicked.wait(5000)) << button.objectName().toStdString();
}

// While the unit is slow to take the ESR enable bits, the operator presses Return again, clicks
// Done and the window's close button. The step runs to its end with the busy cursor shown; then
// the Return advances once, and Done and the close leave the window (asking first).
TEST(Waiting, InputDuringAStepWaitsForItsEndAndIsHandledOnce) {
    ThreadedRun run;
    run.enter(QString()); // keep the address
    auto* gpibErr = control<ui::MessageLine>(*run.window, "txtGPIBErr");
    const std::size_t start = run.bench.sim.trace().size();
    std::size_t sentWhileHeld = 99;
    bool warnedWhileHeld = true;
    bool busyWhileHeld = false;
    run.gate.holdNext([&] {
        postKey(run.window->windowHandle(), Qt::Key_Return);
        postClick(*control<QPushButton>(*run.window, "cmdDone"));
        QWindowSystemInterface::handleCloseEvent<Async>(run.window->windowHandle());
        QTimer::singleShot(0, [&] { // a full pass of the loop later
            sentWhileHeld = run.sentSince(start).size();
            warnedWhileHeld = gpibErr->isVisible() || !run.window->isVisible();
            busyWhileHeld = QApplication::overrideCursor() != nullptr &&
                            QApplication::overrideCursor()->shape() == Qt::BusyCursor;
            run.gate.release();
        });
    });
    run.enter(QStringLiteral("32"));

    EXPECT_EQ(sentWhileHeld, 0u);
    EXPECT_FALSE(warnedWhileHeld) << "the click or the close was acted on inside the step";
    EXPECT_TRUE(busyWhileHeld);
    const std::vector<std::string> stepOne = {"> *ESE 32", "pause 200", "> *ESR?",
                                              "< 0\\n",    "> *ESE?",   "< 32\\n"};
    EXPECT_EQ(run.bench.wire(start), stepOne) << "input reached the window inside the step";

    run.settle();
    std::vector<std::string> both = stepOne;
    both.insert(both.end(), {"> *SRE?", "< 0\\n", "beep"});
    EXPECT_EQ(run.bench.wire(start), both) << "the Return typed ahead was not handled exactly once";
    EXPECT_FALSE(run.window->isVisible()) << "Done and the close did not both act";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor stayed";
    EXPECT_EQ(run.gate.callers.size(), 1u) << "driver calls came from more than one thread";
    EXPECT_EQ(run.gate.callers.count(std::this_thread::get_id()), 0u);
}

// The operator types ahead, faster than the unit answers, a value and Return, Return to go on,
// and the next value and Return: the window system hands them over in one go, and still each
// key reaches the window only once the step before it has ended.
TEST(Waiting, ValuesTypedAheadGoToTheirOwnFunctions) {
    ThreadedRun run;
    run.enter(QString()); // keep the address
    const std::size_t start = run.bench.sim.trace().size();
    for (const QChar key : QStringLiteral("16\r\r32\r")) {
        key == QLatin1Char('\r') ? postKey(run.window->windowHandle(), Qt::Key_Return)
                                 : postKey(run.window->windowHandle(), Qt::Key(key.unicode()), key);
    }
    run.settle();
    const std::vector<std::string> wire = run.bench.wire(start);
    const std::vector<std::string> expected = {"> *ESE 16", "pause 200", "> *ESR?", "< 0\\n",    "> *ESE?",
                                               "< 16\\n",   "> *SRE?",   "< 0\\n",  "> *SRE 32", "pause 200",
                                               "> *ESR?",   "< 0\\n",    "> *SRE?", "< 32\\n"};
    ASSERT_GE(wire.size(), expected.size()) << testing::PrintToString(wire);
    EXPECT_EQ(std::vector<std::string>(wire.begin(), wire.begin() + expected.size()), expected);
}

// A press through the accessibility interface while a step is under way (Set Address with a
// power-cycle model's trigger, or a setting with its pause) waits for the step and then acts as
// the same press after it: the same on the wire, the same boxes, on the board and on an adapter.
TEST(Waiting, AnAccessiblePressDuringAStepActsAfterIt) {
    const struct {
        const char* model; // a 7134A sets its address with a trigger; a 7174's is set
        const AdapterSide* side;
        const char* pressed;
    } cases[] = {{"7134A", nullptr, "cmdEnter"},
                 {"7134A", &adapterSides().front(), "cmdEnter"},
                 {"7174", nullptr, "cmdEnter"},
                 {"7174", nullptr, "cmdDone"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + (c.side ? " adapter " : " board ") + c.pressed);
        std::pair<std::vector<std::string>, std::size_t> seen[2]; // the wire and the boxes shown
        for (const bool during : {true, false}) {
            ThreadedRun run(QString::fromLatin1(c.model), c.side);
            auto* pressed = control<QPushButton>(*run.window, c.pressed);
            const bool setsAddress = c.model != std::string("7174");
            if (!setsAddress)
                run.enter(QString()); // keep the address
            const std::size_t start = run.bench.sim.trace().size();
            const FailSafe failSafe(run.gate); // a press acted on inside the step waits behind it
            if (during)
                run.gate.holdNext([&] { accessiblePress(*pressed), run.gate.release(); });
            setsAddress ? run.press("cmdSet") : run.enter(QStringLiteral("32"));
            if (!during)
                accessiblePress(*pressed);
            run.settle();
            // Through an adapter, the bench's trace holds no bus traffic: its dialogue does.
            seen[during] = {run.bench.adapter ? run.bench.adapter->dialogue() : run.bench.wire(start),
                            run.bench.interaction.boxes.size() + run.bench.interaction.modals.size()};
        }
        EXPECT_EQ(seen[true], seen[false]);
        EXPECT_GT(seen[true].first.size(), 2u);
    }
}

// The program asked to quit (the desktop session ends) while a call is out. A call short of
// overdue finishes on the bus thread; an overdue one is not waited for. Either way the step
// unwinds without sending anything more, and so does the next one.
TEST(Waiting, QuittingWhileACallIsOutSendsNothingMore) {
    using namespace std::chrono_literals;
    for (const bool overdue : {false, true}) {
        SCOPED_TRACE(overdue ? "overdue" : "not yet overdue");
        {
            ThreadedRun run;
            run.enter(QString()); // keep the address
            const std::size_t start = run.bench.sim.trace().size();
            run.gate.holdNext([&] {
                if (overdue) {
                    run.clock.advance(9s); // judged overdue a pass of the loop later
                    return QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
                }
                QCoreApplication::exit(0);
                run.gate.release();
            });
            const FailSafe failSafe(run.gate);
            run.enter(QStringLiteral("16"));
            run.enter(QStringLiteral("1"));
            EXPECT_EQ(run.sentSince(start), std::vector<std::string>{"Send(0, 5, \"*ESE 16\", 7, NLend)"});
            EXPECT_EQ(run.end.said,
                      overdue ? std::vector<std::string>{"ktqconfig: GPIB driver: Send did not "
                                                         "return after 9 s; ending without waiting for it"}
                              : std::vector<std::string>{});
            // A call that finished failed, as abandoned.
            EXPECT_TRUE(overdue || (run.gpib.status().failed() && run.gpib.iberr() == bus::ni::EABO));
        }
        // A finished exec() lets the next test's loops run again.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
}

// A driver call that never returns. Once it has been out longer than the 3 s timeout the
// program set plus the 5 s grace, each way the operator closes the configuration window ends the
// program at once (here: is recorded), naming the call, and nothing more goes out, not even
// after the call comes back. The close may have been asked for before the call was overdue.
TEST(Waiting, ClosingOnceACallIsOverdueEndsTheProgramNamingTheCall) {
    using namespace std::chrono_literals;
    struct Way {
        const char* name;
        std::function<void(ThreadedRun&)> ask;
    };
    const Way ways[] = {
        {"close button",
         [](ThreadedRun& run) {
             QWindowSystemInterface::handleCloseEvent<Async>(run.window->windowHandle());
         }},
        {"Done clicked", [](ThreadedRun& run) { postClick(*control<QPushButton>(*run.window, "cmdDone")); }},
        {"Return on Done",
         [](ThreadedRun& run) {
             control<QPushButton>(*run.window, "cmdDone")->setFocus();
             postKey(run.window->windowHandle(), Qt::Key_Return);
         }},
        {"Escape", [](ThreadedRun& run) { postKey(run.window->windowHandle(), Qt::Key_Escape); }},
        {"Done pressed through the accessibility interface",
         [](ThreadedRun& run) { accessiblePress(*control<QPushButton>(*run.window, "cmdDone")); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        ThreadedRun run;
        run.enter(QString()); // keep the address
        const std::size_t start = run.bench.sim.trace().size();
        std::size_t endedBeforeDue = 99;
        run.gate.holdNext([&] {
            way.ask(run);
            run.clock.advance(8s - 1ms);
            QTimer::singleShot(0, [&] { // a full pass of the loop later, the call not yet overdue
                endedBeforeDue = run.end.said.size();
                run.clock.advance(1ms);
            });
        });
        const FailSafe failSafe(run.gate);
        run.enter(QStringLiteral("32"));
        run.settle();

        EXPECT_EQ(endedBeforeDue, 0u);
        EXPECT_EQ(
            run.end.said,
            std::vector<std::string>{
                "ktqconfig: GPIB driver: Send did not return after 8 s; ending without waiting for it"});
        EXPECT_EQ(run.sentSince(start), std::vector<std::string>{"Send(0, 5, \"*ESE 32\", 7, NLend)"});
        EXPECT_TRUE(run.window->isVisible()) << "the request to close was acted on besides";
    }
}

// Short of the timeout and the grace, a close still waits for the step and then leaves the way
// Done does (asking first); and a call that returns late, with no close asked for, lets the step
// and the operator go on as if it had been quick.
TEST(Waiting, ACallBackBeforeTheCloseIsDueOrUnaskedGoesOnAsEver) {
    using namespace std::chrono_literals;
    const std::vector<std::string> stepOne = {"> *ESE 32", "pause 200", "> *ESR?",
                                              "< 0\\n",    "> *ESE?",   "< 32\\n"};
    struct Case {
        const char* name;
        std::chrono::milliseconds out;
        bool close;
        std::vector<std::string> afterwards;
    };
    const Case cases[] = {
        {"closed 1 ms before due", 8s - 1ms, true, {"beep"}},
        {"back late, no close", 60s, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ThreadedRun run;
        run.enter(QString()); // keep the address
        const std::size_t start = run.bench.sim.trace().size();
        run.gate.holdNext([&] {
            if (c.close) {
                QWindowSystemInterface::handleCloseEvent<Async>(run.window->windowHandle());
            }
            run.clock.advance(c.out);
            QTimer::singleShot(0, [&] { run.gate.release(); });
        });
        run.enter(QStringLiteral("32"));
        run.settle();
        std::vector<std::string> expected = stepOne;
        expected.insert(expected.end(), c.afterwards.begin(), c.afterwards.end());
        EXPECT_EQ(run.bench.wire(start), expected);
        EXPECT_TRUE(run.end.said.empty());
        run.enter(QString()); // the next function goes out as ever
        EXPECT_EQ(run.bench.wire(start).size(), expected.size() + 2);
    }
}

// The bring-up's Interface Clear never returns and the operator presses Exit. Before the program
// has set its own timeout the call is given the driver's usual 10 s and the grace: Exit acts only
// then, ends the program naming the call, and the rest of the bring-up is not sent.
TEST(Waiting, ExitDuringAHungBringUpEndsTheProgramOnceTheCallIsOverdue) {
    using namespace std::chrono_literals;
    Bench bench;
    TransferGate gate;
    HeldCalls driver(*bench.driver, gate, {"SendIFC"}); // an adapter that stopped answering
    FakeCallClock clock;
    RecordedEnd end{gate};
    ui::LeavingWhileOverdue leaving;
    bus::BusThread busThread{nullptr, bus::HangWatch{&clock, &end, 5s, &leaving}};
    bus::Gpib32 gpib{driver, busThread};
    bus::DriverBus messages{gpib};
    ui::frmMain window(bench.session(messages));
    window.show();
    auto* list = control<QListWidget>(window, "listUnit");
    list->setCurrentItem(list->findItems(QStringLiteral("7121"), Qt::MatchExactly).front());

    std::size_t endedBeforeDue = 99;
    gate.holdNext([&] {
        postClick(*control<QPushButton>(window, "cmdExit"));
        clock.advance(15s - 1ms);
        QTimer::singleShot(0, [&] {
            endedBeforeDue = end.said.size();
            clock.advance(1ms);
        });
    });
    const FailSafe failSafe(gate);
    control<QPushButton>(window, "cmdConfig")->click();
    bus::finishSteps();
    QCoreApplication::processEvents();

    EXPECT_EQ(endedBeforeDue, 0u);
    EXPECT_EQ(end.said, std::vector<std::string>{"ktqconfig: GPIB driver: SendIFC did not return after 15 s; "
                                                 "ending without waiting for it"});
    std::vector<std::string> calls = bench.calls();
    for (std::string& line : calls)
        line.erase(line.find('('));
    EXPECT_EQ(calls, (std::vector<std::string>{"ibfind", "ibask", "SendIFC"}));
    EXPECT_TRUE(bench.interaction.modals.empty());
}

// The status kept after a call is the one the driver left for the thread that made it, whatever
// the window's own thread last saw (here always the opposite outcome).
TEST(Waiting, StatusAfterACallIsThatCallsStatus) {
    Bench bench;
    bench.sim.addUnit(5, "7174");
    bus::BusThread busThread;
    bus::Gpib32 threaded(*bench.driver, busThread);
    QString text = QStringLiteral("*ESE?");
    for (const int iberr : {bus::ni::ENOL, 0, bus::ni::EARG}) {
        bench.sim.failNext(iberr != 0 ? "Send" : "SendIFC", iberr != 0 ? iberr : bus::ni::EBUS);
        bench.gpib.GpibSendIFC(0); // on the window's thread
        threaded.GpibSend(0, 5, text, static_cast<std::int16_t>(bus::ni::NLend));
        EXPECT_EQ(threaded.status().failed(), iberr != 0);
        EXPECT_EQ(threaded.iberr(), iberr);
        EXPECT_EQ(threaded.ibcntl(), iberr != 0 ? 0 : 6);
    }
}

// A program that quits without reaching the bus has no thread to wait for at its end.
TEST(Waiting, TheBusThreadStartsWithTheFirstCall) {
#ifndef __linux__
    GTEST_SKIP() << "threads are counted from Linux's /proc/self/task";
#endif
    const auto threads = [] {
        return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
    };
    const auto before = threads();
    bus::BusThread busThread;
    EXPECT_EQ(threads(), before);
    const std::function<void()> body = [] {};
    ASSERT_TRUE(busThread.run(bus::BusCall{"ibwrt", std::chrono::seconds(3), &body}));
    EXPECT_EQ(threads(), before + 1);
}

// The program's own pause, the one wait here in real time (a few ms): timers go on during it, a
// key pressed meanwhile reaches its box only afterwards, and a timer that fires before the clock
// says the pause is over (as Windows' does) makes it wait out the rest, announced as one wait.
TEST(Waiting, APauseKeepsTheLoopRunningAndLeavesKeysForAfterIt) {
    struct Observer final : bus::WaitObserver {
        int started = 0;
        int ended = 0;
        void waitStarted() override { ++started; }
        void waitEnded() override { ++ended; }
    } observer;
    using namespace std::chrono_literals;
    const auto start = std::chrono::steady_clock::now();
    // Read once for the deadline, once before each wait and once after it.
    const std::vector<std::chrono::steady_clock::time_point> readings{start, start, start + 1200us,
                                                                      start + 2ms};
    std::size_t reads = 0;
    const auto clock = [&] { return readings.at(std::min(reads++, readings.size() - 1)); };

    QLineEdit box;
    box.show();
    box.setFocus();
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    postKey(box.windowHandle(), Qt::Key_A, QStringLiteral("a"));
    ui::EventLoopPauser(&observer, clock).pause(2ms);
    EXPECT_EQ(reads, readings.size());
    EXPECT_EQ(observer.started, 1);
    EXPECT_EQ(observer.ended, 1);
    EXPECT_TRUE(timerRan);
    EXPECT_EQ(box.text(), QString());
    QCoreApplication::processEvents();
    EXPECT_EQ(box.text(), QStringLiteral("a"));
}

// A step that waits (for a pause, for a driver call) hands the thread back to the loop it was
// started from, which runs no deeper meanwhile; a key typed then reaches its box only after the
// step, and the step goes on where it stood.
TEST(Waiting, AStepsWaitRunsNoLoopOfItsOwn) {
    using namespace std::chrono_literals;
    std::function<void()> whileWaiting;
    const std::function<void()> driverCall = [&] {
        TransferGate gate; // made on this thread: the call, on the bus thread, waits for it
        gate.holdNext([&] { whileWaiting(), gate.release(); });
        bus::BusThread busThread;
        const std::function<void()> body = [&] { gate.sleep(1ms); };
        busThread.run(bus::BusCall{"ibwrt", 3s, &body});
    };
    const std::function<void()> pause = [&] {
        QTimer::singleShot(0, [&] { whileWaiting(); });
        const auto start = std::chrono::steady_clock::now();
        int reads = 0; // the deadline, before the wait, after it
        ui::EventLoopPauser(nullptr, [&] { return start + (reads++ < 2 ? 0ms : 1ms); }).pause(1ms);
    };
    for (const auto& [name, wait] : {std::pair{"driver call", driverCall}, std::pair{"pause", pause}}) {
        SCOPED_TRACE(name);
        QLineEdit box;
        box.show();
        box.setFocus();
        int levelWhileWaiting = -1;
        QString textWhileWaiting = QStringLiteral("?");
        QString textAtEnd = QStringLiteral("?");
        whileWaiting = [&] {
            levelWhileWaiting = QThread::currentThread()->loopLevel();
            textWhileWaiting = box.text();
        };
        bool ended = false;
        bus::startStep([&] {
            wait();
            textAtEnd = box.text();
            ended = true;
        });
        EXPECT_FALSE(ended) << "the step did not go back to the loop";
        postKey(box.windowHandle(), Qt::Key_A, QStringLiteral("a"));
        bus::finishSteps(); // the one loop, one deep
        EXPECT_TRUE(ended);
        EXPECT_EQ(levelWhileWaiting, 1);
        EXPECT_EQ(textWhileWaiting, QString());
        EXPECT_EQ(textAtEnd, QString());
        QCoreApplication::processEvents();
        EXPECT_EQ(box.text(), QStringLiteral("a"));
    }
}

// A step started by a step (the main window's Configure opening the configuration run) is part of
// it: where it waits, the step that started it waits too, and goes on only after it.
TEST(Waiting, AStepStartedInsideAStepIsPartOfIt) {
    std::vector<std::string> order;
    bus::startStep([&] {
        order.push_back("outer");
        bus::startStep([&] {
            bus::StepWait wait;
            QTimer::singleShot(0, &wait, &bus::StepWait::end);
            EXPECT_TRUE(wait.wait());
            order.push_back("inner, after its wait");
        });
        order.push_back("outer, after the inner step");
    });
    bus::finishSteps();
    EXPECT_EQ(order,
              (std::vector<std::string>{"outer", "inner, after its wait", "outer, after the inner step"}));
}

// The program quits while a step waits: the loop lets the step finish before it returns, its
// wait and every later one ending at once as not ended.
TEST(Waiting, AStepWaitingAtTheQuitFinishesFirst) {
    std::vector<bool> waits;
    bool ended = false;
    bus::startStep([&] {
        bus::StepWait first;
        waits.push_back(first.wait());
        bus::StepWait later;
        QTimer::singleShot(0, &later, &bus::StepWait::end);
        waits.push_back(later.wait());
        ended = true;
    });
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    bus::finishSteps();
    EXPECT_TRUE(ended);
    EXPECT_EQ(waits, (std::vector<bool>{false, false}));
    EXPECT_FALSE(bus::stepUnderWay());
    // A finished exec() lets the next test's loops run again.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

} // namespace
} // namespace ktq::test
