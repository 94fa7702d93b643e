// The main window: the model list and the way into a configuration run.
#pragma once

#include "run/advice.h"
#include "run/bringup.h"
#include "ui/config/session.h"
#include "ui/dialogs/stepgate.h"
#include "ui/dialogs/trafficopener.h"

#include <QWidget>

#include <cstdint>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace ktq::ui {

class frmConfig;
class MessageLine;
class StatusLine;

/// The model list: the operator picks a model and configures it, or leaves the program.
class frmMain : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* revisionDate = "01-25-2012";

    explicit frmMain(Session session, QWidget* parent = nullptr);
    ~frmMain() override;

    void Form_Load();
    void listUnit_Click();
    void listUnit_DblClick();
    void cmdConfig_Click();
    void cmdContinue_Click();
    void cmdExit_Click();

private:
    void buildHeader();
    void buildModelList();
    void buildMessageLines();
    void arrangeControls();
    void connectControls();
    void showFailure(const run::BringUpFailure& failure);
    void openConfiguration();
    void showLink();

    Session m_session;
    run::BoardBringUp m_bringUp{m_session.bus, m_session.state};
    // Every handler runs as a step of its own: a press that comes during a step waits for it.
    StepGate m_gate{[this](bool asked) { return m_bringUp.leaveOnceOverdue(asked); }};
    frmConfig* m_config = nullptr; // owned by this window, kept for later runs
    // The program's one Bus Traffic window, which this window and the configuration window offer.
    BusTrafficOpener m_traffic{m_bringUp.traffic(), m_session.interaction, this};

    QLabel* labelTitle = nullptr;
    QLabel* labelRev = nullptr;
    QLabel* labelSelect = nullptr;
    QListWidget* listUnit = nullptr;
    QPushButton* cmdConfig = nullptr;
    QPushButton* cmdContinue = nullptr;
    QPushButton* cmdExit = nullptr;
    MessageLine* txtGPIBErr = nullptr;
    QLineEdit* txtRev = nullptr;
    QLabel* ImageKTQ = nullptr;
    StatusLine* statusLine = nullptr;
};

} // namespace ktq::ui
