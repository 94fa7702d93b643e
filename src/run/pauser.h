// The short pause a run takes after each setting, so that the unit has taken it.
#pragma once

#include <chrono>

namespace ktq::run {

/// The menu's short pause. Tests replace it so that nothing waits in real time.
class Pauser {
public:
    virtual ~Pauser() = default;
    virtual void pause(std::chrono::milliseconds duration) = 0;
};

} // namespace ktq::run
