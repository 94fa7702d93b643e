// The window tests' bench, interaction recorder and pauser.
#pragma once

#include "bus/adapter/adapterlink.h"
#include "bus/board/driverloader.h"
#include "bus/driverbus.h"
#include "bus/gpib32.h"
#include "sim/adapter/adaptercore.h"
#ifndef _WIN32
#include "sim/adapter/server.h"
#endif
#include "sim/simbus.h"
#include "ui/config/pause.h"
#include "ui/config/session.h"
#include "ui/config/sharedstate.h"
#include "ui/dialogs/interaction.h"
#include "ui/dialogs/messageline.h"

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ktq::test {

/// Records beeps, message boxes and modal windows, and answers modal windows with scripts and
/// the question of where to save with the names given.
/// Every event also goes into the bench's trace, so a test sees it in order with the bus calls.
class FakeInteraction final : public ui::Interaction {
public:
    explicit FakeInteraction(sim::SimBus& bus) : m_bus(bus) {}

    void beep() override {
        ++beeps;
        m_bus.note("beep");
    }
    void messageBox(QWidget*, const QString& title, const QString& text) override {
        boxes.push_back({title, text});
        m_bus.note("box " + title.toStdString());
    }
    void execModal(QDialog& dialog) override {
        modals.push_back(dialog.objectName().isEmpty() ? dialog.windowTitle() : dialog.objectName());
        m_bus.note("modal " + dialog.windowTitle().toStdString());
        if (!scripts.empty()) {
            auto script = std::move(scripts.front());
            scripts.pop_front();
            script(dialog);
        } else if (dialog.windowTitle() == QStringLiteral("NOTICE")) {
            dialog.findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
        }
    }

    // The file name the next answer gives and the filter chosen with it (none: left as offered).
    QString saveFileName(QWidget*, const QString& title, const QString&, QString* selectedFilter) override {
        m_bus.note("save as " + title.toStdString());
        if (saveAnswers.empty())
            return {};
        const auto [file, filter] = saveAnswers.front();
        saveAnswers.pop_front();
        if (selectedFilter != nullptr && !filter.isEmpty())
            *selectedFilter = filter;
        return file;
    }

    struct Box {
        QString title;
        QString text;
    };
    int beeps = 0;
    std::vector<Box> boxes;
    std::vector<QString> modals;
    std::deque<std::function<void(QDialog&)>> scripts;
    std::deque<std::pair<QString, QString>> saveAnswers; // file name, filter; none: cancelled

private:
    sim::SimBus& m_bus;
};

/// Writes each pause into the trace instead of waiting.
class FakePauser final : public ui::Pauser {
public:
    explicit FakePauser(sim::SimBus& bus) : m_bus(bus) {}
    void pause(std::chrono::milliseconds duration) override {
        total += duration;
        m_bus.note("pause " + std::to_string(duration.count()));
    }
    std::chrono::milliseconds total{0};

private:
    sim::SimBus& m_bus;
};

/// One way of reaching an emulated adapter: the model, and a link to its core as the program would
/// have it (the bench's own link; a pseudo-terminal or a TCP port serve the same core).
struct AdapterSide {
    std::string name; // for test names: "BenchPrologix"
    const sim::adapter::AdapterProfile* profile = nullptr;
    std::function<std::unique_ptr<bus::AdapterLink>(sim::adapter::AdapterCore&)> link;
    /// What the adapter's owner set before the program came (none where empty).
    std::function<void(sim::adapter::AdapterCore&)> ownersSetUp{};
};

/// Every way the adapter tests reach an emulated adapter.
const std::vector<AdapterSide>& adapterSides();

#ifndef _WIN32
/// An emulated adapter's core served on a thread of its own over a pseudo-terminal or a loopback
/// TCP port, as ktqsim-adapter serves it, until stop(): what it did to the core and the bench is
/// then the test's to read.
class ServedCore {
public:
    ServedCore(sim::adapter::AdapterCore& core, bool tcp);
    ~ServedCore() { stop(); }
    void stop();
    /// Where a host finds it, as KTQ_GPIB_ADAPTER names it: the pseudo-terminal or "127.0.0.1:PORT".
    const std::string& where() const { return m_where; }
    int port() const { return m_tcp->port(); }
    void dropConnection() { m_tcp->dropConnection(); }
    void waitTaken(std::uint64_t count) const { m_tcp ? m_tcp->waitTaken(count) : m_pty->waitTaken(count); }

private:
    std::unique_ptr<sim::adapter::PtyLink> m_pty;
    std::unique_ptr<sim::adapter::TcpLink> m_tcp;
    std::string m_where;
    std::thread m_server;
};
#endif

/// A simulated bench wired to the program's bus layer the way the drop-in library is at run time,
/// or, with KTQ_REAL_LIBGPIB naming the real linux-gpib library, through that library and the
/// emulated board beneath it (IB_CONFIG naming the board's gpib.conf). Either way the bench's trace
/// holds one line per driver call in the same form.
/// With an adapter side, the bench is reached through the adapter driver over an emulated adapter
/// instead; the bench's trace then holds no driver calls, only the notes.
class Bench {
public:
    static std::unique_ptr<bus::GpibDriver> simDriver();
    static bool onRealLibrary();

    Bench() = default;
    /// The adapter is identified as the program finds it; throws when it does not answer.
    explicit Bench(const AdapterSide& side);
    /// Through a driver of the program's own, such as the finder on a real adapter's port.
    explicit Bench(std::unique_ptr<bus::GpibDriver> programDriver) : driver(std::move(programDriver)) {}
    /// Through an adapter: fails the test where a setting reached its memory, or where an AR488
    /// was asked to save (its "++savecfg" writes whatever its argument) or a Prologix was sent a
    /// setting before "++savecfg 0".
    ~Bench();
    /// The driver calls the main window makes before it opens the configuration window; true
    /// when every one succeeded.
    bool bringUp();

    sim::SimBus sim;
    sim::ScopedBench scope{sim};
    std::unique_ptr<sim::adapter::AdapterCore> adapter; // the emulated adapter, where there is one
    std::unique_ptr<bus::GpibDriver> driver = simDriver();
    bus::Gpib32 gpib{*driver};
    bus::DriverBus messages{gpib};
    ui::SharedState state;
    FakeInteraction interaction{sim};
    FakePauser pauser{sim};

    ui::Session session() { return session(messages); }
    /// The bench's state, desktop and pause, with the bus reached another way.
    ui::Session session(bus::MessageBus& bus) { return ui::Session{bus, state, interaction, pauser}; }

    // The trace lines from `from` on, without the status part of the driver calls.
    std::vector<std::string> calls(std::size_t from = 0) const;
    // Only what went out to a unit and came back: `> text` for Send, `< text` for Receive,
    // `cmd bytes` for SendCmds, other lines (notes) as they are.
    std::vector<std::string> wire(std::size_t from = 0) const;
};

/// A trace's lines of driver calls, without its notes ("pause 200", "modal Channels").
std::vector<std::string> traceCalls(const std::vector<std::string>& trace);
/// The calls the program recorded, as the bench's trace prints them.
std::vector<std::string> trafficCalls(const bus::TrafficLog& traffic);

// Finds a control by its name, failing the test when it is not there.
template <typename T> T* control(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        throw std::runtime_error(std::string("no control ") + name);
    }
    return found;
}

