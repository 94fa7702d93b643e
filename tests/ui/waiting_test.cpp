#include "harness.h"

#include "bus/busthread.h"
#include "bus/gpibconstants.h"
#include "ui/config/frmconfig.h"
#include "ui/config/pause.h"
#include "ui/dialogs/busycursor.h"

#include <QApplication>
#include <QTimer>
#include <qpa/qwindowsysteminterface.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace ktq::test {
namespace {

using Async = QWindowSystemInterface::AsynchronousDelivery;

/// Stands in for the time the simulated bus takes per transfer: the next transfer after
/// holdNext() stops on the thread that makes it until release(), and `whileHeld` runs on the
/// window's thread meanwhile. Also notes which threads made transfers.
class TransferGate final : public sim::Sleeper {
public:
    void holdNext(std::function<void()> whileHeld) {
        const std::lock_guard guard(m_lock);
        m_whileHeld = std::move(whileHeld);
        m_released = false;
    }
    void release() {
        {
            const std::lock_guard guard(m_lock);
            m_released = true;
        }
        m_wake.notify_all();
    }
    std::set<std::thread::id> callers() {
        const std::lock_guard guard(m_lock);
        return m_callers;
    }
    void sleep(std::chrono::milliseconds) override {
        std::unique_lock guard(m_lock);
        m_callers.insert(std::this_thread::get_id());
        if (m_whileHeld) {
            QMetaObject::invokeMethod(qApp, std::exchange(m_whileHeld, nullptr), Qt::QueuedConnection);
            m_wake.wait(guard, [this] { return m_released; });
        }
    }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::function<void()> m_whileHeld;
    bool m_released = false;
    std::set<std::thread::id> m_callers;
};

/// A configuration window whose driver calls run on the bus thread, as in the program; the
/// pauses are still the bench's, which take no time.
struct ThreadedRun {
    explicit ThreadedRun(const char* model) {
        bench.sim.addUnit(5, model);
        bench.sim.setTiming(sim::Timing{std::chrono::milliseconds(1), false});
        bench.sim.setSleeper(&held);
        bench.state.ModelText = QString::fromLatin1(model);
        bench.state.ModelNumber = static_cast<std::int16_t>(bench.state.ModelText.toInt());
        window->show();
        window->activateWindow();
        window->openRun();
        control<QLineEdit>(*window, "txtAddr")->setText(QStringLiteral("5"));
        control<QPushButton>(*window, "cmdSet")->click();
    }
    void enter(const QString& value) {
        control<QLineEdit>(*window, "txtChoice")->setText(value);
        control<QPushButton>(*window, "cmdEnter")->click();
    }
    // Hands over what the window system holds for the window: keys, clicks, close requests.
    void deliverQueuedInput() {
        for (int pass = 0; pass < 3; ++pass) {
            QCoreApplication::processEvents();
        }
    }
    std::vector<std::string> sentSince(std::size_t from) const {
        std::vector<std::string> out;
        for (const std::string& line : bench.wire(from)) {
            if (line.rfind("> ", 0) == 0) {
                out.push_back(line);
            }
        }
        return out;
    }
    QWindow* handle() const { return window->windowHandle(); }

