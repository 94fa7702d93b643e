// The bus error report for any status the driver may leave and any message.
#include "fuzzapp.h"

#include "bus/errorreport.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

using ktq::fuzz::fail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ktq::bus::StatusSnapshot status;
    if (size < 8) {
        return 0;
    }
    std::memcpy(&status.ibsta, data, 2);
    std::memcpy(&status.iberr, data + 2, 2);
    std::memcpy(&status.ibcntl, data + 4, 4);
    status.ibcnt = static_cast<std::int16_t>(status.ibcntl);
    const QString message =
        QString::fromLatin1(reinterpret_cast<const char*>(data + 8), static_cast<qsizetype>(size - 8));

    const QString report = ktq::bus::gpibErrorReportText(message, status);
    if (!report.startsWith(message)) {
        fail("the report does not start with the message");
    }
    const QString rest = report.mid(message.size());
    const QString hex = QString::number(static_cast<std::uint16_t>(status.ibsta), 16).toUpper();
    if (!rest.startsWith(QStringLiteral(",  ibsta = &H") + hex + QStringLiteral(" <  "))) {
        fail("status word missing");
    }
    const QString count =
        (status.ibcntl >= 0 ? QStringLiteral(" ") : QString()) + QString::number(status.ibcntl);
    if (!rest.endsWith(QStringLiteral(", ibcnt = ") + count)) {
        fail("count missing");
    }
    const QString code =
        (status.iberr >= 0 ? QStringLiteral(" ") : QString()) + QString::number(status.iberr);
    if (!rest.contains(QStringLiteral(" >, iberr = ") + code)) {
        fail("error code missing");
    }
    // One name per set bit: the names end in a blank each.
    const qsizetype open = rest.indexOf(QStringLiteral(" <  ")) + 4;
    const qsizetype close = rest.indexOf(QStringLiteral(" >, iberr = "));
    const QString names = rest.mid(open, close - open);
    int bits = 0;
    for (int k = 0; k < 16; ++k) {
        bits += (static_cast<std::uint16_t>(status.ibsta) >> k) & 1;
    }
    if (names.count(u' ') != bits) {
        fail("status names do not match the bits");
    }

    QString copy;
    QString inOut = message;
    ktq::bus::GpibErrorReport(inOut, status, copy);
    if (inOut != report || copy != report) {
        fail("GpibErrorReport differs from the text");
    }
    return 0;
}
