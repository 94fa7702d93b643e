// The kernel side of an emulated linux-gpib board, as the real library sees it through ioctl.
#pragma once

#include "sim/wire/wirebus.h"

namespace ktq::sim::board {

struct ReadWrite;

/// The kernel side of a linux-gpib board as the real user library sees it through ioctl on its
/// device file, answered from a wire-level bus. The board is system controller and controller in
/// charge from the start, as gpib_config leaves a board configured as master; its own address is
/// the bus's controller address.
///
/// A read nobody answers fails with ETIMEDOUT after the board's timeout has passed on the bus (in
/// simulated time unless the bus waits), a write nobody listens to with ECOMM; the library turns
/// these into EABO with TIMO, and ENOL. A request the emulation does not know fails with EINVAL and
/// is reported once on standard error, so that a gap shows.
class EmulatedBoard {
public:
    /// ioctl's result: 0, or -1 with errno set.
    int control(WireBus& bus, unsigned long request, void* argument);

private:
    int transferData(WireBus& bus, unsigned long request, ReadWrite& transfer);
    int report(WireBus& bus, unsigned long request, void* argument);

    unsigned m_usecTimeout = 3000000;
    int m_eos = -1;
    bool m_eosEightBit = false;
    unsigned m_nextHandle = 1;
};

} // namespace ktq::sim::board
