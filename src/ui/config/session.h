// What every window of a program run shares: the bus, the run's facts, the desktop and the pause.
#pragma once

namespace ktq::bus {
class MessageBus;
}

namespace ktq::run {
class Pauser;
struct SharedState;
} // namespace ktq::run

namespace ktq::ui {

class Interaction;
using run::Pauser;
using run::SharedState;

/// What every window of a program run shares: the bus, the shared values, the desktop and the
/// pause. All of them outlive the windows.
struct Session {
    bus::MessageBus& bus;
    SharedState& state;
    Interaction& interaction;
    Pauser& pauser;
};

} // namespace ktq::ui
