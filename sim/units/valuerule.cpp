// What a simulated unit accepts as a function's value, and how it writes it back.
#include "sim/units/valuerule.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace ktq::sim {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLower(char c) {
    return c >= 'a' && c <= 'z';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool endsWithNoCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && upperCase(text.substr(text.size() - tail.size())) == upperCase(tail);
}

std::string_view dropSuffix(std::string_view text, const std::string& suffix) {
    if (!suffix.empty() && endsWithNoCase(text, suffix))
        return trimBlanks(text.substr(0, text.size() - suffix.size()));
    return text;
}

// Whole numbers only; "5.0" and "5E0" are whole, "5.5" is not.
std::optional<long long> parseWhole(std::string_view text) {
    const auto value = parseDecimal(text);
    if (!value || std::abs(*value) > 1e15 || std::floor(*value) != *value)
        return std::nullopt;
    return static_cast<long long>(*value);
}

std::optional<int> parseDigits(std::string_view text, std::size_t minDigits, std::size_t maxDigits) {
    if (text.size() < minDigits || text.size() > maxDigits || !std::all_of(text.begin(), text.end(), isDigit))
        return std::nullopt;
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string formatFixed(double value, int decimals, bool showSign) {
    std::array<char, 64> buffer{};
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                   std::chars_format::fixed, decimals);
    std::string digits(buffer.data(), ec == std::errc() ? end : buffer.data());
    if (showSign && !digits.empty() && digits.front() != '-')
        digits.insert(digits.begin(), '+');
    return digits;
}

std::optional<std::string> acceptFixed(const ValueRule& rule, std::string_view text) {
    const auto value = parseDecimal(dropSuffix(text, rule.suffix));
    if (!value)
        return std::nullopt;
    const double scale = std::pow(10.0, rule.decimals);
    double rounded = std::round(*value * scale) / scale;
    if (rounded == 0.0)
        rounded = 0.0; // no "-0.0000"
    if (rounded < rule.low - 1e-9 || rounded > rule.high + 1e-9)
        return std::nullopt;
    return formatFixed(rounded, rule.decimals, rule.showSign);
}

std::optional<std::string> acceptNumberSet(const ValueRule& rule, std::string_view text) {
    const auto value = parseDecimal(dropSuffix(text, rule.suffix));
    if (!value)
        return std::nullopt;
    for (const auto& word : rule.words) {
        const auto listed = parseDecimal(word);
        if (listed && std::abs(*listed - *value) <= 1e-9 * std::max(1.0, std::abs(*listed)))
            return word;
    }
    return std::nullopt;
}

std::optional<std::string> acceptChoice(const ValueRule& rule, std::string_view text) {
    const std::string wanted = upperCase(text);
    for (const auto& mnemonic : rule.words) {
        const std::string longForm = upperCase(mnemonic);
        const auto head = std::find_if(mnemonic.begin(), mnemonic.end(), isLower);
        const std::string shortForm =
            upperCase(std::string_view(mnemonic).substr(0, head - mnemonic.begin()));
        if (wanted == longForm || wanted == shortForm)
            return longForm;
    }
    return std::nullopt;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::optional<std::string> acceptDate(std::string_view text) {
    const auto first = text.find('/');
    const auto second = first == std::string_view::npos ? first : text.find('/', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const auto month = parseDigits(text.substr(0, first), 1, 2);
    const auto day = parseDigits(text.substr(first + 1, second - first - 1), 1, 2);
    const auto year = parseDigits(text.substr(second + 1), 4, 4);
    if (!month || !day || !year || *month < 1 || *month > 12 || *day < 1)
        return std::nullopt;
    static constexpr std::array<int, 12> monthLength{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int lastDay = monthLength[*month - 1] + (*month == 2 && isLeapYear(*year) ? 1 : 0);
    if (*day > lastDay)
        return std::nullopt;
    // The checked values take 10 characters; the compiler counts any int, and warns below 26.
    std::array<char, 32> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%02d/%02d/%04d", *month, *day, *year);
    return std::string(buffer.data());
}

std::optional<std::string> acceptText(const ValueRule& rule, std::string_view text) {
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    const auto length = static_cast<long long>(text.size());
    if (length < rule.min || length > rule.max)
        return std::nullopt;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7e; }))
        return std::nullopt;
    return std::string(text);
}

std::optional<std::string> acceptHexByte(std::string_view text) {
    for (std::string_view prefix : {"#H", "0X"}) {
        if (text.size() > prefix.size() && upperCase(text.substr(0, prefix.size())) == prefix) {
            text.remove_prefix(prefix.size());
            break;
        }
    }
    if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), [](char c) {
            return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        }))
        return std::nullopt;
    unsigned value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value, 16);
    std::array<char, 8> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%02X", value);
    return std::string(buffer.data());
}

