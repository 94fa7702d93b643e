// linux-gpib's numbers and address word, as the simulated driver speaks them at its C boundary.
#pragma once

#include <cstdint>

namespace ktq::sim {

/// Address word of the multi-device calls: primary in the low byte, high byte 0 or 0x60 + secondary.
using Addr4882 = std::uint16_t;

/// linux-gpib's numbers, which the simulated driver speaks at its C boundary. The status bits and
/// error codes equal NI's; the end modes of Send do not (NI has NLend 1, DABend 2).
namespace lg {

inline constexpr int ERR = 0x8000;
inline constexpr int TIMO = 0x4000;
inline constexpr int END = 0x2000;
inline constexpr int SRQI = 0x1000;
inline constexpr int RQS = 0x0800;
inline constexpr int CMPL = 0x0100;
inline constexpr int LOK = 0x0080;
inline constexpr int REM = 0x0040;
inline constexpr int CIC = 0x0020;
inline constexpr int ATN = 0x0010;
inline constexpr int TACS = 0x0008;
inline constexpr int LACS = 0x0004;

inline constexpr int EDVR = 0;
inline constexpr int ECIC = 1;
inline constexpr int ENOL = 2;
inline constexpr int EADR = 3;
inline constexpr int EARG = 4;
inline constexpr int ESAC = 5;
inline constexpr int EABO = 6;
inline constexpr int ENEB = 7;
inline constexpr int EDMA = 8;
inline constexpr int EOIP = 10;
inline constexpr int ECAP = 11;
inline constexpr int EFSO = 12;
inline constexpr int EBUS = 14;
inline constexpr int ESTB = 15;
inline constexpr int ESRQ = 16;
inline constexpr int ETAB = 20;

inline constexpr int NULLend = 0;
inline constexpr int DABend = 1;
inline constexpr int NLend = 2;
inline constexpr int STOPend = 0x0100;
inline constexpr Addr4882 NOADDR = 0xFFFF;

inline constexpr int IbaPAD = 0x1;
inline constexpr int IbaSAD = 0x2;
inline constexpr int IbaTMO = 0x3;

inline constexpr int TNONE = 0;
inline constexpr int T3s = 12;
inline constexpr int T10s = 13;
inline constexpr int T1000s = 17;

// Bus command bytes (sent with ATN asserted).
inline constexpr unsigned char GET = 0x08;
inline constexpr unsigned char SDC = 0x04;
inline constexpr unsigned char DCL = 0x14;
inline constexpr unsigned char GTL = 0x01;
inline constexpr unsigned char LLO = 0x11;
inline constexpr unsigned char SPE = 0x18;
inline constexpr unsigned char SPD = 0x19;
inline constexpr unsigned char LAD = 0x20; // + primary
inline constexpr unsigned char UNL = 0x3F;
inline constexpr unsigned char TAD = 0x40; // + primary
inline constexpr unsigned char UNT = 0x5F;
inline constexpr unsigned char SAD = 0x60; // + secondary

} // namespace lg

} // namespace ktq::sim
