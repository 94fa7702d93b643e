#include "bus/busthread.h"
#include "bus/driverloader.h"
#include "bus/gpib32.h"
#include "ui/config/pause.h"
#include "ui/config/sharedstate.h"
#include "ui/dialogs/busycursor.h"
#include "ui/dialogs/interaction.h"
#include "ui/main/frmmain.h"
#include "ui/main/logo.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <iostream>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ktqconfig"));
    QApplication::setApplicationDisplayName(QStringLiteral("KTQ GPIB Configuration"));
    QApplication::setDesktopFileName(QStringLiteral("ktqconfig"));
    QApplication::setWindowIcon(QIcon(ktq::ui::drawLogo(64)));

    const std::unique_ptr<ktq::bus::GpibDriver> driver = ktq::bus::loadSystemDriver(std::cerr);
    // Driver calls and pauses wait in local event loops, so the windows keep painting while a
    // unit takes its time; the bus thread ends after the driver's last call, before the driver.
    ktq::ui::BusyCursor busy;
    ktq::bus::BusThread busThread(&busy);
    ktq::bus::Gpib32 gpib(*driver, busThread);
    ktq::ui::SharedState state;
    ktq::ui::DesktopInteraction interaction;
    ktq::ui::EventLoopPauser pauser(&busy);

    ktq::ui::frmMain window(ktq::ui::Session{gpib, state, interaction, pauser});
    window.show();
    // scripts/bench times start-up: quit from the first pass of the event loop after show().
    if (qEnvironmentVariableIntValue("KTQ_QUIT_WHEN_IDLE") == 1) {
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    }
    return QApplication::exec();
}