std::optional<std::string> acceptChannelList(const ValueRule& rule, std::string_view text) {
    std::string compact;
    for (char c : text)
        if (!isBlank(c))
            compact.push_back(c);
    if (compact.size() < 4 || compact.substr(0, 2) != "(@" || compact.back() != ')')
        return std::nullopt;
    std::string_view items = std::string_view(compact).substr(2, compact.size() - 3);
    std::string reply = "(@";
    while (true) {
        const auto comma = items.find(',');
        const std::string_view item = items.substr(0, comma);
        const auto colon = item.find(':');
        const auto from = parseDigits(item.substr(0, colon), 1, 3);
        const auto to = colon == std::string_view::npos ? from : parseDigits(item.substr(colon + 1), 1, 3);
        if (!from || !to || *from < 1 || *to < *from || *to > rule.max)
            return std::nullopt;
        reply += std::to_string(*from);
        if (*to != *from)
            reply += ":" + std::to_string(*to);
        if (comma == std::string_view::npos)
            break;
        reply += ",";
        items.remove_prefix(comma + 1);
    }
    return reply + ")";
}

} // namespace

std::string upperCase(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (isLower(c))
            c = static_cast<char>(c - 'a' + 'A');
    return result;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<double> parseDecimal(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::size_t mantissa = i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        const std::size_t exponentDigits = j;
        while (j < text.size() && isDigit(text[j]))
            ++j;
        if (j == exponentDigits)
            return std::nullopt;
        i = j;
    }
    if (i != text.size())
        return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data() + mantissa, text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<std::string> acceptValue(const ValueRule& rule, std::string_view text) {
    switch (rule.kind) {
    case ValueRule::Kind::Integer: {
        const auto value = parseWhole(dropSuffix(text, rule.suffix));
        if (!value || *value < rule.min || *value > rule.max)
            return std::nullopt;
        return std::to_string(*value);
    }
    case ValueRule::Kind::IntegerSet: {
        const auto value = parseWhole(dropSuffix(text, rule.suffix));
        if (!value || std::find(rule.integers.begin(), rule.integers.end(), *value) == rule.integers.end())
            return std::nullopt;
        return std::to_string(*value);
    }
    case ValueRule::Kind::Fixed:
        return acceptFixed(rule, text);
    case ValueRule::Kind::NumberSet:
        return acceptNumberSet(rule, text);
    case ValueRule::Kind::Choice:
        return acceptChoice(rule, text);
    case ValueRule::Kind::Date:
        return acceptDate(text);
    case ValueRule::Kind::Text:
        return acceptText(rule, text);
    case ValueRule::Kind::HexByte:
        return acceptHexByte(text);
    case ValueRule::Kind::ChannelList:
        return acceptChannelList(rule, text);
    }
    return std::nullopt;
}

ValueRule integerRange(long long min, long long max, std::string suffix) {
    ValueRule rule;
    rule.kind = ValueRule::Kind::Integer;
    rule.min = min;
    rule.max = max;
    rule.suffix = std::move(suffix);
    return rule;
}

ValueRule integerSet(std::vector<long long> values, std::string suffix) {
    ValueRule rule;
    rule.kind = ValueRule::Kind::IntegerSet;
    rule.integers = std::move(values);
    rule.suffix = std::move(suffix);
    return rule;
}

ValueRule fixedPoint(double low, double high, int decimals, bool showSign) {
    ValueRule rule;
    rule.kind = ValueRule::Kind::Fixed;
    rule.low = low;
    rule.high = high;
    rule.decimals = decimals;
    rule.showSign = showSign;
    return rule;
}

ValueRule numberSet(std::vector<std::string> replyForms) {
    ValueRule rule;
    rule.kind = ValueRule::Kind::NumberSet;
    rule.words = std::move(replyForms);
    return rule;
}

ValueRule choice(std::vector<std::string> mnemonics) {
    ValueRule rule;
    rule.kind = ValueRule::Kind::Choice;
    rule.words = std::move(mnemonics);
    return rule;
}

ValueRule date() {
    ValueRule rule;
    rule.kind = ValueRule::Kind::Date;
    return rule;
}

ValueRule text(long long minLength, long long maxLength) {
    ValueRule rule;
    rule.kind = ValueRule::Kind::Text;
    rule.min = minLength;
    rule.max = maxLength;
    return rule;
}

ValueRule hexByte() {
    ValueRule rule;
    rule.kind = ValueRule::Kind::HexByte;
    return rule;
}

ValueRule channelList(int highest) {
    ValueRule rule;
    rule.kind = ValueRule::Kind::ChannelList;
    rule.max = highest;
    return rule;
}

} // namespace ktq::sim
