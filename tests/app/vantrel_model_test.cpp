// The root model's update wiring over a real feed server: the ribbon feed that reaches the team
// toolbar, and the update alerts that "Check for updates...", the "update" link and the ribbon put
// into the shared alert model.

#include "app/main_window.h"
#include "app/vantrel_model.h"
#include "design/dark_theme.h"
#include "design/ribbon_view.h"
#include "desktop/system_services.h"
#include "engine/team_bundle.h"
#include "model/key_value_storage.h"
#include "packages/updates/feed_server.h"
#include "support/engine_test_support.h"
#include "views/team/team_window.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;
using namespace std::chrono_literals;
using Case = TeamSetup::State::Case;
using updates::UpdateController;

namespace {

// The root model of build 410 over a feed server, in virtual time, and its main window.
struct Root {
    explicit Root(const QByteArray& feed, const QString& version = QStringLiteral("2.0"), bool withTeam = false)
    {
        server.body = feed;
        if (withTeam) {
            fixture.client(QStringLiteral("Ana")); // the bundle exists
            storage->set(fixture.root(), TeamBundle::pathStorageKey);
        }
        const AppInfo appInfo(QStringLiteral("Vantrel"), QIcon(), version, QStringLiteral("410"),
                              QStringLiteral("app.vantrel"), QStringLiteral("vantrel"));
        UpdateController::Settings settings = updateSettings(appInfo, server.url(), {});
        settings.clock = &clock;
        updater = std::make_shared<AppUpdater>(std::make_unique<UpdateController>(settings), clock);
        model = std::make_unique<VantrelModel>(appInfo, updater, storage, files, workspace, VantrelModel::Lifecycle{},
                                               clock);
        window = std::make_unique<MainWindow>(new TeamWindow(model->teamSetup(), QIcon(), model->ribbon()), storage,
                                              MainWindow::Commands{{}, {}, [this] { updater->checkForUpdates(); }});
    }

    // Starts the update checks and waits for the first to end.
    bool startChecks()
    {
        QSignalSpy finished(&updater->updateController(), &UpdateController::checkFinished);
        updater->updateController().start();
        return finished.wait(10000);
    }

    QStringList ribbonTexts() const
    {
        QStringList texts;
        for (const auto& ribbon : model->ribbon()->values())
            texts << ribbon.text;
        return texts;
    }

    std::optional<AlertDetails> alert() const { return model->teamSetup()->alert()->details(); }

    QStringList alertButtons() const
    {
        QStringList titles;
        for (const ButtonAction& button : alert()->buttons)
            titles << button.title;
        return titles;
    }

    ManualClock clock;
    FeedServer server;
    TeamFixture fixture;
    QTemporaryDir local;
    std::shared_ptr<KeyValueStoragePreview> storage = std::make_shared<KeyValueStoragePreview>();
    std::shared_ptr<FileManaging> files = std::make_shared<SystemFileManager>(
        local.filePath("data"), local.filePath("cache"), local.filePath("downloads"));
    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<AppUpdater> updater;
    std::unique_ptr<VantrelModel> model;
    std::unique_ptr<MainWindow> window;
};

} // namespace

class VantrelModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void aNewerBuildReachesTheToolbarAndTheMenuShowsItsAlert()
    {
        Root root(productionFeed(QJsonArray{feedBuild(409), feedBuild(410), feedBuild(411, false, "2.1")}),
                  QStringLiteral("2.0"), true);
        root.window->resize(1150, 600);
        root.window->show();
        QTRY_COMPARE(root.model->teamSetup()->state().kind(), Case::loaded);
        QTRY_VERIFY(root.window->content()->teamView());
        design::RibbonView* ribbonView = nullptr;
        for (auto* view : root.window->content()->teamView()->findChildren<design::RibbonView*>()) {
            if (view->objectName() != QStringLiteral("shareRibbon"))
                ribbonView = view;
        }
        QVERIFY(ribbonView);

        // A production build has no beta message: before the check the feed is empty.
        root.clock.advance(1s);
        QCOMPARE(root.ribbonTexts(), QStringList());
        QVERIFY(root.startChecks());
        root.clock.advance(999ms);
        QVERIFY(!ribbonView->isShowingRibbon());
        root.clock.advance(1ms);
        QCOMPARE(ribbonView->text(), QStringLiteral("1 update available"));
        QTest::qWait(50);
        const QDir screenshots(QStringLiteral(VANTREL_SCREENSHOT_DIR));
        QVERIFY(screenshots.mkpath(QStringLiteral(".")));
        QVERIFY(root.window->content()
                    ->teamView()
                    ->findChild<QWidget*>(QStringLiteral("teamToolbarRow"))
                    ->grab()
                    .save(screenshots.filePath(QStringLiteral("team_toolbar_update_ribbon.png"))));

        // "Check for updates..." shows the update alert once the check has completed.
        QAction* check = root.window->menuBar()->findChild<QAction*>(QStringLiteral("checkForUpdatesAction"));
        QVERIFY(check && check->isEnabled());
        check->trigger();
        QVERIFY(!root.alert());
        QTRY_VERIFY(root.alert());
        QCOMPARE(root.alert()->title, QStringLiteral("A new version is available"));
        QCOMPARE(root.alert()->message, QStringLiteral("Version 2.1 (build 411) is available; you have build 410."));
        QCOMPARE(root.alertButtons(), (QStringList{QStringLiteral("Download"), QStringLiteral("Later")}));
        QCOMPARE(root.server.requests, 2);
        // Download opens the newest build's page.
        root.alert()->buttons.first().action();
        QCOMPARE(root.workspace->openedUrls, QList<QUrl>{QUrl(QStringLiteral("https://vantrel.app/download/411"))});
        root.alert()->buttons.last().action();
        QVERIFY(!root.alert());

        // Clicking the ribbon checks too.
        ribbonView->findChild<QPushButton*>()->click();
        QTRY_VERIFY(root.alert());
        QCOMPARE(root.server.requests, 3);
        root.model->teamSetup()->alert()->setDetails(std::nullopt);

        // A minute after the count changed (and the feed's second), the message goes.
        root.clock.advance(58s);
        QVERIFY(ribbonView->isShowingRibbon());
        root.clock.advance(2s);
        QVERIFY(!ribbonView->isShowingRibbon());
    }

    void aWithdrawnBuildShowsItsAlertWithoutATeam()
    {
        Root root(productionFeed(QJsonArray{feedBuild(408), feedBuild(409), feedBuild(410, true)}));
        QTRY_COMPARE(root.model->teamSetup()->state().kind(), Case::select);
        root.model->urlHandler().handle(QStringLiteral("vantrel://update"));
        QTRY_VERIFY(root.alert());
        QCOMPARE(root.alert()->title, QStringLiteral("This build has been withdrawn"));
        QCOMPARE(root.alertButtons(),
                 (QStringList{QStringLiteral("Update"), QStringLiteral("Roll back"), QStringLiteral("Later")}));
        // Roll back opens the newest earlier good build; Update has no newer build to open.
        root.alert()->buttons[1].action();
        root.alert()->buttons[0].action();
        QCOMPARE(root.workspace->openedUrls, QList<QUrl>{QUrl(QStringLiteral("https://vantrel.app/download/409"))});
    }

    void aBetaBuildShowsTheFeedbackMessageBehindTheUpdate()
    {
        Root root(feedDocument(QJsonObject{{QStringLiteral("beta"), QJsonArray{feedBuild(411)}}}),
                  QStringLiteral("2.0β"));
        root.clock.advance(1s);
        QCOMPARE(root.ribbonTexts(), QStringList{QStringLiteral("Beta - Send Feedback")});
        QVERIFY(root.startChecks());
        QCOMPARE(root.ribbonTexts(), QStringList{QStringLiteral("Beta - Send Feedback")});
        root.clock.advance(1s);
        QCOMPARE(root.ribbonTexts(),
                 (QStringList{QStringLiteral("1 update available"), QStringLiteral("Beta - Send Feedback")}));
        QCOMPARE(root.model->ribbon()->selected()->text, QStringLiteral("1 update available"));
        root.clock.advance(61s);
        QCOMPARE(root.model->ribbon()->selected()->text, QStringLiteral("Beta - Send Feedback"));
    }
};

QTEST_MAIN(VantrelModelTest)
#include "vantrel_model_test.moc"
