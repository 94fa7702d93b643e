// The read-only message box of the windows, which keeps its text exactly as set.
#include "messageline.h"

namespace ktq::ui {

MessageLine::MessageLine(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setFocusPolicy(Qt::NoFocus);
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void MessageLine::setText(const QString& text) {
    m_text = text;
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setPlainText(shown);
    setAccessibleDescription(shown);
}

} // namespace ktq::ui
