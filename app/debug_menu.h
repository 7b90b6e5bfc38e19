#pragma once

#include "packages/components/app_info.h"

#include <QString>

class QMenu;
class QWidget;

namespace vantrel {

// The "DEBUG" menu of alpha builds, with "Test crash"; null for beta and production builds.
QMenu* makeDebugMenu(const AppInfo& appInfo, QWidget* parent);

// "Developer test crash by <login name>".
QString testCrashMessage();

// Ends the process the way a crash does (an abort, after the message went to the message
// handler), so that the crash reporting sees it as one.
[[noreturn]] void crashForTesting();

} // namespace vantrel
