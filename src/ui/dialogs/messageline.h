// The read-only message box of the windows, which keeps its text exactly as set.
#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace ktq::ui {

/// A read-only text box for the program's messages. It keeps the text exactly as set (a
/// two-line message keeps its carriage return and line feed) and shows it line by line.
class MessageLine : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MessageLine(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return m_text; }

private:
    QString m_text;
};

} // namespace ktq::ui
