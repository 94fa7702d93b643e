// The operator's steps: each runs on a stack of its own, so that where it waits (for a driver
// call, for a pause) the window's thread goes back to the program's one event loop, and the step
// goes on from where it stood once the wait ends. No step runs an event loop of its own.
#pragma once

#include <QEventLoop>
#include <QObject>

#include <functional>

namespace ktq::bus {

/// What the windows do with the operator's input that the window system has already handed over
/// when a step begins to wait: a key typed ahead may come in the same pass of the event loop as
/// the press that started the step, behind it. Held back while the step waits and given back,
/// ahead of anything newer and in its order, when it goes on, none of it lands inside the step.
class HeldInput {
public:
    virtual ~HeldInput() = default;
    virtual void holdBack() = 0;
    virtual void giveBack() = 0;
};

/// Who holds input back while a step waits with input excluded (none: nobody, as in a program
/// without windows).
void setHeldInput(HeldInput* held);

/// Runs `body` as a step; returns once it has ended or first waits. A step started inside
/// another one runs inline, as part of it.
void startStep(std::function<void()> body);

/// Whether a step has been started and has not ended: it runs, or it waits.
bool stepUnderWay();

/// Whether the caller runs on a step's stack.
bool insideStep();

/// One wait of a step, from wait() to end(). An end() that comes before the wait ends the next
/// one at once.
class StepWait final : public QObject {
    Q_OBJECT
public:
    /// Goes back to the event loop until end(), or until the program quits (false). The loop
    /// meanwhile takes only what `flags` let in: the operator's keys, clicks and close requests
    /// stay queued by the window system, in their order, for after the step, so that none of
    /// them can land inside it. Returns at once, false, once the program has quit. Outside a
    /// step (a test's or a tool's direct call) it runs the loop itself until the end.
    bool wait(QEventLoop::ProcessEventsFlags flags = QEventLoop::ExcludeUserInputEvents);

public slots:
    /// Ends the wait. Invoked by name from other threads, as a queued call.
    void end();

private:
    struct Step* m_step = nullptr;   // the step waiting here
    QEventLoop* m_outside = nullptr; // the loop of a wait outside any step
    bool m_ended = false;
    bool m_quit = false;
};

/// The program's event loop in place of QApplication::exec(): the same, except that while a
/// step waits the loop takes only what the wait lets in, and that a step waiting when the
/// program quits is let run to its end (its waits then returning at once) before this returns.
int execSteps();

/// Runs the loop as execSteps() does until no step is under way (or the program quits): how a
/// test sees a step it started out.
void finishSteps();

/// True once the program has been asked to quit while the loop ran, until it runs again.
bool stepsQuitting();

} // namespace ktq::bus