    Bench bench;
    TransferGate held;
    ui::BusyCursor busy{std::chrono::milliseconds(0)};
    bus::BusThread busThread{&busy};
    bus::Gpib32 gpib{*bench.driver, busThread};
    std::unique_ptr<ui::frmConfig> window =
        std::make_unique<ui::frmConfig>(ui::Session{gpib, bench.state, bench.interaction, bench.pauser});
};

void postKey(QWindow* window, Qt::Key key) {
    QWindowSystemInterface::handleKeyEvent<Async>(window, QEvent::KeyPress, key, Qt::NoModifier);
    QWindowSystemInterface::handleKeyEvent<Async>(window, QEvent::KeyRelease, key, Qt::NoModifier);
}

void postClick(QWidget& target) {
    QWindow* window = target.window()->windowHandle();
    const QPoint centre = target.rect().center();
    const QPointF local = target.mapTo(target.window(), centre);
    const QPointF global = target.mapToGlobal(centre);
    QWindowSystemInterface::handleMouseEvent<Async>(window, local, global, Qt::LeftButton, Qt::LeftButton,
                                                    QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Async>(window, local, global, Qt::NoButton, Qt::LeftButton,
                                                    QEvent::MouseButtonRelease);
}

const QString leaveWarning = QStringLiteral("Exit without saving? \r\nPress Done again to exit");

// The operator sets the ESR enable bits of a 7174 and, while the unit is slow to answer, presses
// Return again and clicks Done: the window goes on painting its step to the end, then the
// Return advances once and the click asks about leaving, in that order.
TEST(Waiting, InputDuringAStepWaitsForItsEndAndIsHandledOnce) {
    ThreadedRun run("7174");
    run.enter(QString()); // keep the address; the ESR enable bits are next
    auto* done = control<QPushButton>(*run.window, "cmdDone");
    auto* gpibErr = control<ui::MessageLine>(*run.window, "txtGPIBErr");
    const std::size_t start = run.bench.sim.trace().size();

    std::vector<std::string> sentWhileHeld;
    bool warnedWhileHeld = true;
    bool busyWhileHeld = false;
    bool stepEndedWhileHeld = true;
    run.held.holdNext([&] { // the setting going out
        postKey(run.handle(), Qt::Key_Return);
        postClick(*done);
        // A full pass of the loop later, with the window system's queue handed over.
        QTimer::singleShot(0, [&] {
            sentWhileHeld = run.sentSince(start);
            warnedWhileHeld = gpibErr->isVisible();
            busyWhileHeld = run.busy.cursorShown() && QApplication::overrideCursor() != nullptr &&
                            QApplication::overrideCursor()->shape() == Qt::BusyCursor;
            stepEndedWhileHeld = !run.busy.inStep();
            run.held.release();
        });
    });
    run.enter(QStringLiteral("32"));

    EXPECT_EQ(sentWhileHeld, std::vector<std::string>{});
    EXPECT_FALSE(warnedWhileHeld) << "the click was acted on inside the step";
    EXPECT_TRUE(busyWhileHeld) << "no busy cursor while the step waited";
    EXPECT_FALSE(stepEndedWhileHeld);
    const std::vector<std::string> stepOne = {"> *ESE 32", "> *ESR?", "> *ESE?"};
    EXPECT_EQ(run.sentSince(start), stepOne) << "input reached the window before the step ended";
    EXPECT_EQ(run.bench.sim.unitAt(5)->value("*ESE"), "32");

    run.deliverQueuedInput();
    std::vector<std::string> both = stepOne;
    both.push_back("> *SRE?");
    EXPECT_EQ(run.sentSince(start), both) << "the Return typed ahead was not handled exactly once";
    EXPECT_EQ(run.bench.state.FunctionIndex, 3);
    EXPECT_TRUE(gpibErr->isVisible());
    EXPECT_EQ(gpibErr->text(), leaveWarning);
    EXPECT_EQ(run.bench.interaction.beeps, 1);
    EXPECT_FALSE(run.busy.inStep());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor stayed";

    const std::set<std::thread::id> callers = run.held.callers();
    EXPECT_EQ(callers.size(), 1u) << "driver calls came from more than one thread";
    EXPECT_EQ(callers.count(std::this_thread::get_id()), 0u) << "a driver call ran on the window's thread";
}

// The window's close button pressed while a call is out: the step ends as it would have, and
// only then does the close act, the way Done does.
TEST(Waiting, ACloseRequestDuringAStepActsAfterIt) {
    ThreadedRun run("7174");
    auto* gpibErr = control<ui::MessageLine>(*run.window, "txtGPIBErr");
    const std::size_t start = run.bench.sim.trace().size();
    bool warnedWhileHeld = true;
    run.held.holdNext([&] {
        QWindowSystemInterface::handleCloseEvent<Async>(run.handle());
        QTimer::singleShot(0, [&] {
            warnedWhileHeld = gpibErr->isVisible();
            run.held.release();
        });
    });
    run.enter(QStringLiteral("7"));

    EXPECT_FALSE(warnedWhileHeld);
    EXPECT_EQ(run.sentSince(start),
              (std::vector<std::string>{"> SYST:COMM:GPIB:ADDR 7", "> *ESR?", "> SYST:COMM:GPIB:ADDR?"}));
    EXPECT_EQ(run.bench.state.DeviceAddress, 7);
    run.deliverQueuedInput();
    EXPECT_EQ(gpibErr->text(), leaveWarning);
    EXPECT_TRUE(run.window->isVisible()) << "leaving without saving is asked first";
}

// The program asked to quit (the desktop session ends) while a unit is silent: the call under
// way finishes on the bus thread, the step unwinds without sending anything more, and the bus
// thread ends cleanly.
TEST(Waiting, QuittingWhileACallIsOutFinishesItAndSendsNothingMore) {
    {
        ThreadedRun run("7174");
        run.enter(QString()); // keep the address
        std::size_t heldAt = 0;
        run.held.holdNext([&] {
            heldAt = run.bench.sim.trace().size();
            QCoreApplication::exit(0);
            run.held.release();
        });
        run.enter(QStringLiteral("16"));
        // Each later step fails at once without reaching the bus.
        run.enter(QStringLiteral("1"));
        std::vector<std::string> driverCalls;
        for (const std::string& line : run.bench.calls(heldAt)) {
            if (line.find('(') != std::string::npos) {
                driverCalls.push_back(line);
            }
        }
        EXPECT_EQ(driverCalls, std::vector<std::string>{"Send(0, 5, \"*ESE 16\", 7, 2)"})
            << "the held call did not finish, or more was sent";
        EXPECT_EQ(run.gpib.iberr(), bus::ni::EABO);
        EXPECT_TRUE(run.gpib.status().failed());
    }
    // The next test's loops must run again: a finished exec() clears the quit.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

// The status the wrappers keep is the one the driver left for the thread that made the call,
// whatever the window's own thread last saw.
TEST(Waiting, StatusAfterACallIsThatCallsStatus) {
    Bench bench;
    bench.sim.addUnit(5, "7174");
    bus::BusThread busThread;
    bus::Gpib32 threaded(*bench.driver, busThread);
    QString text = QStringLiteral("*ESE?");
    struct Step {
        const char* failing; // the driver function made to fail, or nullptr
        int iberr;
        std::int16_t ibsta;
    };
    for (const Step step :
         {Step{"Send", bus::ni::ENOL, static_cast<std::int16_t>(bus::ni::ERR)}, Step{nullptr, 0, 0x0120},
          Step{"Send", bus::ni::EARG, static_cast<std::int16_t>(bus::ni::ERR)}}) {
        // The window's thread is left with the opposite outcome.
        if (step.failing == nullptr) {
            bench.sim.failNext("SendIFC", bus::ni::EBUS);
        }
        bench.gpib.GpibSendIFC(0);
        ASSERT_EQ(bench.gpib.status().failed(), step.failing == nullptr);
        if (step.failing != nullptr) {
            bench.sim.failNext(step.failing, step.iberr);
        }
        threaded.GpibSend(0, 5, text, static_cast<std::int16_t>(bus::ni::NLend));
        EXPECT_EQ(threaded.ibsta(), step.ibsta);
        EXPECT_EQ(threaded.iberr(), step.iberr);
        EXPECT_EQ(threaded.ibcntl(), step.failing ? 0 : 6);
    }
}

// The program's own pause, the one piece here that takes real time (2 ms): timers go on during
// it, a key pressed meanwhile reaches its box only afterwards, and the wait is announced.
TEST(Waiting, APauseKeepsTheLoopRunningAndLeavesKeysForAfterIt) {
    struct Counter final : bus::WaitObserver {
        void waitStarted() override { ++started; }
        void waitEnded() override { ++ended; }
        int started = 0;
        int ended = 0;
    } counter;
    QLineEdit box;
    box.show();
    box.activateWindow();
    box.setFocus();
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    QWindowSystemInterface::handleKeyEvent<Async>(box.windowHandle(), QEvent::KeyPress, Qt::Key_A,
                                                  Qt::NoModifier, QStringLiteral("a"));

    const auto start = std::chrono::steady_clock::now();
    ui::EventLoopPauser(&counter).pause(std::chrono::milliseconds(2));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2));
    EXPECT_TRUE(timerRan);
    EXPECT_EQ(box.text(), QString());
    EXPECT_EQ(counter.started, 1);
    EXPECT_EQ(counter.ended, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(box.text(), QStringLiteral("a"));
}

} // namespace
} // namespace ktq::test
