// The table of driver calls the Bus Traffic window shows: the latest ones, oldest first.
#include "trafficmodel.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <algorithm>
#include <iterator>

namespace ktq::ui {

namespace {

using bus::TrafficColumn;

bool isNumber(TrafficColumn column) {
    return column == TrafficColumn::Number || column == TrafficColumn::Count ||
           column == TrafficColumn::Duration;
}

// How a failed call stands out besides the "ERR" its status begins with. Its own text colour
// keeps it readable on the light background under a dark desktop palette too.
QVariant failedLook(int role, TrafficColumn column, const QString& cell) {
    switch (role) {
    case Qt::FontRole: {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    case Qt::BackgroundRole:
        return QBrush(QColor(0xff, 0xdc, 0xdc));
    case Qt::ForegroundRole:
        return QBrush(Qt::black);
    case Qt::AccessibleTextRole:
        return column == TrafficColumn::Status ? QStringLiteral("Failed: ") + cell : QVariant();
    case Qt::AccessibleDescriptionRole:
        return QStringLiteral("This call failed");
    default:
        return {};
    }
}

} // namespace

TrafficModel::TrafficModel(std::size_t capacity, QObject* parent)
    : QAbstractTableModel(parent), m_capacity(capacity) {}

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : bus::trafficColumnCount;
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const bus::CallRecord& call = record(index.row());
    const auto column = static_cast<TrafficColumn>(index.column());
    if (role == Qt::DisplayRole)
        return bus::trafficCell(call, column);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignVCenter | (isNumber(column) ? Qt::AlignRight : Qt::AlignLeft));
    return call.failed() ? failedLook(role, column, bus::trafficCell(call, column)) : QVariant();
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= bus::trafficColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return bus::trafficColumnTitle(static_cast<TrafficColumn>(section));
}

std::size_t TrafficModel::append(std::vector<bus::CallRecord> records) {
    // A batch larger than the table holds keeps only its latest calls: none is inserted only to
    // be removed again.
    if (records.size() > m_capacity)
        records.erase(records.begin(), records.end() - static_cast<std::ptrdiff_t>(m_capacity));
    if (records.empty())
        return 0;
    const std::size_t overflow =
        m_rows.size() + records.size() > m_capacity ? m_rows.size() + records.size() - m_capacity : 0;
    if (overflow > 0) {
        beginRemoveRows({}, 0, static_cast<int>(overflow) - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(overflow));
        endRemoveRows();
    }
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(records.size()) - 1);
    std::move(records.begin(), records.end(), std::back_inserter(m_rows));
    endInsertRows();
    return overflow;
}

void TrafficModel::clear() {
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

std::vector<bus::CallRecord> TrafficModel::records(QList<int> rows) const {
    std::sort(rows.begin(), rows.end());
    std::vector<bus::CallRecord> out;
    out.reserve(static_cast<std::size_t>(rows.size()));
    for (const int row : rows)
        if (row >= 0 && row < rowCount())
            out.push_back(record(row));
    return out;
}

} // namespace ktq::ui
