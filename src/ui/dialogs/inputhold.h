// The operator's input held back while a step waits.
#pragma once

#include "bus/steps/steps.h"

namespace ktq::ui {

/// Holds back the keys, clicks and close requests that Qt has already taken from the window
/// system and queued for delivery, and queues them again, first, when the step goes on. What the
/// window system still keeps stays there: the event loop leaves it while a step waits.
bus::HeldInput& queuedInputHold();

} // namespace ktq::ui
