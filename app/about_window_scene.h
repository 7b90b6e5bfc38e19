#pragma once

#include "packages/about_window/about_window_model.h"
#include "packages/components/app_info.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>

namespace vantrel {

// Hands the application's own information to the about window: its name, version line and
// copyright line.
void installAboutInformation(const AppInfo& appInfo);

// The about window's model for this application: its information, credits, web page and
// contact data, with every link opened through `openURL`.
std::shared_ptr<QorAboutWindow> makeAboutWindowModel(const AppInfo& appInfo, std::function<void(const QUrl&)> openURL);

// Shows the one about window of `owner`, bringing it forward when it is open already. The window
// lives as long as `owner` (the main window).
void showAboutWindow(QObject* owner, const AppInfo& appInfo, std::function<void(const QUrl&)> openURL);

} // namespace vantrel
