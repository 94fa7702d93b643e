// The status line: guidance at the bottom of both windows, spoken by screen readers as it changes.
#include "statusline.h"

namespace ktq::ui {

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("statusLine"));
    // No accessible name of its own: a label's name is then its text, which a screen reader speaks,
    // and Qt announces each new text as a change of that name. A fixed name would be all it reads.
    setAccessibleDescription(QStringLiteral("Guidance"));
    setWordWrap(true);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setTextFormat(Qt::PlainText);
    // Selecting text must not take the focus from the entry box whose Return the operator uses.
    setFocusPolicy(Qt::NoFocus);
    // Room for the longest advice at the windows' width, so that they do not grow when it appears.
    setMinimumHeight(fontMetrics().lineSpacing() * 3 + 2 * frameWidth() + 4);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

// Selectable once the pointer first comes over it (or presses on it, where the platform tells of
// no entry): a label whose text can be selected lays its text out as a whole document, which
// took 2.6 % of the program's start, for a line that most runs never select from.
void StatusLine::becomeSelectable() {
    if (!textInteractionFlags().testFlag(Qt::TextSelectableByMouse)) {
        setTextInteractionFlags(Qt::TextSelectableByMouse);
        setFocusPolicy(Qt::NoFocus); // which making it selectable sets anew
    }
}

void StatusLine::enterEvent(QEnterEvent* event) {
    becomeSelectable();
    QLabel::enterEvent(event);
}

void StatusLine::mousePressEvent(QMouseEvent* event) {
    becomeSelectable();
    QLabel::mousePressEvent(event);
}

void StatusLine::say(const QString& text) {
    setText(text);
}

} // namespace ktq::ui
