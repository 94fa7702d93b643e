// NI-488.2's status bits, error codes and end modes, as the program speaks them.
#pragma once

#include <cstdint>

// NI-488.2 values as the rest of the program speaks them. A driver whose library uses other
// numbers translates at its own boundary (see GpibDriver implementations).
namespace ktq::bus::ni {

inline constexpr int ERR = 0x8000;
inline constexpr int TIMO = 0x4000;
inline constexpr int END = 0x2000;
inline constexpr int CMPL = 0x0100;
inline constexpr int CIC = 0x0020;

inline constexpr int EDVR = 0;
inline constexpr int ECIC = 1;
inline constexpr int ENOL = 2;
inline constexpr int EADR = 3;
inline constexpr int EARG = 4;
inline constexpr int ESAC = 5;
inline constexpr int EABO = 6;
inline constexpr int ENEB = 7;
inline constexpr int EOIP = 10;
inline constexpr int ECAP = 11;
inline constexpr int EFSO = 12;
inline constexpr int EBUS = 14;
inline constexpr int ESTB = 15;
inline constexpr int ESRQ = 16;
inline constexpr int ETAB = 20;

inline constexpr int NULLend = 0;
inline constexpr int NLend = 1;
inline constexpr int DABend = 2;
inline constexpr int STOPend = 0x0100;

inline constexpr int T3s = 12;
inline constexpr int IbaPAD = 1;
inline constexpr std::uint16_t NOADDR = 0xFFFF;

} // namespace ktq::bus::ni
