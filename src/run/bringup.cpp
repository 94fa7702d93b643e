// The board's bring-up before a run.
#include "bringup.h"

#include "bus/gpib32.h"
#include "bus/gpibconstants.h"

#include <string>

namespace ktq::run {

namespace {
constexpr std::int16_t boardPrimaryAddressOption = bus::ni::IbaPAD;
constexpr std::int16_t timeout3s = bus::ni::T3s;
} // namespace

BoardBringUp::BoardBringUp(bus::Gpib32& bus, SharedState& state) : m_bus(bus), m_state(state) {}

BoardBringUp::~BoardBringUp() {
    release();
}

// linux-gpib makes a new descriptor on every ibfind and has room for 4,080 of them; the board
// index itself is never given back (it is what the bus calls use, and linux-gpib refuses it).
void BoardBringUp::release() {
    if (m_openDescriptor >= 0 && m_openDescriptor != m_state.BoardIndex) {
        m_bus.GpibOnl(m_openDescriptor, 0);
    }
    m_openDescriptor = -1;
}

std::optional<BringUpFailure> BoardBringUp::failedAt(const bus::StatusSnapshot& status, const char* message,
                                                     BusStep step) {
    if (!status.failed()) {
        return std::nullopt;
    }
    return BringUpFailure{QString::fromLatin1(message), step, status};
}

std::optional<BringUpFailure> BoardBringUp::bringUp() {
    SharedState& s = m_state;
    release();
    if (auto failure = failedAt(m_bus.GpibFind(QStringLiteral("GPIB0"), &s.BoardDescriptor), "ibfind error",
                                BusStep::FindBoard)) {
        return failure;
    }
    m_openDescriptor = s.BoardDescriptor;
    std::int16_t scratch = 0;
    if (auto failure =
            failedAt(m_bus.GpibAsk(s.BoardDescriptor, boardPrimaryAddressOption, scratch), "ibask error")) {
        return failure;
    }
    if (auto failure = failedAt(m_bus.GpibSendIFC(s.BoardIndex), "SendIFC error")) {
        return failure;
    }
    if (auto failure = failedAt(m_bus.GpibSre(s.BoardDescriptor, 1), "ibsre Error")) {
        return failure;
    }
    if (auto failure = failedAt(m_bus.GpibTmo(s.BoardDescriptor, timeout3s), "ibtmo Error")) {
        return failure;
    }
    // linux-gpib keeps a timeout for the descriptor it was set on, and the bus calls on the board
    // index wait as long as the board's own (gpib.conf's) says. Where ibfind answered with the
    // board index itself, as NI-488.2 may, the one call has set the timeout they use.
    if (s.BoardDescriptor != s.BoardIndex) {
        return failedAt(m_bus.GpibTmo(s.BoardIndex, timeout3s), "ibtmo Error");
    }
    return std::nullopt;
}

QString BoardBringUp::advice(const BringUpFailure& failure, const QString& model) const {
    QString advice = busAdvice(BusFailure{failure.step, failure.status, m_bus.driverFamily(), {}, model});
    // Why the adapter named could not be used: otherwise only on standard error.
    if (const std::string reason = m_bus.unreachableReason();
        failure.step == BusStep::FindBoard && !reason.empty()) {
        advice = QString::fromStdString(reason) + QStringLiteral(". ") + advice;
    }
    return advice;
}

QString BoardBringUp::linkDescription() const {
    return QString::fromStdString(m_bus.linkDescription());
}

QString BoardBringUp::startAdvice() const {
    return run::startAdvice(m_bus.driverPlan(), m_bus.driverFamily());
}

bus::TrafficLog& BoardBringUp::traffic() {
    return m_bus.traffic();
}

bool BoardBringUp::leaveOnceOverdue(bool asked) {
    return m_bus.leaveOnceOverdue(asked);
}

} // namespace ktq::run
