// The channel selection dialog of the four-channel units.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ktq::ui {

class Interaction;
class MessageLine;

/// Asks which channel (1 to 4) of a four-channel unit to configure, proposing one. Only an
/// accepted entry closes it.
class frmChannels : public QDialog {
    Q_OBJECT
public:
    frmChannels(double proposed, Interaction& interaction, QWidget* parent = nullptr);

    /// The channel chosen, once the dialog is accepted.
    double channel() const { return m_channelNumber; }
    void cmdChSel_Click();
    void reject() override;

private:
    void txtChNum_Change();

    double m_channelNumber = 1;
    Interaction& m_interaction;
    int LoadedFlag = 0;
    bool m_accepted = false;

    QLabel* Label1 = nullptr;
    QLineEdit* txtChNum = nullptr;
    QPushButton* cmdChSel = nullptr;
    MessageLine* txtErrMsg = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace ktq::ui
