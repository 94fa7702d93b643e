// The one-line bus error report the operator reads after a failed driver call.
#include "errorreport.h"

#include <array>
#include <cstdint>

namespace ktq::bus {

namespace {

struct BitText {
    std::uint16_t bit;
    const char* text;
};

// From bit 15 down to bit 0: the report lists the set bits in this order.
constexpr std::array<BitText, 16> statusBitTexts{{
    {0x8000, "ERR "},
    {0x4000, "TIMO "},
    {0x2000, "END "},
    {0x1000, "SRQI "},
    {0x0800, "RQS "},
    {0x0400, "SPOLL "},
    {0x0200, "EVENT "},
    {0x0100, "CMPL "},
    {0x0080, "LOK "},
    {0x0040, "REM "},
    {0x0020, "CIC "},
    {0x0010, "ATN "},
    {0x0008, "TACS "},
    {0x0004, "LACS "},
    {0x0002, "DTAS "},
    {0x0001, "DCAS "},
}};

const char* errorCodeText(int iberr) {
    switch (iberr) {
    case 0:
        return " EDVR <Op System Error>";
    case 1:
        return " ECIC <Not CIC>";
    case 2:
        return " ENOL <No Listener>";
    case 3:
        return " EADR <Address error>";
    case 4:
        return " EARG <Invalid argument>";
    case 5:
        return " ESAC <Not Sys Ctrlr>";
    case 6:
        return " EABO <Operation aborted>";
    case 7:
        return " ENEB <No GPIB board>";
    case 10:
        return " EOIP <Async I/O in prg>";
    case 11:
        return " ECAP <No capability>";
    case 12:
        return " EFSO <File sys. error>";
    case 14:
        return " EBUS <Command error>";
    case 15:
        return " ESTB <Status byte lost>";
    case 16:
        return " ESRQ <SRQ stuck on>";
    case 20:
        return " ETAB <Table Overflow>";
    default:
        return "";
    }
}

// A number joined into a message: a blank stands where a minus sign would.
QString signedNumber(std::int32_t value) {
    const QString digits = QString::number(value);
    return value >= 0 ? QLatin1Char(' ') + digits : digits;
}

} // namespace

QString gpibErrorReportText(const QString& message, const StatusSnapshot& status) {
    const auto word = static_cast<std::uint16_t>(status.ibsta);

    const QString names = statusBitNames(word);
    const QString bits = names.isEmpty() ? names : names + QLatin1Char(' ');

    return message + QLatin1String(",  ibsta = &H") + QString::number(word, 16).toUpper() +
           QLatin1String(" <  ") + bits + QLatin1String(" >, iberr = ") + signedNumber(status.iberr) +
           QLatin1String(errorCodeText(status.iberr)) + QLatin1String(", ibcnt = ") +
           signedNumber(status.ibcntl);
}

QString gpibErrorName(int iberr) {
    const QString text = QLatin1String(errorCodeText(iberr)).trimmed();
    return text.isEmpty() ? QString::number(iberr) : text;
}

QString statusBitNames(int ibsta) {
    QString bits;
    for (const BitText& entry : statusBitTexts) {
        if (static_cast<std::uint16_t>(ibsta) & entry.bit) {
            bits += QLatin1String(entry.text);
        }
    }
    return bits.trimmed();
}

QString gpibErrorMnemonic(int iberr) {
    const QString name = gpibErrorName(iberr);
    return name.section(QLatin1Char(' '), 0, 0);
}

void GpibErrorReport(QString& message, const StatusSnapshot& status, QString& gpibErrorText) {
    message = gpibErrorReportText(message, status);
    gpibErrorText = message;
}

} // namespace ktq::bus
