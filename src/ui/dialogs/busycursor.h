#pragma once

#include "bus/busthread.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <vector>

namespace ktq::ui {

/// Watches the steps of the windows through their waits for the bus and for pauses. A step
/// begins with its first wait and ends when the window's thread next runs events outside one.
/// Once a step has taken `delay`, the cursor shows that the program is busy until the step
/// ends; a window's close button pressed during a step takes effect after it, so that no second
/// step starts inside a running one.
class BusyCursor final : public QObject, public bus::WaitObserver {
public:
    explicit BusyCursor(std::chrono::milliseconds delay = std::chrono::milliseconds(500),
                        QObject* parent = nullptr);
    ~BusyCursor() override;

    void waitStarted() override;
    void waitEnded() override;

    bool inStep() const { return m_inStep; }
    bool cursorShown() const { return m_shown; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void endStep();

    QTimer m_delay;
    bool m_waiting = false;
    bool m_inStep = false;
    bool m_shown = false;
    std::vector<QPointer<QWidget>> m_heldCloses;
};

} // namespace ktq::ui
