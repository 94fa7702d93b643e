// How the traces print bytes, status words and lists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim {

/// Bytes as the traces print them: in double quotes, with \n, \r, \", \\ and \xhh for other bytes
/// outside 0x20..0x7e.
std::string quoted(std::string_view bytes);
/// The same bytes escaped the same way, without the quotes.
std::string escaped(std::string_view bytes);
/// "0x2120": a status word as the traces print it.
std::string hex4(int value);
/// "[1, 2, 3]"
std::string joined(const std::vector<int>& numbers);

} // namespace ktq::sim
