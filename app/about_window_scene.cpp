#include "app/about_window_scene.h"

#include "model/strings.h"
#include "model/text_format.h"
#include "packages/about_window/about_window_controller.h"
#include "packages/about_window/host_app_info.h"

#include <QWidget>

namespace vantrel {

namespace {

// Keeps the about window of its parent.
class AboutWindowHolder final : public QObject {
public:
    using QObject::QObject;
    std::unique_ptr<QorAboutWindowController> controller;
};

const QUrl& webPage()
{
    static const QUrl url(QStringLiteral("https://vantrel.app"));
    return url;
}

} // namespace

void installAboutInformation(const AppInfo& appInfo)
{
    HostAppInfo::setInformationSource(HostAppInfo::applicationInformation({
        {QStringLiteral("CFBundleName"), appInfo.name()},
        {QStringLiteral("CFBundleShortVersionString"), appInfo.version()},
        {QStringLiteral("CFBundleVersion"), appInfo.buildNumber()},
        {QStringLiteral("NSHumanReadableCopyright"), QStringLiteral("Copyright © 2026 The Vantrel team")},
    }));
}

std::shared_ptr<QorAboutWindow> makeAboutWindowModel(const AppInfo& appInfo, std::function<void(const QUrl&)> openURL)
{
    const ContactInfo contact{QStringLiteral("support@vantrel.app"),
                              HostAppInfo::mailtoURL(QStringLiteral("support@vantrel.app")),
                              QStringLiteral("@vantrelapp"), QUrl(QStringLiteral("https://twitter.com/vantrelapp"))};
    AboutWindowSettings settings{HostAppInfo::name(),
                                 HostAppInfo::version(),
                                 HostAppInfo::copyright(),
                                 webPage(),
                                 QorAppCredits::credits(),
                                 contact,
                                 HostAppInfo::acknowledgmentsURL()};
    return std::make_shared<QorAboutWindow>(std::move(settings), appInfo.icon().pixmap(256, 256), std::move(openURL));
}

void showAboutWindow(QObject* owner, const AppInfo& appInfo, std::function<void(const QUrl&)> openURL)
{
    static const QString holderName = QStringLiteral("aboutWindowHolder");
    auto* holder = dynamic_cast<AboutWindowHolder*>(owner->findChild<QObject*>(holderName, Qt::FindDirectChildrenOnly));
    if (!holder) {
        holder = new AboutWindowHolder(owner);
        holder->setObjectName(holderName);
    }
    auto& controller = holder->controller;
    if (!controller || !controller->window()) {
        controller = std::make_unique<QorAboutWindowController>(makeAboutWindowModel(appInfo, std::move(openURL)));
        controller->window()->setWindowTitle(formatText(Strings::aboutActionTitle(), {HostAppInfo::name()}));
    }
    controller->showWindow();
}

} // namespace vantrel
