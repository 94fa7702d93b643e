// The Bus Traffic window: every driver call the program made, as it made them.
#pragma once

#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <vector>

class QLabel;
class QModelIndex;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace ktq::bus {
struct CallRecord;
class TrafficLog;
} // namespace ktq::bus

namespace ktq::ui {

class Interaction;
class TrafficModel;

/// Shows the traffic log as a table that follows the calls while a run goes, the whole of the
/// selected call below it, and copies, clears, pauses and saves what it shows. It reads the log
/// only; nothing reaches a disk but through Save As.
class BusTrafficWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds pollInterval{200};

    BusTrafficWindow(bus::TrafficLog& log, Interaction& interaction, QWidget* parent = nullptr);
    ~BusTrafficWindow() override;

    /// Takes the calls logged since the last refresh, unless paused; while shown, the window does
    /// this every pollInterval.
    void refresh();
    void copySelected();
    void copyAll();
    void clear();
    void saveAs();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildControls();
    QPushButton* makeButton(const char* name, const QString& text, const QString& caption);
    void arrangeControls();
    void connectControls();
    void showDetail(const QModelIndex& current);
    void showNote();
    std::vector<bus::CallRecord> selectedRecords() const;
    bool write(const QString& fileName, const QByteArray& bytes, QString& error) const;

    bus::TrafficLog& m_log;
    Interaction& m_interaction;
    std::uint64_t m_lastNumber = 0; // the latest call taken from the log
    QTimer m_poll;

    TrafficModel* m_model = nullptr;
    QTableView* m_table = nullptr;
    QPlainTextEdit* m_detail = nullptr;
    QLabel* m_note = nullptr;
    QPushButton* m_copy = nullptr;
    QPushButton* m_copyAll = nullptr;
    QPushButton* m_clear = nullptr;
    QPushButton* m_pause = nullptr;
    QPushButton* m_saveAs = nullptr;
    QPushButton* m_close = nullptr;
};

} // namespace ktq::ui
