#include "app/application_entry.h"

#include "app/about_window_scene.h"
#include "app/app_delegate.h"
#include "app/app_updater.h"
#include "app/main_window.h"
#include "app/onboarding_scene.h"
#include "app/single_instance.h"
#include "app/url_handler.h"
#include "app/vantrel_model.h"
#include "desktop/system_services.h"
#include "engine/document_application.h"
#include "foundation/error.h"
#include "open_team/team.h"
#include "views/team/team_window.h"

#include <QApplication>
#include <QTimer>

#include <QtDebug>

#include <cstdio>

#ifndef VANTREL_UPDATE_FEED_URL
#define VANTREL_UPDATE_FEED_URL ""
#endif

namespace vantrel {

namespace {

constexpr int forwardingTimeoutMs = 5000;

// Quitting asks the open team, if any, whether it may close; without one it may.
VantrelAppDelegate::AlertBeforeClosing confirmQuit(TeamSetup& setup)
{
    return [&setup](VantrelAppDelegate::Reply shouldClose) {
        const TeamSetup::State state = setup.state();
        if (state.kind() != TeamSetup::State::Case::loaded) {
            shouldClose(true);
            return;
        }
        state.team()->alertBeforeClosing(Team::ClosingEvent::quit, std::move(shouldClose));
    };
}

} // namespace

void askBeforeQuitting(VantrelAppDelegate& delegate, TeamSetup& setup, QWidget& mainWindow)
{
    delegate.installWhenActive(confirmQuit(setup), &mainWindow);
    // Closing the window asks like every other way of quitting, and closes it once granted.
    delegate.handleClosesOf(&mainWindow);
}

std::optional<QString> missingDisplayReason(const QProcessEnvironment& environment)
{
    const auto isSet = [&environment](const char* name) {
        return !environment.value(QLatin1String(name)).trimmed().isEmpty();
    };
    if (isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
        return std::nullopt;
    return QStringLiteral(
        "Vantrel needs a graphical display, and none was found (neither DISPLAY nor WAYLAND_DISPLAY is set).");
}

int runApplication(QApplication& application, const QStringList& arguments)
{
    const AppInfo& appInfo = AppInfo::shared();
    const QString scheme = appInfo.urlScheme().value_or(QString());
    QStringList urls;
    for (const QString& argument : arguments)
        urls << URLHandler::urlFromArgument(argument, scheme);

    // One instance per user: a later start hands its links to the running one and ends. Without
    // a safe folder for its socket, it runs alone; opening a team bundle then says what is wrong.
    QString serverName;
    try {
        serverName = single_instance::serverName(appInfo.bundleId());
    } catch (const Error& error) {
        std::fprintf(stderr, "Vantrel runs without receiving links from later starts: %s %s %s\n",
                     qPrintable(error.localizedDescription()), qPrintable(error.failureReason().value_or(QString())),
                     qPrintable(error.recoverySuggestion().value_or(QString())));
    }
    SingleInstanceServer instance(serverName);
    if (!serverName.isEmpty()) {
        const auto start = single_instance::handOverOrListen(urls, instance, forwardingTimeoutMs);
        if (!start.message.isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(start.message));
        if (start.exitStatus)
            return *start.exitStatus;
    }

    VantrelAppDelegate delegate;
    auto storage = std::make_shared<UserDefaultsStorage>();
    // The update checks follow the release feed built in, or the one the environment names.
    const auto feedURL =
        updateFeedURL(QProcessEnvironment::systemEnvironment(), QStringLiteral(VANTREL_UPDATE_FEED_URL));
    auto updater = std::make_shared<AppUpdater>(std::make_unique<updates::UpdateController>(updateSettings(
        appInfo, feedURL, [](const QString& line) { qWarning().noquote() << line; })));
    VantrelModel model(appInfo, updater, storage, std::make_shared<SystemFileManager>(),
                       std::make_shared<SystemWorkspace>(fileKindOf),
                       {[&delegate] { delegate.requestQuit(); }, [&delegate] { delegate.requestRestart(); }});
    updater->updateController().start();

    auto* content = new TeamWindow(model.teamSetup(), appInfo.icon(), model.ribbon());
    content->setOnboardingFactory(&makeOnboardingScene);
    MainWindow window(content, storage, {});
    window.setCommands({[&delegate] { delegate.requestQuit(); },
                        [&window, &appInfo, &model] { showAboutWindow(&window, appInfo, model.openURL()); },
                        [updater] { updater->checkForUpdates(); }});

    askBeforeQuitting(delegate, *model.teamSetup(), window);
    delegate.handleTerminationSignals();
    // A restart lets the new process become the running instance; if it cannot start, this one
    // goes on listening and says why.
    delegate.beforeRestart = [&instance] { instance.release(); };
    delegate.restartFailed = [&instance, &model](const QString& reason) {
        instance.listen();
        model.teamSetup()->alert()->show(Error(reason));
    };
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &window, &MainWindow::saveLoadedGeometry);

    QObject::connect(&instance, &SingleInstanceServer::urlsReceived, &window,
                     [&window, &model](const QStringList& received) {
                         window.raiseToFront();
                         for (const QString& url : received)
                             model.urlHandler().handle(url);
                     });

    window.show();
    // The links of this start are handled once the event loop runs, as those of later starts are.
    QTimer::singleShot(0, &window, [&model, urls] {
        for (const QString& url : urls)
            model.urlHandler().handle(url);
    });
    return application.exec();
}

} // namespace vantrel
