// Reading the leading number of a text, rounding it, and writing numbers the program's way.
#include "numbers.h"

#include <cmath>
#include <limits>

namespace ktq::run {

double numericValue(const QString& text) {
    return leadingNumber(text).value_or(0.0);
}

std::optional<double> leadingNumber(const QString& text) {
    qsizetype pos = 0;
    const qsizetype size = text.size();
    while (pos < size && (text[pos] == u' ' || text[pos] == u'\t' || text[pos] == u'\n')) {
        ++pos;
    }
    QString number;
    if (pos < size && (text[pos] == u'+' || text[pos] == u'-')) {
        number += text[pos++];
    }
    bool digits = false;
    bool wholePart = false;
    while (pos < size && text[pos] >= u'0' && text[pos] <= u'9') {
        wholePart = wholePart || text[pos] != u'0';
        number += text[pos++];
        digits = true;
    }
    if (pos < size && text[pos] == u'.') {
        number += text[pos++];
        while (pos < size && text[pos] >= u'0' && text[pos] <= u'9') {
            number += text[pos++];
            digits = true;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (ok && std::isfinite(value)) {
        return value;
    }
    // Too many digits for a double: a whole number that large reads as infinity, so that every
    // range check refuses it instead of taking it for 0; a fraction too small to hold is 0.
    if (!wholePart) {
        return 0.0;
    }
    return number.startsWith(u'-') ? -std::numeric_limits<double>::infinity()
                                   : std::numeric_limits<double>::infinity();
}

double roundHalfEven(double value) {
    // nearbyint follows the default rounding mode, which is to nearest with ties to even.
    return std::nearbyint(value);
}

std::optional<std::int16_t> toInt16(double value) {
    const double rounded = roundHalfEven(value);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<std::int16_t>::min() ||
        rounded > std::numeric_limits<std::int16_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(rounded);
}

QString numberText(double value) {
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        return QString::number(static_cast<long long>(value));
    }
    return QString::number(value, 'g', 15);
}

QString signedNumberText(double value) {
    const QString digits = numberText(value);
    return value < 0 ? digits : QStringLiteral(" ") + digits;
}

} // namespace ktq::run
