#pragma once

class QApplication;

namespace vantrel::design {

// Puts the application in its dark Fusion look (design/app_style.h), whatever the desktop's own theme: the
// window palette from the design palettes (design/palette.h) and the breeze-dark icons.
void applyDarkTheme(QApplication& application);

} // namespace vantrel::design
