// The way from the program's windows to its one Bus Traffic window: Ctrl+T and View > Bus Traffic.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace ktq::bus {
class TrafficLog;
}

namespace ktq::ui {

class BusTrafficWindow;
class Interaction;

/// The program's one Bus Traffic window, made when it is first asked for. Every window that
/// offers it opens the same one, or raises it where it is already open.
class BusTrafficOpener final : public QObject {
    Q_OBJECT
public:
    /// The window is made as a child of `owner`; without one, the opener owns it.
    BusTrafficOpener(bus::TrafficLog& log, Interaction& interaction, QWidget* owner = nullptr);
    ~BusTrafficOpener() override;

    /// Gives `window` a View menu with Bus Traffic above what its layout holds, and Ctrl+T
    /// wherever the focus is in it.
    void offerIn(QWidget& window);
    /// Makes `owner` the window's parent from now on. An application-modal window blocks every
    /// window but its own children: under the configuration window, the traffic stays usable
    /// while a run goes. An open window stays open where it is.
    void moveUnder(QWidget& owner);
    void open();
    BusTrafficWindow* window() const;

private:
    bus::TrafficLog& m_log;
    Interaction& m_interaction;
    QPointer<QWidget> m_owner;
    QPointer<BusTrafficWindow> m_window;
};

} // namespace ktq::ui
