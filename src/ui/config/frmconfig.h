// The configuration window: one run with one unit, from discovery to saving.
#pragma once

#include "run/advice.h"
#include "run/configurationrun.h"
#include "session.h"
#include "ui/dialogs/stepgate.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace ktq::models {
struct SetupRoutine;
}

namespace ktq::ui {

class BusTrafficOpener;
class MessageLine;
class StatusLine;

/// One configuration run with one unit: discovery and addressing, the function menu, saving,
/// locking and navigation. The object is kept for later runs of the same program run.
class frmConfig : public QDialog {
    Q_OBJECT
public:
    /// With `traffic`, the window offers the Bus Traffic window (Ctrl+T, View > Bus Traffic).
    explicit frmConfig(Session session, QWidget* parent = nullptr, BusTrafficOpener* traffic = nullptr);
    ~frmConfig() override;

    // Starts a run: the controls as created, then the load sequence (discovery included).
    void openRun();

    void Form_Load();
    run::ListenerSearch FindLstners();
    void cmdSet_Click();
    void cmdEnter_Click();
    void lstFunction_Click();
    void lstFunction_DblClick();
    void cmdSav_Click();
    void cmdLock_Click();
    void cmdSRQ_Click();
    void cmdNoSRQ_Click();
    void cmdDone_Click();
    void cmdRedo_Click();
    void cmdNextCh_Click();

    // One step of the menu: without an entry, shows the current function; with an empty entry,
    // moves on to the next function or ends the list; with a value, sets the current function.
    void LOOP2(const std::optional<QString>& entry);
    // A line of the function list: the prompt, blanks up to column 36 (at least one), the setting
    // without its last character (the line feed of a reply).
    static QString PrepItem(const QString& prompt, const QString& setting);
    // The characters before the settings column of the function list.
    static constexpr int settingsColumn = 35;
    void ShortPause();

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Where a run stands, as far as the buttons and the lines beside them show it.
    enum class Phase {
        Created,          // Next Channel hidden until a multi-channel list offers it
        Loaded,           // address entry after discovery
        AddressSet,       // the unit cleared, its menu about to run
        ChannelRunning,   // a channel whose menu hides Next Channel
        MoreChannels,     // a channel's list done, channels left
        LastChannelDone,  // the last channel's list done
        ListDone,         // a single-channel list done
        ListDoneLockable, // the same, for a table that offers locking
        Saved,            // Save Configuration pressed
        Redone,           // back to address entry, the menu's buttons off
        NextChannel,      // the next channel about to be set
    };

    void buildControls();
    void buildTitleLines();
    void buildAddressFrame();
    void buildMenuFrame();
    void buildEndButtons();
    void arrangeControls();
    void connectControls();
    void applyPhase(Phase phase);
    void resetControls();

    void reportDiscovery(const run::ListenerSearch& search);
    void openChannelDialog();
    void showChannelLine();
    void showEntryError(const QString& message);
    void closeWindow();

    void runSetup(const models::SetupRoutine& routine);
    void showFunction();
    void setFunction(const QString& value);
    void endOfList();
    int functionCount() const;
    void sayBoardGone(run::BusStep step, const bus::StatusSnapshot& status);
    void storeAndReport(run::StoreAction action, const QString& failureMessage);

    // The report as the bus gives it, and beside it on the status line what to check: about the
    // call that caused the failure, which is not always the call the report is about.
    void showBusError(const QString& message, run::BusStep step, const bus::StatusSnapshot& reported,
                      const bus::StatusSnapshot& cause);
    void showBusError(const QString& message, run::BusStep step, const bus::StatusSnapshot& status) {
        showBusError(message, step, status, status);
    }
    QString busAdviceFor(run::BusStep step, const bus::StatusSnapshot& status) const;
    void reportStore(run::StoreAction action, const std::optional<bus::StatusSnapshot>& failure);
    QString addressText() const;

    Session m_session;
    // Every handler runs as a step of its own: a press that comes during a step waits for it.
    StepGate m_gate{[this](bool asked) { return m_run.leaveOnceOverdue(asked); }};
    bool m_closing = false;
    bool m_placed = false; // on the screen whole once, then where the operator leaves it
    // The run's talk with the unit; on every step that finds the board gone the status line says so.
    run::ConfigurationRun m_run{
        m_session.bus, m_session.state, m_session.pauser,
        [this](run::BusStep step, const bus::StatusSnapshot& status) { sayBoardGone(step, status); }};
    // Lines of this pass that have scrolled off the top of the function list.
    int m_linesScrolledOff = 0;

    QLineEdit* txtTitle = nullptr;
    MessageLine* txtErrMsg = nullptr;
    MessageLine* txtGPIBErr = nullptr;
    QLineEdit* txtChNum = nullptr;
    QFrame* frameAddr = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* txtAddr = nullptr;
    QPushButton* cmdSet = nullptr;
    QFrame* frameMenu = nullptr;
    QLabel* labelFunction = nullptr;
    QListWidget* lstFunction = nullptr;
    QLabel* labelChoice = nullptr;
    QLineEdit* txtChoice = nullptr;
    QPushButton* cmdEnter = nullptr;
    QPushButton* cmdRedo = nullptr;
    QPushButton* cmdNextCh = nullptr;
    QPushButton* cmdSav = nullptr;
    QPushButton* cmdLock = nullptr;
    QPushButton* cmdSRQ = nullptr;
    QPushButton* cmdNoSRQ = nullptr;
    QPushButton* cmdDone = nullptr;
    StatusLine* statusLine = nullptr;
};

} // namespace ktq::ui
