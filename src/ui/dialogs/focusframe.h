// The program's look: the platform's own style, with a plain frame round the focused control.
#pragma once

#include <QProxyStyle>

namespace ktq::ui {

/// The platform's style with one change: the control that holds the keyboard focus carries a
/// 2-pixel frame in the highlight colour, whether the focus came there by Tab, by a click or
/// by the program. Fusion and the Windows styles show a focused button only after a Tab, and
/// then faintly, so a Return meant for another control could go unnoticed to a button.
class FocusFrameStyle final : public QProxyStyle {
    Q_OBJECT
public:
    /// Wraps the style the factory makes for `baseKey` ("Fusion", "windowsvista", ...).
    explicit FocusFrameStyle(const QString& baseKey);

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    /// The platform's icon, read from its file only when it is first drawn: a menu bar asks for
    /// its extension arrows when it is made, and reading them loads every image format plugin.
    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};

/// Gives the whole application that style, around the style it has chosen for the platform.
void useFocusFrameStyle();

} // namespace ktq::ui
