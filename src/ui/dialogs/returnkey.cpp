// The key filter that lets Return and Enter press the focused button.
#include "returnkey.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>

namespace ktq::ui {

namespace {

class ReturnPresses final : public QObject {
public:
    explicit ReturnPresses(QPushButton* button) : QObject(button), m_button(button) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_button || event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool returnKey = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const Qt::KeyboardModifiers others = key->modifiers() & ~Qt::KeypadModifier;
        if (!returnKey || others != Qt::NoModifier || key->isAutoRepeat()) {
            return false;
        }
        m_button->click(); // does nothing while the button is disabled
        return true;
    }

private:
    QPushButton* m_button = nullptr;
};

} // namespace

void pressOnReturn(QPushButton* button) {
    button->setAutoDefault(false);
    button->installEventFilter(new ReturnPresses(button));
}

} // namespace ktq::ui
