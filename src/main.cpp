// The program: loads the driver, starts the bus thread and opens the main window.
#include "bus/adapter/adapterfinder.h"
#include "bus/board/driverloader.h"
#include "bus/busthread.h"
#include "bus/driverbus.h"
#include "bus/gpib32.h"
#include "bus/steps/steps.h"
#include "ui/config/pause.h"
#include "ui/config/sharedstate.h"
#include "ui/dialogs/busycursor.h"
#include "ui/dialogs/focusframe.h"
#include "ui/dialogs/interaction.h"
#include "ui/dialogs/leaving.h"
#include "ui/main/frmmain.h"
#include "ui/main/logo.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QPushButton>
#include <QTimer>

#include <iostream>
#include <utility>

namespace {

// scripts/bench measures how long the window's thread goes without running its event loop: a
// 10 ms timer whose late ticks are logged to the file, as "<ms since the epoch> <ms late>".
void logEventLoopStalls(QApplication& app, const QString& path) {
    auto* file = new QFile(path, &app);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        std::cerr << "ktqconfig: cannot write " << path.toStdString() << '\n';
        return;
    }
    constexpr qint64 periodMs = 10;
    auto* timer = new QTimer(&app);
    timer->setTimerType(Qt::PreciseTimer);
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::destroyed, [clock] { delete clock; });
    QObject::connect(timer, &QTimer::timeout, timer, [file, clock] {
        const qint64 late = clock->restart() - periodMs;
        if (late >= 2) {
            file->write(QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + ' ' +
                        QByteArray::number(late) + '\n');
            file->flush();
        }
    });
    timer->start(periodMs);
}

// The program's names, font, icon and focus frame, before the first widget is made.
void setUpLook() {
    QApplication::setApplicationName(QStringLiteral("ktqconfig"));
    QApplication::setApplicationDisplayName(QStringLiteral("KTQ GPIB Configuration"));
    QApplication::setDesktopFileName(QStringLiteral("ktqconfig"));
    // Every text the windows show is Latin: kerning and ligatures are all the shaper would add, for
    // 7 % of the instructions of the program's start.
    QFont latin = QApplication::font();
    latin.setStyleStrategy(QFont::PreferNoShaping);
#ifndef _WIN32
    // Nor hinted: FreeType's autohinter sets up each face before its first glyph, 3.7 % of the
    // start's instructions for letters that look the same at these sizes. Windows would take the
    // preference as a reason to change its font engine.
    latin.setHintingPreference(QFont::PreferNoHinting);
#endif
    QApplication::setFont(latin);
    QApplication::setWindowIcon(QIcon(ktq::ui::drawLogo(64, ktq::ui::titleFont(QApplication::font()))));
    ktq::ui::useFocusFrameStyle();
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    setUpLook();

    // The board's library, or a "++" adapter where KTQ_GPIB_ADAPTER names one or the board does
    // not open; chosen when the operator first configures. Linux lists its built-in UARTs too,
    // where nothing answers: only USB serial ports are asked there.
    ktq::bus::AdapterSearch search;
    search.setting = qEnvironmentVariable("KTQ_GPIB_ADAPTER").toStdString();
#ifdef _WIN32
    search.usbPortsOnly = false;
#endif
    const std::unique_ptr<ktq::bus::GpibDriver> driver = std::make_unique<ktq::bus::AdapterFinder>(
        ktq::bus::loadSystemDriver(std::cerr), ktq::bus::makeSystemLinkOpener(), std::move(search),
        std::cerr);
    // A step waiting for a driver call or a pause goes back to the event loop, so the windows keep
    // painting while a unit takes its time; the bus thread ends after the driver's last call,
    // before the driver.
    // A call that outlives its timeout and the grace does not keep the operator from closing.
    ktq::ui::BusyCursor busy;
    ktq::bus::SteadyCallClock callClock;
    ktq::bus::ProcessEnd processEnd;
    ktq::ui::LeavingWhileOverdue leaving;
    ktq::bus::BusThread busThread(
        &busy, ktq::bus::HangWatch{&callClock, &processEnd, std::chrono::seconds(5), &leaving});
    ktq::bus::Gpib32 gpib(*driver, busThread);
    ktq::bus::DriverBus bus(gpib);
    ktq::ui::SharedState state;
    ktq::ui::DesktopInteraction interaction;
    ktq::ui::EventLoopPauser pauser(&busy);

    ktq::ui::frmMain window(ktq::ui::Session{bus, state, interaction, pauser});
    window.show();
    if (const QString stallLog = qEnvironmentVariable("KTQ_STALL_LOG"); !stallLog.isEmpty()) {
        logEventLoopStalls(app, stallLog);
    }
    // scripts/bench times start-up: quit from the first pass of the event loop after show(). The
    // tests leave through the Exit button instead (2).
    if (const int leave = qEnvironmentVariableIntValue("KTQ_QUIT_WHEN_IDLE"); leave == 1) {
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    } else if (leave == 2) {
        QTimer::singleShot(0, &window, [&window] { window.findChild<QPushButton*>("cmdExit")->click(); });
    }
    // The steps' loop is the program's: QApplication's only holds it, and both end with the code
    // of whatever quit. A step that waits then finishes, before the windows are freed. Closing the
    // last window quits at once: Qt's own way posts a quit, which the steps' loop drops where it
    // runs again with other flags (as a step begins or ends a wait).
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, [] { QCoreApplication::exit(0); });
    QTimer::singleShot(0, &app, [] { ktq::bus::execSteps(); });
    return QApplication::exec();
}
