// What the program will try on the bus at its first bring-up, known before anything is sent.
#pragma once

#include <string>

namespace ktq::bus {

/// What the first ibfind will try, known at start before anything is sent to a board or a port.
struct DriverPlan {
    std::string library;      // the driver library file loaded; empty where none loaded
    std::string namedAdapter; // the adapter the operator named (KTQ_GPIB_ADAPTER); empty for none
    bool asksPorts = false;   // where board GPIB0 does not open, serial ports are asked for an adapter
};

} // namespace ktq::bus
