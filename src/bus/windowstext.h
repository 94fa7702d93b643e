// Text between the program's UTF-8 and the Win32 API's UTF-16, and the system's words for an error.
#pragma once

#include <string>

namespace ktq::bus {

std::wstring toWide(const std::string& text);
std::string toUtf8(const std::wstring& wide);
/// The system's words for an error code (GetLastError's or WSAGetLastError's), on one line and
/// without the closing full stop; "error N" where the system has none.
std::string systemMessage(unsigned long code);

} // namespace ktq::bus