// The object names of the controls that Tab reaches from `first` on, once round the window.
inline QStringList tabOrder(const QWidget& window, QWidget* first) {
    QStringList names{first->objectName()};
    for (QWidget* w = first->nextInFocusChain(); w != first && w != nullptr; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->window() == &window &&
            !w->objectName().startsWith(u"qt_")) {
            names << w->objectName();
        }
    }
    return names;
}

// Answers the configuration window of a 3-function unit at address 5 (a 7174) as an operator
// who sets the address, keeps every setting, saves and presses Done.
inline void keepAndSaveAt5(QDialog& config) {
    control<QLineEdit>(config, "txtAddr")->setText(QStringLiteral("5"));
    control<QPushButton>(config, "cmdSet")->click();
    for (int k = 0; k < 3; ++k) {
        control<QPushButton>(config, "cmdEnter")->click();
    }
    control<QPushButton>(config, "cmdSav")->click();
    control<QPushButton>(config, "cmdDone")->click();
}

// Answers the channel dialog with a typed entry and Continue.
inline std::function<void(QDialog&)> answerChannel(const QString& entry) {
    return [entry](QDialog& dialog) {
        control<QLineEdit>(dialog, "txtChNum")->setText(entry);
        control<QPushButton>(dialog, "cmdChSel")->click();
    };
}

} // namespace ktq::test
