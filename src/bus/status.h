// The driver's status after a call, as the operator's report and the advice read it.
#pragma once

#include <cstdint>

namespace ktq::bus {

/// Driver status after the last call, as the driver's per-thread functions report it.
struct StatusSnapshot {
    std::int16_t ibsta = 0;
    std::int16_t iberr = 0;
    std::int16_t ibcnt = 0;
    std::int32_t ibcntl = 0;

    bool failed() const { return ibsta < 0; }
};

} // namespace ktq::bus
