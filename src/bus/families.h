// The names the driver families give, by which the advice tells their error codes apart.
#pragma once

namespace ktq::bus {

inline constexpr const char* linuxGpibFamily = "linux-gpib";
inline constexpr const char* niFamily = "NI-488.2";
/// Every "++" adapter driver, whichever adapter it reached.
inline constexpr const char* adapterFamily = "GPIB adapter";

} // namespace ktq::bus
