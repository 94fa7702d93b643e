// The busy cursor shown while a step of a window waits too long for the bus or a pause.
#pragma once

#include "bus/busthread.h"

#include <QObject>
#include <QTimer>

#include <chrono>

namespace ktq::ui {

/// Watches the steps of the windows through their waits for the bus and for pauses. A step
/// begins with its first wait and ends when the window's thread next runs events outside one.
/// Once a step has taken `delay`, the cursor shows that the program is busy until the step ends.
class BusyCursor final : public QObject, public bus::WaitObserver {
public:
    explicit BusyCursor(std::chrono::milliseconds delay = std::chrono::milliseconds(500),
                        QObject* parent = nullptr);
    ~BusyCursor() override;

    void waitStarted() override;
    void waitEnded() override;

private:
    void endStep();

    QTimer m_delay;
    bool m_waiting = false;
    bool m_inStep = false;
    bool m_shown = false;
};

} // namespace ktq::ui
