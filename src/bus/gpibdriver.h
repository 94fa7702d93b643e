// The interface every NI-488.2 compatible driver offers the wrappers, generated from gpibcalls.h.
#pragma once

#include "driverplan.h"
#include "gpibcalls.h"
#include "linklistener.h"
#include "status.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ktq::bus {

/// One NI-488.2 driver: the calls the wrappers make, in NI terms and with NI constants.
class GpibDriver {
public:
    virtual ~GpibDriver() = default;

    /// The family of the driver library behind it ("linux-gpib", "NI-488.2"), which the advice
    /// tells error codes apart by; empty when no library is behind it.
    virtual std::string_view family() const = 0;
    /// What the driver reached and where, in the operator's words ("Prologix GPIB-USB 6.107 on
    /// /dev/ttyUSB0"); empty for a board its library reaches, which needs no saying.
    virtual std::string linkDescription() const { return {}; }
    /// What the first ibfind will try.
    virtual DriverPlan plan() const { return {}; }
    /// Why the last ibfind could not use the adapter the operator named, in the operator's words
    /// ("/dev/ttyUSB1 (KTQ_GPIB_ADAPTER) cannot be opened: ..."), or could not look for one at
    /// all; empty where it could, or none was named or needed.
    virtual std::string unreachableReason() const { return {}; }

    /// True where the driver triggers a unit with a command of its own (a "++" adapter's
    /// "++trg"), in one call of TriggerUnit; a board is sent the bus commands instead.
    virtual bool triggersItself() const { return false; }
    /// Triggers the unit at `address` (NI's address word); called only where triggersItself.
    virtual void TriggerUnit(int board, std::uint16_t address) {
        (void)board;
        (void)address;
    }

    /// Tells `listener` (or nobody, with nullptr) the bytes of every adapter link the driver uses
    /// from now on; a driver that speaks to no adapter has nothing to tell.
    virtual void setLinkListener(LinkListener* listener) { (void)listener; }

#define KTQ_DECLARE_CALL(result, name, params, args, ...) virtual result name params = 0;
    KTQ_GPIB_CALLS(KTQ_DECLARE_CALL)
#undef KTQ_DECLARE_CALL
};

} // namespace ktq::bus
