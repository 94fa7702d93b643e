// The application object the fuzz targets' windows share.
#include "fuzzapp.h"

#include <QApplication>

namespace ktq::fuzz {

void startApplication() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}

} // namespace ktq::fuzz
