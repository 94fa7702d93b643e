// How the traces print bytes, status words and lists.
#include "sim/tracetext.h"

#include <cstdio>

namespace ktq::sim {

std::string quoted(std::string_view bytes) {
    return "\"" + escaped(bytes) + "\"";
}

std::string escaped(std::string_view bytes) {
    std::string text;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n')
            text += "\\n";
        else if (c == '\r')
            text += "\\r";
        else if (c == '"')
            text += "\\\"";
        else if (c == '\\')
            text += "\\\\";
        else if (c < 0x20 || c > 0x7e) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
            text += buffer;
        } else
            text += ch;
    }
    return text;
}

std::string hex4(int value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%04x", value & 0xffff);
    return buffer;
}

std::string joined(const std::vector<int>& numbers) {
    std::string text = "[";
    for (std::size_t i = 0; i < numbers.size(); ++i)
        text += (i ? ", " : "") + std::to_string(numbers[i]);
    return text + "]";
}

} // namespace ktq::sim
