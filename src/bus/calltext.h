// The text of a driver call, made in one place for the program's traffic and the bench's trace.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::bus {

/// Bytes in double quotes, with \n, \r, \", \\ and \xhh for other bytes outside 0x20..0x7e.
std::string quoted(std::string_view bytes);
/// `count` bytes at `data` quoted; none for a null pointer or a count below 1.
std::string quoted(const void* data, long count);
/// The same bytes escaped the same way, without the quotes.
std::string escaped(std::string_view bytes);
/// "0x2120": a status word.
std::string hex4(int value);
/// "[1, 2, 3]"
std::string joined(const std::vector<int>& numbers);
/// An address word as the operator types the address: 5 for primary 5, 502 for primary 5 with
/// secondary 2 (word 0x6205); a word that is no address ("0x1f05") in hex.
std::string addressText(std::uint16_t word);

/// What the driver left after a call, as the texts need it.
struct CallOutcome {
    int ibsta = 0;
    int iberr = 0;
    long ibcntl = 0;

    bool failed() const { return (ibsta & 0x8000) != 0; }
};

/// Each driver call as text, from its arguments as the call was made and what it left: the
/// value ibask wrote (on success), the listeners FindLstn wrote, the bytes a Receive read.
namespace calltext {
std::string ibfind(const char* name);
std::string ibask(int ud, int option, const int* value, const CallOutcome& outcome);
/// ibsre, ibtmo, ibonl: "ibtmo(0, 12)".
std::string setting(const char* name, int ud, int value);
std::string SendIFC(int board);
std::string DevClear(int board, std::uint16_t address);
std::string FindLstn(int board, const std::uint16_t* padList, const std::uint16_t* resultList, int limit,
                     const CallOutcome& outcome);
/// `eotMode` by its name, the same whichever driver's numbers it came in: see endModeName.
std::string Send(int board, std::uint16_t address, const void* buffer, long count,
                 const std::string& eotMode);
/// The numbering of Send's end modes: NI's (NLend 1, DABend 2) or linux-gpib's (DABend 1, NLend 2).
enum class EndModes { Ni, LinuxGpib };
/// "NULLend", "NLend", "DABend"; a number no mode has as it is.
std::string endModeName(int mode, EndModes numbering);
std::string Receive(int board, std::uint16_t address, const void* buffer, long count, int termination,
                    const CallOutcome& outcome);
std::string SendCmds(int board, const void* commands, long count);
/// A "++" adapter's own trigger of a unit, which no board's library has.
std::string TriggerUnit(int board, std::uint16_t address);
/// The trace's line of a call: `Send(0, 5, "*ESR?", 5, 1) -> 0x2128 0 6`.
std::string line(const std::string& call, const CallOutcome& outcome);
} // namespace calltext

} // namespace ktq::bus
