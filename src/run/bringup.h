// The board's bring-up before a run: board GPIB0 opened and made ready for the search.
#pragma once

#include "advice.h"
#include "busstep.h"
#include "sharedstate.h"

#include "bus/status.h"

#include <QString>

#include <optional>

namespace ktq::bus {
class MessageBus;
class TrafficLog;
} // namespace ktq::bus

namespace ktq::run {

/// The call of the bring-up that failed: the report's message, the step for the advice, and
/// the status it left.
struct BringUpFailure {
    QString message;
    BusStep step = BusStep::SetUpBoard;
    bus::StatusSnapshot status;
};

/// Brings the bus up for a run (on a board: ibfind, ibask, SendIFC, ibsre, ibtmo, stopping at the
/// first call that fails) and says where it stopped as the report's message and step. What the
/// bring-up opened is given back on release, on the next bring-up and at the end.
class BoardBringUp {
public:
    explicit BoardBringUp(bus::MessageBus& bus, SharedState& state);
    ~BoardBringUp();
    BoardBringUp(const BoardBringUp&) = delete;
    BoardBringUp& operator=(const BoardBringUp&) = delete;

    std::optional<BringUpFailure> bringUp();
    void release();

    /// Said beside a failure's report: what to check, and for an adapter named that could not be
    /// used, why.
    QString advice(const BringUpFailure& failure, const QString& model) const;
    /// What the bus goes through, for the operator; empty for a board.
    QString linkDescription() const;
    /// What the program will try at start, said before anything is sent.
    QString startAdvice() const;
    /// Every call made on the bus, for the Bus Traffic window.
    bus::TrafficLog& traffic();
    /// The operator asked to leave while a step is under way (or no longer waits).
    bool leaveOnceOverdue(bool asked);

private:
    bus::MessageBus& m_bus;
    SharedState& m_state;
};

} // namespace ktq::run
