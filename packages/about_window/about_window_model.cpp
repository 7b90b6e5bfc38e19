#include "packages/about_window/about_window_model.h"

#include "packages/about_window/host_app_info.h"

#include <QCoreApplication>
#include <QDesktopServices>

namespace vantrel {

QorAboutWindow::QorAboutWindow(AboutWindowSettings settings, QPixmap appIcon, OpenURL openURL)
    : appIcon(this, &QorAboutWindow::appIconChanged, std::move(appIcon)),
      m_openURL(std::move(openURL)),
      m_settings(std::move(settings))
{
}

std::shared_ptr<QorAboutWindow> QorAboutWindow::forBrackwen(const QUrl& appWebsiteURL, const QPixmap& appIcon)
{
    AboutWindowSettings settings{
        .appName = HostAppInfo::name(),
        .appVersion = HostAppInfo::version(),
        .copyright = HostAppInfo::copyright(),
        .appWebsite = appWebsiteURL,
        .credits = QorAppCredits::credits(),
        .contactInfo =
            ContactInfo{
                .emailDescription = QStringLiteral("support@brackwen.app"),
                .email = HostAppInfo::mailtoURL(QStringLiteral("support@brackwen.app")),
                .twitterHandleDescription = QStringLiteral("@brackwenapp"),
                .twitterHandle = QUrl(QStringLiteral("https://twitter.com/brackwenapp")),
            },
        .acknowledgments = HostAppInfo::acknowledgmentsURL(),
    };
    return std::make_shared<QorAboutWindow>(std::move(settings), appIcon,
                                            [](const QUrl& url) { QDesktopServices::openUrl(url); });
}

QString QorAboutWindow::websiteButtonTitle() const
{
    //: Visit the apps website, where %@1 is the apps name
    QString title = QCoreApplication::translate("QorAboutWindow", "Visit the %@ Website");
    // The name is the argument, never the format: a "%" in it shows unchanged.
    const qsizetype at = title.indexOf(QLatin1String("%@"));
    if (at >= 0)
        title.replace(at, 2, m_settings.appName);
    return title;
}

QString QorAboutWindow::acknowledgmentsButtonTitle()
{
    //: Acknowledgements button title
    static const QString title = QCoreApplication::translate("QorAboutWindow", "Acknowledgements");
    return title;
}

} // namespace vantrel
