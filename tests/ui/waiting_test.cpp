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

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace ktq::test {
namespace {

using Async = QWindowSystemInterface::AsynchronousDelivery;

/// Stands in for the simulated bus's time per transfer: the transfer after holdNext() stops on
/// the thread that makes it until release(), while `whileHeld` runs on the window's thread.
class TransferGate final : public sim::Sleeper {
public:
    void holdNext(std::function<void()> whileHeld) {
        const std::lock_guard guard(m_lock);
        m_whileHeld = std::move(whileHeld);
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
        if (m_whileHeld) {
            QMetaObject::invokeMethod(qApp, std::exchange(m_whileHeld, nullptr), Qt::QueuedConnection);
            m_wake.wait(guard, [this] { return m_released; });
        }
    }
    std::set<std::thread::id> callers; // read once the bus is idle

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::function<void()> m_whileHeld;
    bool m_released = false;
};

/// A 7174 at address 5 configured through a shown window whose driver calls run on the bus
/// thread, as in the program; the pauses are still the bench's, which take no time.
struct ThreadedRun {
    ThreadedRun() {
        bench.sim.addUnit(5, "7174");
        bench.sim.setTiming(sim::Timing{std::chrono::milliseconds(1), false});
        bench.sim.setSleeper(&gate);
        bench.state.ModelText = QStringLiteral("7174");
        bench.state.ModelNumber = 7174;
        window->show();
        window->openRun();
        control<QPushButton>(*window, "cmdSet")->click(); // the address found, 5
    }
    void enter(const QString& value) {
        control<QLineEdit>(*window, "txtChoice")->setText(value);
        control<QPushButton>(*window, "cmdEnter")->click();
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

    Bench bench;
    TransferGate gate;
    ui::BusyCursor busy{std::chrono::milliseconds(0)};
    bus::BusThread busThread{&busy};
    bus::Gpib32 gpib{*bench.driver, busThread};
    std::unique_ptr<ui::frmConfig> window =
        std::make_unique<ui::frmConfig>(ui::Session{gpib, bench.state, bench.interaction, bench.pauser});
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

    for (int pass = 0; pass < 3; ++pass) {
        QCoreApplication::processEvents();
    }
    std::vector<std::string> both = stepOne;
    both.insert(both.end(), {"> *SRE?", "< 0\\n", "beep"});
    EXPECT_EQ(run.bench.wire(start), both) << "the Return typed ahead was not handled exactly once";
    EXPECT_FALSE(run.window->isVisible()) << "Done and the close did not both act";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor stayed";
    EXPECT_EQ(run.gate.callers.size(), 1u) << "driver calls came from more than one thread";
    EXPECT_EQ(run.gate.callers.count(std::this_thread::get_id()), 0u);
}

// The program asked to quit (the desktop session ends) while a call is out: that call finishes
// on the bus thread, the step unwinds without sending anything more, and so does the next one.
TEST(Waiting, QuittingWhileACallIsOutFinishesItAndSendsNothingMore) {
    {
        ThreadedRun run;
        run.enter(QString()); // keep the address
        const std::size_t start = run.bench.sim.trace().size();
        run.gate.holdNext([&] {
            QCoreApplication::exit(0);
            run.gate.release();
        });
        run.enter(QStringLiteral("16"));
        run.enter(QStringLiteral("1"));
        EXPECT_EQ(run.sentSince(start), std::vector<std::string>{"Send(0, 5, \"*ESE 16\", 7, 2)"});
        EXPECT_EQ(run.gpib.iberr(), bus::ni::EABO);
        EXPECT_TRUE(run.gpib.status().failed());
    }
    // A finished exec() lets the next test's loops run again.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
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

} // namespace
} // namespace ktq::test
