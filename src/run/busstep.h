// What the program was doing when a driver call was made, for the advice to tell apart.
#pragma once

namespace ktq::run {

/// What the program was doing when a driver call failed: the same code means different things
/// at bring-up and in a transfer to a unit.
enum class BusStep : unsigned {
    FindBoard = 1u << 0,  // ibfind("GPIB0")
    SetUpBoard = 1u << 1, // ibask, SendIFC, ibsre, ibtmo on the board
    Search = 1u << 2,     // FindLstn over the bus
    ClearUnit = 1u << 3,  // DevClear of the unit at the address set
    Query = 1u << 4,      // a function's query and its reply
    Store = 1u << 5,      // *SAV, CAL:LOCK, *PSC at the end of a run
};

} // namespace ktq::run
