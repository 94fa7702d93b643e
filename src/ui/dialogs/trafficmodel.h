// The table of driver calls the Bus Traffic window shows: the latest ones, oldest first.
#pragma once

#include "bus/traffic.h"

#include <QAbstractTableModel>

#include <cstddef>
#include <deque>
#include <vector>

namespace ktq::ui {

/// The calls the window holds, one row each and one column per TrafficColumn, at most
/// `capacity` of them: the oldest go first. A failed call is bold on a background of its own, and
/// its cells tell a screen reader that it failed.
class TrafficModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TrafficModel(std::size_t capacity, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    /// Adds the calls at the end; returns how many of the rows held before fell off the front.
    std::size_t append(std::vector<bus::CallRecord> records);
    void clear();

    const bus::CallRecord& record(int row) const { return m_rows.at(static_cast<std::size_t>(row)); }
    /// The calls of these rows, in the table's order whatever order the rows come in.
    std::vector<bus::CallRecord> records(QList<int> rows) const;
    std::vector<bus::CallRecord> records() const { return {m_rows.begin(), m_rows.end()}; }

private:
    std::deque<bus::CallRecord> m_rows;
    std::size_t m_capacity = bus::TrafficLog::defaultCapacity;
};

} // namespace ktq::ui
