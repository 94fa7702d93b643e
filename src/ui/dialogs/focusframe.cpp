// The focus frame drawn over the platform's own drawing of each control that can hold the focus.
#include "focusframe.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QIconEngine>
#include <QLineEdit>
#include <QPainter>
#include <QPen>
#include <QStyleOption>

#include <algorithm>

namespace ktq::ui {

namespace {

constexpr int frameThickness = 2;

void drawFocusFrame(const QStyleOption& option, QPainter& painter) {
    if (!(option.state & QStyle::State_HasFocus)) {
        return;
    }
    painter.save();
    QPen pen(option.palette.color(QPalette::Active, QPalette::Highlight), frameThickness);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const qreal inset = frameThickness / 2.0;
    painter.drawRect(QRectF(option.rect).adjusted(inset, inset, -inset, -inset));
    painter.restore();
}

// The base style's icon, asked for at the first drawing or size question.
class DeferredIconEngine final : public QIconEngine {
public:
    DeferredIconEngine(const QStyle* style, QStyle::StandardPixmap which) : m_style(style), m_which(which) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    QIconEngine* clone() const override { return new DeferredIconEngine(m_style, m_which); }

private:
    const QIcon& icon() {
        if (!m_loaded) {
            m_icon = m_style->standardIcon(m_which);
            m_loaded = true;
        }
        return m_icon;
    }

    const QStyle* m_style = nullptr;
    QStyle::StandardPixmap m_which = QStyle::SP_CustomBase;
    QIcon m_icon;
    bool m_loaded = false;
};

} // namespace

FocusFrameStyle::FocusFrameStyle(const QString& baseKey) : QProxyStyle(baseKey) {}

void FocusFrameStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
    QProxyStyle::drawControl(element, option, painter, widget);
    const bool framed = element == CE_PushButton || element == CE_CheckBox || element == CE_RadioButton ||
                        (element == CE_ShapedFrame && qobject_cast<const QAbstractScrollArea*>(widget));
    if (framed && option != nullptr && painter != nullptr) {
        drawFocusFrame(*option, *painter);
    }
}

void FocusFrameStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                    const QWidget* widget) const {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (element == PE_PanelLineEdit && qobject_cast<const QLineEdit*>(widget) && option != nullptr &&
        painter != nullptr) {
        drawFocusFrame(*option, *painter);
    }
}

// A list's or a text box's frame is all of it that is not covered by its viewport: it has to be
// as wide as the focus frame for the frame to show.
int FocusFrameStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                 const QWidget* widget) const {
    const int base = QProxyStyle::pixelMetric(metric, option, widget);
    if (metric == PM_DefaultFrameWidth && qobject_cast<const QAbstractScrollArea*>(widget)) {
        return std::max(base, frameThickness);
    }
    return base;
}

QIcon FocusFrameStyle::standardIcon(StandardPixmap icon, const QStyleOption* option,
                                    const QWidget* widget) const {
    if (icon == SP_ToolBarHorizontalExtensionButton || icon == SP_ToolBarVerticalExtensionButton) {
        return QIcon(new DeferredIconEngine(baseStyle(), icon));
    }
    return QProxyStyle::standardIcon(icon, option, widget);
}

void useFocusFrameStyle() {
    QApplication::setStyle(new FocusFrameStyle(QApplication::style()->name()));
}

} // namespace ktq::ui
