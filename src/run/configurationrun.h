// One configuration run's talk with its unit, without a window: the model's table, where the menu
// stands, what was saved, and every bus call of the menu.
#pragma once

#include "advice.h"
#include "busstep.h"
#include "sharedstate.h"

#include "bus/status.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace ktq::bus {
class MessageBus;
}

namespace ktq::run {

class Pauser;

/// The outcome of a query: what came back and the first of its two calls that failed.
struct QueryOutcome {
    QString reply;                                   // as read; the blank pre-fill where nothing came
    bus::StatusSnapshot receiveStatus;               // the receive's own status
    std::optional<bus::StatusSnapshot> firstFailure; // the send's, or else the receive's failure
    bool receiveFailed() const { return receiveStatus.failed(); }
};

/// What a function's query brought, for its line in the list.
struct FunctionReading {
    QString setting;                            // what the line shows after the prompt
    std::optional<bus::StatusSnapshot> failure; // the reply never came: the first failed call
    bus::StatusSnapshot reported;               // the status of the last call, for the report
    bool silentUnit = false;                    // two queries in and no reply of the model's own
};

/// What became of a value the operator set, for its line in the list.
struct SettingVerdict {
    QString shown;        // "No response", "Error - retry" or the value read back, with its line end
    bool refused = false; // the unit's status said it did not take the value
};

/// What a search of the bus found: the driver's count (0 when it found nothing or failed), the
/// listeners' address words in the order found (at most as many as the driver may write), and the
/// search's status.
struct ListenerSearch {
    std::int16_t count = 0;
    std::vector<std::int16_t> addresses;
    bus::StatusSnapshot status;

    /// The driver could not search at all (EDVR): nobody counts as found.
    bool driverFault() const;
    /// More listeners answered than the driver may write (ETAB).
    bool tooMany() const;
};

/// What became of an end-of-run button's commands: the status of the last that went out, and the
/// first failure among them.
struct StoreOutcome {
    bus::StatusSnapshot last;
    std::optional<bus::StatusSnapshot> failure;
};

/// One run with one unit: which function the menu is at, whether the unit's memory holds what it
/// took, and whether the board is gone. Every call goes through it; a call is not made once the
/// board is known to be gone, and `boardGoneAt` hears of each such step with the status that
/// said so.
class ConfigurationRun {
public:
    using BoardGone = std::function<void(BusStep step, const bus::StatusSnapshot& status)>;

    ConfigurationRun(bus::MessageBus& bus, SharedState& state, Pauser& pauser, BoardGone boardGoneAt);

    // The model's table.
    int functionCount() const;
    QString functionPrompt(int index) const;
    QString queryText(int index) const;
    bool isMultiChannelModel() const;

    /// The function the menu is at, numbered from 1.
    int functionIndex() const { return m_functionIndex; }
    /// Back to the first function, no reply of the model's counted.
    void startList();
    /// On to the next function; false past the last.
    bool nextFunction();

    /// Settings went into the unit's memory, or the operator has been warned once that they did not.
    bool saved() const { return m_saved; }
    void setSaved(bool saved) { m_saved = saved; }
    /// Set Address and a new run try the board again.
    void tryBoardAgain() { m_boardGone = false; }

    /// Takes the address the operator typed: a primary address (0 to 30), or 100 times one plus a
    /// secondary address (0 to 30). False where it is out of range; the primary keeps a whole
    /// entry even then.
    bool setAddress(const QString& entry);
    /// The chosen channel of a unit whose channels answer at secondary addresses: 10 + channel.
    void addressChannel();

    /// The driver's family, which the advice tells error codes apart by.
    std::string_view driverFamily() const;
    /// The operator asked to leave while a step is under way (or no longer waits).
    bool leaveOnceOverdue(bool asked);

    /// Makes one driver call unless the board is known to be gone; either way the status of the
    /// last call made (that of the one that found the board gone, once it is).
    bus::StatusSnapshot onBoard(BusStep step, const std::function<bus::StatusSnapshot()>& call);
    bus::StatusSnapshot sendText(const QString& text, BusStep step = BusStep::Query);
    /// Asks the bus which of the addresses 1 to 30 have a listener.
    ListenerSearch findListeners();
    /// The interface clear that returns every unit to its idle state.
    bus::StatusSnapshot clearInterface();
    /// The interface clear and the device clear of the unit at the address set.
    bus::StatusSnapshot clearUnit();
    /// Sends the commands of an end-of-run button, every one of them whatever the one before did;
    /// a save that went out means the unit's memory holds what it took.
    StoreOutcome store(StoreAction action);
    /// Sends the query and reads the reply.
    QueryOutcome ask(const QString& query);
    /// The bus trigger of a power-cycled unit, a pause after each of its calls.
    void sendTrigger();
    void ShortPause();
    /// A reply up to and with its first line feed; the whole of it when there is none.
    static QString TrimResponse(const QString& reply);

    /// The current function's query, with the trigger and unlock before the first.
    FunctionReading readFunction();
    /// Sets the current function to `value` and reads back what the unit made of it.
    SettingVerdict setFunction(const QString& value);

private:
    QString receiveReply(bus::StatusSnapshot& status);

    bus::MessageBus& m_bus;
    SharedState& m_state;
    Pauser& m_pauser;
    BoardGone m_boardGoneAt;
    int m_functionIndex = 1;
    bool m_saved = false;
    // Replies to this run's queries other than the bus address, for telling a unit that does not
    // answer as the model chosen.
    int m_modelQueriesAnswered = 0;
    // The driver said the board itself is gone: nothing more goes out until the operator starts
    // again with Set Address or a new run. A call not made leaves the status of the one that found
    // the board gone, so every check of the pass reports that.
    bool m_boardGone = false;
    bus::StatusSnapshot m_lastStatus; // of the last call this run made
};

} // namespace ktq::run
