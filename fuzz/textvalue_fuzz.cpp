// Numbers read from entries and replies: the leading number of any text, its rounding to 16 bits
// and the way numbers are written back into messages and commands.
#include "fuzzapp.h"

#include "run/numbers.h"

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>

using ktq::fuzz::fail;

namespace {

void check(const QString& text) {
    const double value = ktq::run::numericValue(text);
    if (std::isnan(value)) {
        fail("numericValue gave NaN");
    }
    const double rounded = ktq::run::roundHalfEven(value);
    if (std::isfinite(value) && std::fabs(rounded - value) > 0.5) {
        fail("rounding moved by more than a half");
    }
    const auto small = ktq::run::toInt16(value);
    if (small && (*small != rounded)) {
        fail("toInt16 differs from the rounded value");
    }
    if (!small && std::isfinite(rounded) && rounded >= -32768 && rounded <= 32767) {
        fail("toInt16 refused a value in range");
    }
    const QString written = ktq::run::signedNumberText(value);
    if (written.isEmpty() || (value >= 0 && !written.startsWith(u' ')) ||
        (value < 0 && !written.startsWith(u'-'))) {
        fail("signedNumberText lacks its sign position");
    }
    // Whole numbers the program writes read back as themselves.
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15 &&
        ktq::run::numericValue(written) != value) {
        fail("a whole number does not read back");
    }
    ktq::run::numberText(rounded);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* bytes = reinterpret_cast<const char*>(data);
    const auto length = static_cast<qsizetype>(size);
    // The same bytes as an entry typed by the operator and as a reply off the bus.
    check(QString::fromUtf8(bytes, length));
    check(QString::fromLatin1(bytes, length));
    return 0;
}
