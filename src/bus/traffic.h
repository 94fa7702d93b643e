// What went over the bus: every driver call the program made, as it completed, kept in memory.
#pragma once

#include "linklistener.h"
#include "status.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::bus {

/// One driver call as it completed.
struct CallRecord {
    std::uint64_t number = 0;              // 1 for the program's first call, never reused
    std::chrono::milliseconds timeOfDay{}; // local time since midnight when the call began
    std::chrono::microseconds duration{};
    /// The call with its arguments and what it gave back, as the bench's trace prints it:
    /// `Send(0, 5, "*ESR?", 5, 1)`, `Receive(0, 5, 18, 0) "32\n"`.
    std::string call;
    StatusSnapshot status;
    /// The "++" adapter's dialogue the call took: "> ++addr 5" for a line sent, "< 82" for one
    /// that came back; empty for a board.
    std::vector<std::string> dialogue;

    bool failed() const { return status.failed(); }
};

/// The columns the traffic is shown and shared in, in this order.
enum class TrafficColumn { Number, Time, Call, Status, Error, Count, Duration };
inline constexpr int trafficColumnCount = 7;

/// "#", "Time", "Call", "Status", "Error", "Count", "Duration".
QString trafficColumnTitle(TrafficColumn column);
/// A record's text in one column, as the window shows it: the time as "14:03:07.125", the status
/// as "0xc124 ERR TIMO CMPL CIC LACS", the error as "EABO" where ERR is set (else empty), the
/// duration as "3.1 ms".
QString trafficCell(const CallRecord& record, TrafficColumn column);
/// One line of plain text for a record: its cells in column order, separated by two blanks.
QString trafficLine(const CallRecord& record);
/// The whole of a record, for its detail: every cell, the call's data in full and the dialogue.
QString trafficDetail(const CallRecord& record);
/// CSV: the column titles, then one row a record, fields quoted where they need it, CR LF ends.
QString trafficCsv(const std::vector<CallRecord>& records);
/// Plain text: one trafficLine a record, "\n" after each.
QString trafficText(const std::vector<CallRecord>& records);

/// Where a call's time and duration come from; tests give their own.
class TrafficClock {
public:
    virtual ~TrafficClock() = default;
    virtual std::chrono::steady_clock::time_point now() = 0;
    virtual std::chrono::milliseconds timeOfDay() = 0;
};

/// The system's clocks.
class SystemTrafficClock final : public TrafficClock {
public:
    std::chrono::steady_clock::time_point now() override;
    std::chrono::milliseconds timeOfDay() override;
};

/// The last `capacity` calls, with a count of the older ones that fell off the front. Calls are
/// added from the thread that makes them and read from the window's; every member is safe from
/// any thread.
class TrafficLog {
public:
    static constexpr std::size_t defaultCapacity = 10000;
    explicit TrafficLog(std::size_t capacity = defaultCapacity) : m_capacity(capacity) {}

    /// Numbers the record (the number given is ignored) and keeps it.
    void add(CallRecord record);
    /// The records kept whose number is above `number`, oldest first.
    std::vector<CallRecord> since(std::uint64_t number) const;
    /// The number of the latest record added; 0 before the first.
    std::uint64_t latest() const;
    /// How many records fell off the front since the program started or the last clear.
    std::uint64_t dropped() const;
    std::size_t size() const;
    std::size_t capacity() const { return m_capacity; }
    /// Forgets every record kept; numbering goes on.
    void clear();

private:
    mutable std::mutex m_lock;
    std::deque<CallRecord> m_records;
    std::size_t m_capacity = defaultCapacity;
    std::uint64_t m_latest = 0;
    std::uint64_t m_dropped = 0;
};

/// Gathers what a driver exchanged with an adapter during one call, as lines: bytes sent and
/// received are split at line feeds, their line ends dropped and the rest escaped as C does.
class DialogueRecorder final : public LinkListener {
public:
    void sent(std::string_view bytes) override;
    void received(std::string_view bytes) override;
    /// The lines since the last take, an unfinished line last; starts afresh.
    std::vector<std::string> take();

private:
    void add(std::string& partial, const char* prefix, std::string_view bytes);
    void finish(std::string& partial, const char* prefix);

    std::mutex m_lock;
    std::vector<std::string> m_lines;
    std::string m_sending;
    std::string m_receiving;
};

} // namespace ktq::bus
