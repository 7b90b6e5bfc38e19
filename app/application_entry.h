#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

class QApplication;
class QWidget;

namespace vantrel {

class TeamSetup;
class VantrelAppDelegate;

// Every way of quitting asks the team `setup` holds, if any, whether it may close: the question
// is installed in `delegate` once `mainWindow` is first active, and closing `mainWindow` asks it
// too (and closes the window once granted).
void askBeforeQuitting(VantrelAppDelegate& delegate, TeamSetup& setup, QWidget& mainWindow);

// Why the application cannot show a window in this environment, as one line for the
// terminal; absent when a display (or an explicit Qt platform) is available.
std::optional<QString> missingDisplayReason(const QProcessEnvironment& environment);

// Runs the application: hands `arguments` (links and team-bundle paths) to the instance of this
// user that already runs and returns at once, or becomes that instance: builds the root model and
// the main window, opens the last or the given team bundle and runs the event loop until the user
// quits. The exit status.
int runApplication(QApplication& application, const QStringList& arguments);

} // namespace vantrel
