// The facts of a run that the main window, the configuration window and the dialogs share.
#pragma once

#include "run/sharedstate.h"

#include <QString>

namespace ktq::ui {

using run::SharedState;

/// The two-line break of the program's messages.
inline const QString CrLf = QStringLiteral("\r\n");

} // namespace ktq::ui
