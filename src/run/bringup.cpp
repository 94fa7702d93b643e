// The board's bring-up before a run.
#include "bringup.h"

#include "bus/messagebus.h"

#include <string>

namespace ktq::run {

BoardBringUp::BoardBringUp(bus::MessageBus& bus, SharedState& state) : m_bus(bus), m_state(state) {}

BoardBringUp::~BoardBringUp() {
    release();
}

void BoardBringUp::release() {
    m_bus.release();
}

std::optional<BringUpFailure> BoardBringUp::bringUp() {
    const bus::BringUpResult result = m_bus.bringUp(m_state.BoardIndex);
    m_state.BoardDescriptor = result.descriptor;
    if (!result.stop) {
        return std::nullopt;
    }
    const bus::BringUpStop& stop = *result.stop;
    return BringUpFailure{QString::fromLatin1(stop.message),
                          stop.opening ? BusStep::FindBoard : BusStep::SetUpBoard, stop.status};
}

QString BoardBringUp::advice(const BringUpFailure& failure, const QString& model) const {
    QString advice = busAdvice(BusFailure{failure.step, failure.status, m_bus.family(), {}, model});
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
    return run::startAdvice(m_bus.plan(), m_bus.family());
}

bus::TrafficLog& BoardBringUp::traffic() {
    return m_bus.traffic();
}

bool BoardBringUp::leaveOnceOverdue(bool asked) {
    return m_bus.leaveOnceOverdue(asked);
}

} // namespace ktq::run
