#include "statusline.h"

namespace ktq::ui {

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("statusLine"));
    setAccessibleName(QStringLiteral("Guidance"));
    setWordWrap(true);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Selecting text must not take the focus from the entry box whose Return the operator uses.
    setFocusPolicy(Qt::NoFocus);
    // Room for the longest advice at the windows' width, so that they do not grow when it appears.
    setMinimumHeight(fontMetrics().lineSpacing() * 3 + 2 * frameWidth() + 4);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void StatusLine::say(const QString& text) {
    setText(text);
    setAccessibleDescription(text);
}

} // namespace ktq::ui
