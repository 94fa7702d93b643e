// The maker's logo, drawn by the program.
#pragma once

#include <QFont>
#include <QPixmap>

namespace ktq::ui {

/// The main window's title font: `base` in bold, a fifth larger.
QFont titleFont(QFont base);
/// The maker's logo, drawn by the program itself at the given height, its letters in `lettering`
/// at whatever size fits.
QPixmap drawLogo(int height, const QFont& lettering, qreal devicePixelRatio = 1.0);

} // namespace ktq::ui
