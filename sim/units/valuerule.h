// What a simulated unit accepts as a function's value, and how it writes it back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim {

/// What a unit takes as the value of one function, and how it writes an accepted value back.
struct ValueRule {
    enum class Kind {
        Integer,     // whole number in [min, max]
        IntegerSet,  // whole number out of `integers`
        Fixed,       // decimal number in [low, high], kept with `decimals` places
        NumberSet,   // decimal number equal to one of `words`
        Choice,      // SCPI mnemonic out of `words`: long or short form, any case
        Date,        // mm/dd/yyyy
        Text,        // printable text of min..max characters, quotes optional
        HexByte,     // one byte in hexadecimal
        ChannelList, // SCPI channel list (@a:b) of channels 1..max
    };

    Kind kind = Kind::Integer;
    long long min = 0;
    long long max = 0;
    std::vector<long long> integers;
    double low = 0;
    double high = 0;
    int decimals = 0;
    bool showSign = false;
    std::vector<std::string> words;
    std::string suffix; // an optional unit after a number ("K", "MS"), any case
};

/// The value in the unit's reply form when `rule` takes `text`, nothing otherwise. `text` is the
/// parameter of the setting with surrounding blanks already removed.
std::optional<std::string> acceptValue(const ValueRule& rule, std::string_view text);

ValueRule integerRange(long long min, long long max, std::string suffix = {});
ValueRule integerSet(std::vector<long long> values, std::string suffix = {});
ValueRule fixedPoint(double low, double high, int decimals, bool showSign);
ValueRule numberSet(std::vector<std::string> replyForms);
// Mnemonics in SCPI spelling: the upper-case head is the short form, the whole word the long
// form ("ASCii" takes ASC and ASCII). The reply is the long form in upper case.
ValueRule choice(std::vector<std::string> mnemonics);
ValueRule date();
ValueRule text(long long minLength, long long maxLength);
ValueRule hexByte();
ValueRule channelList(int highest);

/// Decimal number program data: sign, digits, point, fraction, exponent; nothing else around it.
/// Independent of the C locale, which a Qt program may have changed.
std::optional<double> parseDecimal(std::string_view text);

std::string upperCase(std::string_view text);
std::string_view trimBlanks(std::string_view text);

} // namespace ktq::sim
