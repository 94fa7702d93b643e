// The way from the program's windows to its one Bus Traffic window: Ctrl+T and View > Bus Traffic.
#include "trafficopener.h"

#include "bustraffic.h"
#include "placement.h"

#include <QAction>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>

namespace ktq::ui {

BusTrafficOpener::BusTrafficOpener(bus::TrafficLog& log, Interaction& interaction, QWidget* owner)
    : m_log(log), m_interaction(interaction), m_owner(owner) {}

BusTrafficOpener::~BusTrafficOpener() {
    if (m_window && m_window->parent() == nullptr)
        delete m_window;
}

void BusTrafficOpener::offerIn(QWidget& window) {
    auto* action = new QAction(QStringLiteral("&Bus Traffic"), &window);
    action->setObjectName(QStringLiteral("actionBusTraffic"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    action->setShortcutContext(Qt::WindowShortcut);
    // On the window itself as well as in the menu: the key works whatever control has the focus.
    window.addAction(action);
    connect(action, &QAction::triggered, this, &BusTrafficOpener::open);
    if (QLayout* layout = window.layout()) {
        // The layout's menu bar sits above everything it arranges, which keeps its place.
        auto* bar = new QMenuBar(&window);
        bar->setObjectName(QStringLiteral("menuBar"));
        bar->addMenu(QStringLiteral("&View"))->addAction(action);
        layout->setMenuBar(bar);
    }
}

void BusTrafficOpener::moveUnder(QWidget& owner) {
    m_owner = &owner;
    if (!m_window || m_window->parentWidget() == &owner)
        return;
    const bool shown = m_window->isVisible();
    const QRect where = m_window->geometry();
    m_window->setParent(&owner, m_window->windowFlags());
    m_window->setGeometry(where);
    if (shown)
        m_window->show();
}

BusTrafficWindow* BusTrafficOpener::window() const {
    return m_window;
}

void BusTrafficOpener::open() {
    if (!m_window) {
        m_window = new BusTrafficWindow(m_log, m_interaction, m_owner);
        placeOnScreen(*m_window, m_owner);
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace ktq::ui
