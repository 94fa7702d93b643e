// The text of a driver call, made in one place for the program's traffic and the bench's trace.
#include "calltext.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ktq::bus {

namespace {

constexpr int edvr = 0;
constexpr int etab = 20;
constexpr std::uint16_t noAddress = 0xffff;
// The longest list FindLstn reads before it calls the list bad.
constexpr int longestList = 256;

std::string numbers(const char* name, std::initializer_list<long> values) {
    std::string text = std::string(name) + "(";
    bool first = true;
    for (const long value : values) {
        text += (first ? "" : ", ") + std::to_string(value);
        first = false;
    }
    return text + ")";
}

} // namespace

std::string quoted(std::string_view bytes) {
    return "\"" + escaped(bytes) + "\"";
}

std::string quoted(const void* data, long count) {
    return quoted(data != nullptr && count > 0
                      ? std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(count))
                      : std::string_view());
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

std::string addressText(std::uint16_t word) {
    const int primary = word & 0xff;
    const int secondaryByte = word >> 8;
    if (primary <= 30 && secondaryByte == 0)
        return std::to_string(primary);
    if (primary <= 30 && secondaryByte >= 0x60 && secondaryByte <= 0x7e)
        return std::to_string(primary * 100 + secondaryByte - 0x60);
    return hex4(word);
}

namespace calltext {

std::string ibfind(const char* name) {
    return std::string("ibfind(") + (name ? quoted(std::string_view(name)) : "NULL") + ")";
}

std::string ibask(int ud, int option, const int* value, const CallOutcome& outcome) {
    return numbers("ibask", {ud, option}) +
           (!outcome.failed() && value != nullptr ? " " + std::to_string(*value) : "");
}

std::string setting(const char* name, int ud, int value) {
    return numbers(name, {ud, value});
}

std::string SendIFC(int board) {
    return numbers("SendIFC", {board});
}

std::string DevClear(int board, std::uint16_t address) {
    return "DevClear(" + std::to_string(board) + ", " + addressText(address) + ")";
}

std::string FindLstn(int board, const std::uint16_t* padList, const std::uint16_t* resultList, int limit,
                     const CallOutcome& outcome) {
    std::vector<int> probed;
    for (int i = 0; padList != nullptr && i < longestList && padList[i] != noAddress; ++i)
        probed.push_back(padList[i]);
    std::string found;
    if ((!outcome.failed() || outcome.iberr == etab) && resultList != nullptr) {
        const long written = std::min<long>(outcome.ibcntl, limit);
        for (long i = 0; i < written; ++i)
            found += (i ? ", " : "") + addressText(resultList[i]);
    }
    return "FindLstn(" + std::to_string(board) + ", " + joined(probed) + ", " + std::to_string(limit) +
           ") [" + found + "]";
}

std::string Send(int board, std::uint16_t address, const void* buffer, long count,
                 const std::string& eotMode) {
    return "Send(" + std::to_string(board) + ", " + addressText(address) + ", " + quoted(buffer, count) +
           ", " + std::to_string(count) + ", " + eotMode + ")";
}

std::string endModeName(int mode, EndModes numbering) {
    const bool ni = numbering == EndModes::Ni;
    switch (mode) {
    case 0:
        return "NULLend";
    case 1:
        return ni ? "NLend" : "DABend";
    case 2:
        return ni ? "DABend" : "NLend";
    default:
        return std::to_string(mode);
    }
}

// A driver that failed as a whole (EDVR) may leave a system error number in the count, not bytes.
std::string Receive(int board, std::uint16_t address, const void* buffer, long count, int termination,
                    const CallOutcome& outcome) {
    const long received = outcome.failed() && outcome.iberr == edvr ? 0 : std::min(outcome.ibcntl, count);
    return "Receive(" + std::to_string(board) + ", " + addressText(address) + ", " + std::to_string(count) +
           ", " + std::to_string(termination) + ") " + quoted(buffer, received);
}

std::string TriggerUnit(int board, std::uint16_t address) {
    return "TriggerUnit(" + std::to_string(board) + ", " + addressText(address) + ")";
}

std::string SendCmds(int board, const void* commands, long count) {
    return "SendCmds(" + std::to_string(board) + ", " + quoted(commands, count) + ", " +
           std::to_string(count) + ")";
}

std::string line(const std::string& call, const CallOutcome& outcome) {
    return call + " -> " + hex4(outcome.ibsta) + " " + std::to_string(outcome.iberr) + " " +
           std::to_string(outcome.ibcntl);
}

} // namespace calltext

} // namespace ktq::bus
