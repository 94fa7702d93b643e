// The maker's logo, drawn by the program.
#pragma once

#include <QPixmap>

namespace ktq::ui {

/// The maker's logo, drawn by the program itself at the given height.
QPixmap drawLogo(int height, qreal devicePixelRatio = 1.0);

} // namespace ktq::ui
