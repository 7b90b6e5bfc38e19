#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

class QApplication;

namespace vantrel {

// Why the application cannot show a window in this environment, as one line for the
// terminal; absent when a display (or an explicit Qt platform) is available.
std::optional<QString> missingDisplayReason(const QProcessEnvironment& environment);

// Runs the application: hands `arguments` (links and team-bundle paths) to the instance of this
// user that already runs and returns at once, or becomes that instance: builds the root model and
// the main window, opens the last or the given team bundle and runs the event loop until the user
// quits. The exit status.
int runApplication(QApplication& application, const QStringList& arguments);

} // namespace vantrel
