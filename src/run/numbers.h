// Numbers in text as the program reads them from entries and replies and writes them into messages.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace ktq::run {

/// The leading decimal number of a text (optional sign, digits, optional point and fraction),
/// after blanks, tabs and line feeds; 0 when the text does not begin with a number, and
/// infinity (with the sign) for a whole number too long for a double.
double numericValue(const QString& text);

/// The same leading number, or nothing when the text does not begin with one.
std::optional<double> leadingNumber(const QString& text);

/// Nearest whole number, a half going to the even neighbour.
double roundHalfEven(double value);

/// The rounded value when it fits a 16-bit signed number.
std::optional<std::int16_t> toInt16(double value);

/// A number as the program joins it into messages and commands: a blank in front when it is
/// not negative, a minus sign when it is (" 5", "-3", " 2.5").
QString signedNumberText(double value);

/// A number in decimal without the sign position ("5", "-3", "2.5").
QString numberText(double value);

} // namespace ktq::run
