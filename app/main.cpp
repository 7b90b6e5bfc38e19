#include "app/about_window_scene.h"
#include "app/application_entry.h"
#include "design/dark_theme.h"
#include "packages/components/app_info.h"

#include <QApplication>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (const auto reason = vantrel::missingDisplayReason(QProcessEnvironment::systemEnvironment())) {
        std::fprintf(stderr, "%s\n", reason->toLocal8Bit().constData());
        return 1;
    }

    QApplication application(argc, argv);
    const vantrel::AppInfo& appInfo = vantrel::AppInfo::shared();
    QApplication::setApplicationName(appInfo.name());
    QApplication::setOrganizationName(appInfo.name());
    QApplication::setApplicationVersion(appInfo.version());
    // The installed desktop entry (packaging/vantrel.desktop) names and shows the window's icon.
    QApplication::setDesktopFileName(QStringLiteral("vantrel"));
    QApplication::setWindowIcon(appInfo.icon());
    vantrel::installAboutInformation(appInfo);
    vantrel::design::applyDarkTheme(application);

    // Texts are looked up by their English key; a translation for the user's language, when
    // one is installed beside the program, replaces them.
    QTranslator translator;
    if (translator.load(QLocale(), QStringLiteral("vantrel"), QStringLiteral("_"),
                        QApplication::applicationDirPath() + QStringLiteral("/translations")))
        QApplication::installTranslator(&translator);

    return vantrel::runApplication(application, QApplication::arguments().mid(1));
}
