#pragma once

#include "advice.h"
#include "session.h"

#include <QDialog>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace ktq::models {
struct SetupRoutine;
}

namespace ktq::ui {

class MessageLine;
class StatusLine;

/// One configuration run with one unit: discovery and addressing, the function menu, saving,
/// locking and navigation. The object is kept for later runs of the same program run.
class frmConfig : public QDialog {
    Q_OBJECT
public:
    static constexpr int listenerTableSize = 65;

    explicit frmConfig(Session session, QWidget* parent = nullptr);
    ~frmConfig() override;

    // Starts a run: the controls as created, then the load sequence (discovery included).
    void openRun();

    void Form_Load();
    void FindLstners();
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

    void LOOP2();
    void PrepItem(const QString& Instring1, const QString& Rdg);
    void ShortPause();
    void TrimResponse(const QString& text);

    // Window-level values that outlive a run.
    int SavedFlag = 0;
    std::int16_t FoundFlg = 0;
    std::int16_t FoundNum = 0;
    std::int16_t founddev = 0;
    std::array<std::int16_t, listenerTableSize> ListenerTable{};
    int ListOffset = 0;

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void resetControls();
    void reportDiscovery();
    void runSetup(const models::SetupRoutine& routine);
    void showFunction();
    void setFunction();
    void endOfList();
    // Makes one driver call unless the board is known to be gone.
    void onBoard(BusStep step, const std::function<void()>& call);
    void sendText(QString& text, BusStep step = BusStep::Query);
    // Sends a fixed command; a failed send is reported with the message. True when it went out.
    bool sendChecked(const QString& command, const QString& failureMessage);
    void receiveResponse();
    QString queryText(int index) const;
    // The report as the bus gives it, and beside it on the status line what to check.
    void showBusError(const QString& message, BusStep step);
    QString busAdviceNow(BusStep step) const;
    void reportStore(StoreAction action, const bus::StatusSnapshot* failure);
    QString addressText() const;
    void showEntryError(const QString& message);
    void openChannelDialog();
    void showChannelLine();
    void closeWindow();
    bool isMultiChannelModel() const;

    Session m_session;
    bool m_closing = false;
    // Replies to this run's queries other than the bus address, for telling a unit that does not
    // answer as the model chosen.
    int m_modelQueriesAnswered = 0;
    // The driver said the board itself is gone: nothing more goes out until the operator starts
    // again with Set Address or a new run. A call not made leaves the status of the one that found
    // the board gone, so every check of the pass reports that.
    bool m_boardGone = false;

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
