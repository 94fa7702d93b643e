// NI-488.2's status bits, error codes and end modes, as the program speaks them.
#pragma once

#include <array>
#include <chrono>
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
/// What each timeout code stands for: 0 no limit at all, 1 (10 us) to 17 (1000 s).
inline constexpr std::array<std::chrono::microseconds, 18> timeoutDurations{
    std::chrono::microseconds(0),         std::chrono::microseconds(10),
    std::chrono::microseconds(30),        std::chrono::microseconds(100),
    std::chrono::microseconds(300),       std::chrono::microseconds(1000),
    std::chrono::microseconds(3000),      std::chrono::microseconds(10000),
    std::chrono::microseconds(30000),     std::chrono::microseconds(100000),
    std::chrono::microseconds(300000),    std::chrono::microseconds(1000000),
    std::chrono::microseconds(3000000),   std::chrono::microseconds(10000000),
    std::chrono::microseconds(30000000),  std::chrono::microseconds(100000000),
    std::chrono::microseconds(300000000), std::chrono::microseconds(1000000000)};
inline constexpr int IbaPAD = 1;
inline constexpr std::uint16_t NOADDR = 0xFFFF;

} // namespace ktq::bus::ni
