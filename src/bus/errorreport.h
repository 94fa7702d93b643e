// The one-line bus error report the operator reads after a failed driver call.
#pragma once

#include "status.h"

#include <QString>

namespace ktq::bus {

/// The one-line bus error report: the caller's message, the status word with the names of its
/// bits, the error code with its meaning, and the count.
QString gpibErrorReportText(const QString& message, const StatusSnapshot& status);

/// An error code as the report names it ("EBUS <Command error>"), or its number when it has no name.
QString gpibErrorName(int iberr);

/// The names of the status bits set, from bit 15 down, between single blanks: "ERR TIMO CMPL CIC".
QString statusBitNames(int ibsta);
/// An error code's mnemonic ("EABO"), or its number when it has none.
QString gpibErrorMnemonic(int iberr);

/// Replaces `message` with its report and keeps a copy in `gpibErrorText`.
void GpibErrorReport(QString& message, const StatusSnapshot& status, QString& gpibErrorText);

} // namespace ktq::bus
