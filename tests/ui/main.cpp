// The window tests' entry point on Qt's offscreen platform.
#include "ui/dialogs/focusframe.h"

#include <QApplication>

#include <gtest/gtest.h>

// Window tests need one application object for the whole run; it holds no test state.
int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ktq::ui::useFocusFrameStyle(); // the look the program gives itself
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
