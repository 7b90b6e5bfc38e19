#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <optional>

class QMainWindow;

namespace vantrel {

// Why the application cannot show a window in this environment, as one line for the
// terminal; absent when a display (or an explicit Qt platform) is available.
std::optional<QString> missingDisplayReason(const QProcessEnvironment& environment);

// The application's main window, titled with the application's name, with the Help menu's
// "About" item.
QMainWindow* createMainWindow();

} // namespace vantrel
