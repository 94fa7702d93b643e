// The operator's steps on stacks of their own, and the one event loop they go back to.
#include "steps.h"

#include "fiber.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace ktq::bus {

struct Step {
    explicit Step(std::function<void()> work) : body(std::move(work)) {}
    // An exception cannot leave the fiber's stack, nor would it pass through the event loop that
    // went on with the step: it ends the program here, as one thrown through Qt's loop would.
    static void run(void* self) noexcept { static_cast<Step*>(self)->body(); }

    std::function<void()> body;
    QEventLoop::ProcessEventsFlags flags; // the wait's, while it waits
    bool quit = false;                    // the wait ended by the program's quitting
    Fiber fiber{&Step::run, this};
};

namespace {

// One run of the loop by execSteps() or finishSteps().
struct LoopRun {
    QEventLoop* loop = nullptr;
    QEventLoop::ProcessEventsFlags flags; // what it runs with
    bool untilNoStep = false;
    bool rerun = false; // it ended to run again with other flags, or to see the steps ended
};

// All of it belongs to the window's thread, the only one that runs steps.
struct Loop {
    Step* running = nullptr;    // the step whose stack this is
    int underWay = 0;           // steps started and not ended
    std::vector<Step*> waiting; // in the order they began to wait
    LoopRun* run = nullptr;     // the innermost run of the loop
    bool quitting = false;      // the waiting steps are being let finish
    HeldInput* held = nullptr;  // the windows' input, while a step waits
};

Loop& state() {
    static Loop loop;
    return loop;
}

// The loop takes only what the latest wait lets in; with no step waiting, everything.
QEventLoop::ProcessEventsFlags loopFlags() {
    const Loop& s = state();
    return s.waiting.empty() ? QEventLoop::AllEvents : s.waiting.back()->flags;
}

// A loop is run again only where it must be: entering exec() drops the quit that closing the last
// window posts.
void changed() {
    Loop& s = state();
    LoopRun* const run = s.run;
    if (run != nullptr && !run->rerun &&
        (loopFlags() != run->flags || (run->untilNoStep && s.underWay == 0))) {
        run->rerun = true;
        run->loop->exit();
    }
}

// Runs `step` from where it stands until it waits or ends; an ended step is freed here, off its
// own stack.
void enter(Step& step) {
    Loop& s = state();
    Step* const outer = std::exchange(s.running, &step);
    step.fiber.switchIn();
    s.running = outer;
    if (step.fiber.returned()) {
        delete &step;
        --s.underWay;
        changed();
    }
}

// Every waiting step goes on as its wait ends by the quit, and its later waits return at once.
void finishAtQuit() {
    Loop& s = state();
    s.quitting = true;
    while (!s.waiting.empty()) {
        Step* const step = s.waiting.front();
        s.waiting.erase(s.waiting.begin());
        step->quit = true;
        enter(*step);
    }
    s.quitting = false;
}

int runLoop(bool untilNoStep) {
    Loop& s = state();
    for (;;) {
        if (untilNoStep && s.underWay == 0) {
            return 0;
        }
        QEventLoop loop;
        LoopRun run{&loop, loopFlags(), untilNoStep};
        LoopRun* const outer = std::exchange(s.run, &run);
        const int code = loop.exec(run.flags);
        s.run = outer;
        if (!run.rerun) {
            finishAtQuit();
            return code;
        }
    }
}

} // namespace

void startStep(std::function<void()> body) {
    Loop& s = state();
    if (s.running != nullptr) {
        body();
        return;
    }
    auto step = std::make_unique<Step>(std::move(body));
    ++s.underWay;
    enter(*step.release());
}

void setHeldInput(HeldInput* held) {
    state().held = held;
}

bool stepUnderWay() {
    return state().underWay > 0;
}

bool insideStep() {
    return state().running != nullptr;
}

bool stepsQuitting() {
    return state().quitting;
}

bool StepWait::wait(QEventLoop::ProcessEventsFlags flags) {
    Loop& s = state();
    if (s.quitting) {
        return false;
    }
    if (std::exchange(m_ended, false)) {
        return true;
    }
    Step* const step = s.running;
    if (step == nullptr) {
        QEventLoop loop;
        m_outside = &loop;
        loop.exec(flags);
        m_outside = nullptr;
        return std::exchange(m_ended, false);
    }
    step->flags = flags;
    step->quit = false;
    m_step = step;
    s.waiting.push_back(step);
    changed();
    HeldInput* const held = flags.testFlag(QEventLoop::ExcludeUserInputEvents) ? s.held : nullptr;
    if (held != nullptr) {
        held->holdBack();
    }
    step->fiber.switchOut();
    if (held != nullptr) {
        held->giveBack();
    }
    m_step = nullptr;
    m_ended = false;
    return !step->quit;
}

void StepWait::end() {
    m_ended = true;
    if (m_outside != nullptr) {
        m_outside->exit();
        return;
    }
    Step* const step = m_step;
    if (step == nullptr) {
        return;
    }
    Loop& s = state();
    s.waiting.erase(std::find(s.waiting.begin(), s.waiting.end(), step));
    changed();
    enter(*step);
}

int execSteps() {
    return runLoop(false);
}

void finishSteps() {
    runLoop(true);
}

} // namespace ktq::bus
