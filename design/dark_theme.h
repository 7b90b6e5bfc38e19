#pragma once

class QApplication;

namespace vantrel::design {

// Puts the application in its dark Fusion look, whatever the desktop's own theme.
void applyDarkTheme(QApplication& application);

} // namespace vantrel::design
