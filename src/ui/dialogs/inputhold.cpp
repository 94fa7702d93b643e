// The operator's input held back while a step waits, taken from Qt's queue of window system events.
#include "inputhold.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <qpa/qwindowsysteminterface_p.h>

#include <vector>

namespace ktq::ui {

namespace {

using Events = QWindowSystemInterfacePrivate;

class QueuedInputHold final : public bus::HeldInput {
public:
    void holdBack() override {
        // Taken apart and put together again: the queue offers no way to take input alone.
        std::vector<Events::WindowSystemEvent*> others;
        while (Events::WindowSystemEvent* event = Events::windowSystemEventQueue.takeFirstOrReturnNull()) {
            (event->type & Events::UserInputEvent ? m_held : others).push_back(event);
        }
        for (Events::WindowSystemEvent* event : others) {
            Events::windowSystemEventQueue.append(event);
        }
    }
    void giveBack() override {
        if (m_held.empty()) {
            return;
        }
        for (auto event = m_held.rbegin(); event != m_held.rend(); ++event) {
            Events::windowSystemEventQueue.prepend(*event);
        }
        m_held.clear();
        if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
            dispatcher->wakeUp();
        }
    }

private:
    std::vector<Events::WindowSystemEvent*> m_held; // in the order they came
};

} // namespace

bus::HeldInput& queuedInputHold() {
    static QueuedInputHold hold;
    return hold;
}

} // namespace ktq::ui
