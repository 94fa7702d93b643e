// The bus in messages over a driver that speaks NI-488.2's calls: a board's library, or a "++"
// adapter driven as one.
#pragma once

#include "messagebus.h"

#include <cstdint>

namespace ktq::bus {

class Gpib32;

/// Each message as the driver calls a board takes: Send and Receive to the address word,
/// DevClear, FindLstn over the bus, and a trigger as bus commands (or the driver's own where it
/// has one). The bring-up is ibfind, ibask, SendIFC, ibsre and ibtmo.
class DriverBus final : public MessageBus {
public:
    explicit DriverBus(Gpib32& calls);
    DriverBus(const DriverBus&) = delete;
    DriverBus& operator=(const DriverBus&) = delete;

    BringUpResult bringUp(std::int16_t board) override;
    void release() override;
    StatusSnapshot clearInterface() override;
    StatusSnapshot clear(BusAddress unit) override;
    StatusSnapshot findListeners(std::span<std::int16_t> found) override;
    StatusSnapshot write(BusAddress unit, const QString& text) override;
    StatusSnapshot read(BusAddress unit, QString& text) override;
    int triggerSteps() const override;
    StatusSnapshot trigger(BusAddress unit, int step) override;

    bool boardGone() const override;
    std::string_view family() const override;
    std::string linkDescription() const override;
    DriverPlan plan() const override;
    std::string unreachableReason() const override;
    TrafficLog& traffic() override;
    bool leaveOnceOverdue(bool asked) override;

private:
    std::optional<BringUpStop> setUpBoard(std::int16_t descriptor);

    Gpib32& m_calls;
    std::int16_t m_board = 0;           // every multi-device call's board argument
    std::int16_t m_openDescriptor = -1; // what the last ibfind opened, to be given back
};

} // namespace ktq::bus
