#pragma once

#include "ui/config/advice.h"
#include "ui/config/session.h"

#include <QWidget>

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

    // The configuration window, once a Configure or Continue has created it.
    frmConfig* configWindow() const { return m_config; }

private:
    bool failed(const char* message, BusStep step = BusStep::SetUpBoard);
    void openConfiguration();

    Session m_session;
    frmConfig* m_config = nullptr; // owned by this window, kept for later runs

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
