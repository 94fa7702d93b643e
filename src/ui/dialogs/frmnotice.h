// The notice dialog shown before the parallel units' menus.
#pragma once

#include <QDialog>

class QPushButton;

namespace ktq::ui {

class MessageLine;

/// Shows a block of explanatory text and waits until the operator closes it with Cancel.
class frmNotice : public QDialog {
    Q_OBJECT
public:
    explicit frmNotice(const QString& noticeText, QWidget* parent = nullptr);

    void cmdCancel_Click();

private:
    MessageLine* txtNotice = nullptr;
    QPushButton* cmdCancel = nullptr;
};

} // namespace ktq::ui
