// What went over the bus: every driver call the program made, as it completed, kept in memory.
#include "traffic.h"

#include "calltext.h"
#include "errorreport.h"

#include <QDateTime>
#include <QTime>

#include <array>
#include <utility>

namespace ktq::bus {

namespace {

constexpr std::array<const char*, trafficColumnCount> columnTitles{"#",     "Time",  "Call",    "Status",
                                                                   "Error", "Count", "Duration"};

QString timeText(std::chrono::milliseconds sinceMidnight) {
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(sinceMidnight.count() % (24 * 3600 * 1000)))
        .toString(QStringLiteral("HH:mm:ss.zzz"));
}

// Microseconds below a millisecond, a tenth of a millisecond below ten seconds, whole ones above.
QString durationText(std::chrono::microseconds duration) {
    const auto us = duration.count();
    if (us < 1000)
        return QString::number(us) + QStringLiteral(" us");
    if (us < 10'000'000)
        return QString::number(static_cast<double>(us) / 1000.0, 'f', 1) + QStringLiteral(" ms");
    return QString::number(us / 1000) + QStringLiteral(" ms");
}

QString statusText(const StatusSnapshot& status) {
    const QString bits = statusBitNames(status.ibsta);
    return QString::fromStdString(hex4(status.ibsta)) +
           (bits.isEmpty() ? QString() : QLatin1Char(' ') + bits);
}

// The error code means something only where the call failed.
QString errorText(const StatusSnapshot& status) {
    return status.failed() ? gpibErrorMnemonic(status.iberr) : QString();
}

QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')))
        return text;
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

} // namespace

QString trafficColumnTitle(TrafficColumn column) {
    return QLatin1String(columnTitles.at(static_cast<std::size_t>(column)));
}

QString trafficCell(const CallRecord& record, TrafficColumn column) {
    switch (column) {
    case TrafficColumn::Number:
        return QString::number(record.number);
    case TrafficColumn::Time:
        return timeText(record.timeOfDay);
    case TrafficColumn::Call:
        return QString::fromStdString(record.call);
    case TrafficColumn::Status:
        return statusText(record.status);
    case TrafficColumn::Error:
        return errorText(record.status);
    case TrafficColumn::Count:
        return QString::number(record.status.ibcntl);
    case TrafficColumn::Duration:
        return durationText(record.duration);
    }
    return {};
}

QString trafficLine(const CallRecord& record) {
    QStringList cells;
    for (int column = 0; column < trafficColumnCount; ++column) {
        const QString cell = trafficCell(record, static_cast<TrafficColumn>(column));
        if (!cell.isEmpty())
            cells << cell;
    }
    return cells.join(QStringLiteral("  "));
}

QString trafficDetail(const CallRecord& record) {
    QString text;
    for (int column = 0; column < trafficColumnCount; ++column) {
        const auto which = static_cast<TrafficColumn>(column);
        text +=
            trafficColumnTitle(which) + QStringLiteral(": ") + trafficCell(record, which) + QLatin1Char('\n');
    }
    if (record.failed())
        text += QStringLiteral("Error code: ") + gpibErrorName(record.status.iberr) + QLatin1Char('\n');
    if (!record.dialogue.empty()) {
        text += QStringLiteral("Adapter dialogue:\n");
        for (const std::string& line : record.dialogue)
            text += QStringLiteral("  ") + QString::fromStdString(line) + QLatin1Char('\n');
    }
    return text;
}

QString trafficCsv(const std::vector<CallRecord>& records) {
    QStringList titles;
    for (int column = 0; column < trafficColumnCount; ++column)
        titles << trafficColumnTitle(static_cast<TrafficColumn>(column));
    titles << QStringLiteral("Dialogue");
    QString csv = titles.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const CallRecord& record : records) {
        QStringList fields;
        for (int column = 0; column < trafficColumnCount; ++column)
            fields << csvField(trafficCell(record, static_cast<TrafficColumn>(column)));
        QStringList dialogue;
        for (const std::string& line : record.dialogue)
            dialogue << QString::fromStdString(line);
        fields << csvField(dialogue.join(QLatin1Char('\n')));
        csv += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return csv;
}

QString trafficText(const std::vector<CallRecord>& records) {
    QString text;
    for (const CallRecord& record : records) {
        text += trafficLine(record) + QLatin1Char('\n');
        for (const std::string& line : record.dialogue)
            text += QStringLiteral("    ") + QString::fromStdString(line) + QLatin1Char('\n');
    }
    return text;
}

std::chrono::steady_clock::time_point SystemTrafficClock::now() {
    return std::chrono::steady_clock::now();
}

std::chrono::milliseconds SystemTrafficClock::timeOfDay() {
    return std::chrono::milliseconds(QTime::currentTime().msecsSinceStartOfDay());
}

void TrafficLog::add(CallRecord record) {
    const std::lock_guard guard(m_lock);
    record.number = ++m_latest;
    m_records.push_back(std::move(record));
    while (m_records.size() > m_capacity) {
        m_records.pop_front();
        ++m_dropped;
    }
}

std::vector<CallRecord> TrafficLog::since(std::uint64_t number) const {
    const std::lock_guard guard(m_lock);
    // Numbers rise by one from the front, so the first one wanted is found by arithmetic.
    std::size_t first = 0;
    if (!m_records.empty() && number >= m_records.front().number)
        first = static_cast<std::size_t>(number - m_records.front().number + 1);
    if (first >= m_records.size())
        return {};
    return {m_records.begin() + static_cast<std::ptrdiff_t>(first), m_records.end()};
}

std::uint64_t TrafficLog::latest() const {
    const std::lock_guard guard(m_lock);
    return m_latest;
}

std::uint64_t TrafficLog::dropped() const {
    const std::lock_guard guard(m_lock);
    return m_dropped;
}

std::size_t TrafficLog::size() const {
    const std::lock_guard guard(m_lock);
    return m_records.size();
}

void TrafficLog::clear() {
    const std::lock_guard guard(m_lock);
    m_records.clear();
    m_dropped = 0;
}

void DialogueRecorder::sent(std::string_view bytes) {
    const std::lock_guard guard(m_lock);
    // What came back before this is complete, whether its line ended or not.
    finish(m_receiving, "< ");
    add(m_sending, "> ", bytes);
}

void DialogueRecorder::received(std::string_view bytes) {
    const std::lock_guard guard(m_lock);
    finish(m_sending, "> ");
    add(m_receiving, "< ", bytes);
}

std::vector<std::string> DialogueRecorder::take() {
    const std::lock_guard guard(m_lock);
    finish(m_sending, "> ");
    finish(m_receiving, "< ");
    return std::exchange(m_lines, {});
}

void DialogueRecorder::add(std::string& partial, const char* prefix, std::string_view bytes) {
    for (const char ch : bytes) {
        // An adapter takes a line feed after ESC as data, so it ends no line.
        if (ch == '\n' && !(partial.empty() || partial.back() != '\x1b')) {
            partial += ch;
        } else if (ch == '\n') {
            if (!partial.empty() && partial.back() == '\r')
                partial.pop_back();
            m_lines.push_back(prefix + escaped(partial));
            partial.clear();
        } else {
            partial += ch;
        }
    }
}

void DialogueRecorder::finish(std::string& partial, const char* prefix) {
    if (partial.empty())
        return;
    m_lines.push_back(prefix + escaped(partial));
    partial.clear();
}

} // namespace ktq::bus
