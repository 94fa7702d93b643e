// The bus in messages over a driver that speaks NI-488.2's calls.
#include "driverbus.h"

#include "gpib32.h"
#include "gpibconstants.h"

#include <algorithm>
#include <array>

namespace ktq::bus {

namespace {
constexpr std::int16_t boardPrimaryAddressOption = ni::IbaPAD;
constexpr std::int16_t timeout3s = ni::T3s;
// Room for every address a driver could write, whatever limit it was given.
constexpr std::size_t listenerTableSize = 65;

std::int16_t wordOf(BusAddress unit) {
    return static_cast<std::int16_t>(unit.word());
}

std::optional<BringUpStop> stopAt(const StatusSnapshot& status, const char* message) {
    if (!status.failed()) {
        return std::nullopt;
    }
    return BringUpStop{message, false, status};
}
} // namespace

DriverBus::DriverBus(Gpib32& calls) : m_calls(calls) {}

// linux-gpib makes a new descriptor on every ibfind and has room for 4,080 of them; the board
// index itself is never given back (it is what the bus calls use, and linux-gpib refuses it).
void DriverBus::release() {
    if (m_openDescriptor >= 0 && m_openDescriptor != m_board) {
        m_calls.GpibOnl(m_openDescriptor, 0);
    }
    m_openDescriptor = -1;
}

BringUpResult DriverBus::bringUp(std::int16_t board) {
    release();
    m_board = board;
    BringUpResult result;
    if (const StatusSnapshot found = m_calls.GpibFind(QStringLiteral("GPIB0"), &result.descriptor);
        found.failed()) {
        result.stop = BringUpStop{"ibfind error", true, found};
        return result;
    }
    m_openDescriptor = result.descriptor;
    result.stop = setUpBoard(result.descriptor);
    return result;
}

std::optional<BringUpStop> DriverBus::setUpBoard(std::int16_t descriptor) {
    std::int16_t scratch = 0;
    if (auto stop = stopAt(m_calls.GpibAsk(descriptor, boardPrimaryAddressOption, scratch), "ibask error")) {
        return stop;
    }
    if (auto stop = stopAt(m_calls.GpibSendIFC(m_board), "SendIFC error")) {
        return stop;
    }
    if (auto stop = stopAt(m_calls.GpibSre(descriptor, 1), "ibsre Error")) {
        return stop;
    }
    if (auto stop = stopAt(m_calls.GpibTmo(descriptor, timeout3s), "ibtmo Error")) {
        return stop;
    }
    // linux-gpib keeps a timeout for the descriptor it was set on, and the bus calls on the board
    // index wait as long as the board's own (gpib.conf's) says. Where ibfind answered with the
    // board index itself, as NI-488.2 may, the one call has set the timeout they use.
    if (descriptor != m_board) {
        return stopAt(m_calls.GpibTmo(m_board, timeout3s), "ibtmo Error");
    }
    return std::nullopt;
}

StatusSnapshot DriverBus::clearInterface() {
    return m_calls.GpibSendIFC(m_board);
}

StatusSnapshot DriverBus::clear(BusAddress unit) {
    return m_calls.GpibDevClear(m_board, wordOf(unit));
}

StatusSnapshot DriverBus::findListeners(std::span<std::int16_t> found) {
    std::array<std::int16_t, highestPrimary + 1> candidates{};
    for (int k = 0; k < highestPrimary; ++k) {
        candidates[k] = static_cast<std::int16_t>(k + 1);
    }
    candidates[highestPrimary] = static_cast<std::int16_t>(ni::NOADDR);
    std::array<std::int16_t, listenerTableSize> listeners{};
    const auto limit = static_cast<std::int16_t>(std::min(found.size(), listeners.size()));
    const StatusSnapshot status = m_calls.GpibFindLstn(m_board, candidates, listeners, limit);
    std::copy_n(listeners.begin(), limit, found.begin());
    return status;
}

StatusSnapshot DriverBus::write(BusAddress unit, const QString& text) {
    return m_calls.GpibSend(m_board, wordOf(unit), text, static_cast<std::int16_t>(ni::NLend));
}

StatusSnapshot DriverBus::read(BusAddress unit, QString& text) {
    constexpr std::int16_t endAtZeroByte = 0;
    return m_calls.GpibReceive(m_board, wordOf(unit), text, endAtZeroByte);
}

int DriverBus::triggerSteps() const {
    return m_calls.triggerSteps();
}

StatusSnapshot DriverBus::trigger(BusAddress unit, int step) {
    return m_calls.GpibTrigger(m_board, wordOf(unit), step);
}

bool DriverBus::boardGone() const {
    return m_calls.boardGone();
}

std::string_view DriverBus::family() const {
    return m_calls.driverFamily();
}

std::string DriverBus::linkDescription() const {
    return m_calls.linkDescription();
}

DriverPlan DriverBus::plan() const {
    return m_calls.driverPlan();
}

std::string DriverBus::unreachableReason() const {
    return m_calls.unreachableReason();
}

TrafficLog& DriverBus::traffic() {
    return m_calls.traffic();
}

bool DriverBus::leaveOnceOverdue(bool asked) {
    return m_calls.leaveOnceOverdue(asked);
}

} // namespace ktq::bus
