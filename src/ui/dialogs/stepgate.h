// One step at a time in a window: a press that comes while a step is under way waits for it.
#pragma once

#include <QPointer>
#include <QWidget>

#include <deque>
#include <functional>

namespace ktq::ui {

/// Runs a window's handlers one step at a time, each as a step of the bus layer's: where it waits
/// for the bus or a pause, the window's thread goes back to the event loop. A step's waits and its
/// message boxes hold back the operator's keys and clicks, but not a press through the
/// accessibility interface (a screen reader's, voice or switch control's "Press"), which Qt
/// delivers as a click from a timer meanwhile. Such a press waits for the step, then runs if
/// its control is still enabled and shown. A press of a leaving button (Done, Exit) meanwhile is
/// told to `leaving` (true: the program has ended, and the press is spent), so that a driver
/// call that never returns does not trap the operator; `leaving(false)` once the step is over.
class StepGate {
public:
    explicit StepGate(std::function<bool(bool asked)> leaving = {});
    ~StepGate();
    StepGate(const StepGate&) = delete;
    StepGate& operator=(const StepGate&) = delete;

    /// Runs `handler` as a step of its own, or after the step under way. `control` (may be null:
    /// always run) is what was pressed.
    void run(QWidget* control, std::function<void()> handler);
    /// What a control's signal is connected to: `handler` through run().
    std::function<void()> step(QWidget* control, std::function<void()> handler) {
        return [this, control, handler = std::move(handler)] { run(control, handler); };
    }

private:
    struct Press {
        QPointer<QWidget> control;
        bool checked = false;     // whether the control is to be checked at all
        bool windowShown = false; // its window, when pressed
        std::function<void()> handler;
    };
    static Press pressOf(QWidget* control, std::function<void()> handler);
    static bool stillPressable(const Press& press);

    std::function<bool(bool)> m_leaving;
    std::deque<Press> m_waiting;
    bool m_running = false;
    bool m_leaveAsked = false;
};

} // namespace ktq::ui
