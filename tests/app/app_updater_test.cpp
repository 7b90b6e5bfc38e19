// The update service over a real update controller reading a local feed: the ribbon's update
// message in virtual time, the alerts it makes of the controller's alert models, when an asked-for
// check shows its alert, and the beta-feedback message by release type.

#include "app/app_updater.h"
#include "model/strings.h"
#include "packages/updates/feed_server.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;
using namespace std::chrono_literals;
using design::Ribbon;
using updates::UpdateAlertModel;
using updates::UpdateController;

namespace {

// An updater of build 100 over a feed file the test rewrites.
struct Updates {
    Updates()
    {
        write(QJsonArray{});
        UpdateController::Settings settings;
        settings.feedURL = QUrl::fromLocalFile(path);
        settings.buildNumber = 100;
        settings.clock = &clock;
        settings.log = [this](const QString& line) { log << line; };
        updater = std::make_shared<AppUpdater>(std::make_unique<UpdateController>(settings), clock);
    }

    void write(const QJsonArray& builds)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(productionFeed(builds));
    }

    // The feed lists `count` newer builds; waits for the controller to read it.
    void setNewerBuilds(int count)
    {
        QJsonArray builds{feedBuild(99), feedBuild(100)};
        for (int i = 1; i <= count; ++i)
            builds.append(feedBuild(100 + i));
        write(builds);
        QSignalSpy finished(&updater->updateController(), &UpdateController::checkFinished);
        updater->updateController().checkForUpdates();
        QVERIFY(finished.wait(10000));
    }

    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("feed.json"));
    ManualClock clock;
    QStringList log;
    std::shared_ptr<AppUpdater> updater;
};

// What a ribbon publisher published, each as its text ("nil" for none) with the virtual time.
struct RibbonRecord {
    explicit RibbonRecord(const AnyPublisher<std::optional<Ribbon>>& publisher, const ManualClock& clock)
    {
        subscription = publisher.sink([this, &clock](const std::optional<Ribbon>& ribbon) {
            values << QStringLiteral("%1s %2")
                          .arg(std::chrono::duration_cast<std::chrono::seconds>(clock.now()).count())
                          .arg(ribbon ? ribbon->text : QStringLiteral("nil"));
            last = ribbon;
        });
    }
    QStringList values;
    std::optional<Ribbon> last;
    Cancellable subscription;
};

UpdateAlertModel alertModel(int type, QStringList titles)
{
    UpdateAlertModel model;
    model.title = QStringLiteral("Title");
    model.type = type;
    for (const QString& title : titles)
        model.buttons.append({title});
    return model;
}

} // namespace

class AppUpdaterTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theUpdateMessageShowsAtEachChangeAndClearsAMinuteLater()
    {
        Updates updates;
        RibbonRecord ribbon(updates.updater->updatesPublisher(), updates.clock);
        QCOMPARE(ribbon.values, QStringList{QStringLiteral("0s nil")});

        // 0 (read again: a duplicate), 3, 3, 1.
        updates.setNewerBuilds(0);
        updates.setNewerBuilds(3);
        QCOMPARE(ribbon.values.last(), QStringLiteral("0s 3 updates available"));
        QCOMPARE(ribbon.last->rank, 1);
        QCOMPARE(ribbon.last->weight, 1.0f);
        updates.clock.advance(30s);
        updates.setNewerBuilds(3);
        updates.clock.advance(20s);
        updates.setNewerBuilds(1);
        QCOMPARE(ribbon.values, (QStringList{QStringLiteral("0s nil"), QStringLiteral("0s 3 updates available"),
                                             QStringLiteral("50s 1 update available")}));
        // The clearing waits for a minute after the last message.
        updates.clock.advance(59s);
        QCOMPARE(ribbon.values.size(), 3);
        updates.clock.advance(1s);
        QCOMPARE(ribbon.values.last(), QStringLiteral("110s nil"));
        updates.clock.advance(10min);
        QCOMPARE(ribbon.values.size(), 4);
        QVERIFY(updates.log.isEmpty());
    }

    void noUpdatesClearsAtOnceAndTheLateClearingChangesNothing()
    {
        Updates updates;
        RibbonRecord ribbon(updates.updater->updatesPublisher(), updates.clock);
        updates.setNewerBuilds(2);
        updates.clock.advance(10s);
        updates.setNewerBuilds(0);
        QCOMPARE(ribbon.values, (QStringList{QStringLiteral("0s nil"), QStringLiteral("0s 2 updates available"),
                                             QStringLiteral("10s nil")}));
        updates.clock.advance(60s);
        QCOMPARE(ribbon.values.last(), QStringLiteral("60s nil"));
        QVERIFY(!ribbon.last);
    }

    void clickingTheUpdateMessageChecksAndShowsTheAlert()
    {
        Updates updates;
        QList<std::optional<AlertDetails>> shown;
        QList<QUrl> opened;
        int primary = 0;
        updates.updater->subscribeAlerts([&opened](const QUrl& url) { opened << url; }, [&primary] { ++primary; },
                                         [&shown](std::optional<AlertDetails> details) { shown << details; });
        RibbonRecord ribbon(updates.updater->updatesPublisher(), updates.clock);

        // The first read (no newer build) and a periodic one show nothing.
        updates.updater->checkForUpdates();
        QSignalSpy finished(&updates.updater->updateController(), &UpdateController::checkFinished);
        QVERIFY(finished.wait(10000));
        updates.setNewerBuilds(1);
        QTest::qWait(20);
        QVERIFY(shown.isEmpty());

        // Asked for, the check's own result is shown once it has completed, not the one before it.
        updates.write(QJsonArray{feedBuild(98), feedBuild(100, true), feedBuild(101)});
        ribbon.last->action();
        QVERIFY(shown.isEmpty());
        QTRY_COMPARE(shown.size(), 1);
        QCOMPARE(shown.first()->title, QStringLiteral("This build has been withdrawn"));
        QCOMPARE(shown.first()->buttons.size(), 3);
        shown.first()->buttons[0].action();
        QCOMPARE(primary, 1);
        shown.first()->buttons[1].action();
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://vantrel.app/download/98"))});
        shown.first()->buttons[2].action();
        QCOMPARE(shown.size(), 2);
        QVERIFY(!shown.last());
        updates.updater->download([&opened](const QUrl& url) { opened << url; });
        QCOMPARE(opened.last(), QUrl(QStringLiteral("https://vantrel.app/download/101")));
    }

    void alertsByTypeAndButtons()
    {
        QStringList ran;
        const auto make = [&ran](const UpdateAlertModel& model) {
            return AppUpdater::makeAlert(
                model, [&ran] { ran << QStringLiteral("primary"); }, [&ran] { ran << QStringLiteral("rollback"); },
                [&ran] { ran << QStringLiteral("dismiss"); });
        };
        const auto titles = [](const AlertDetails& details) {
            QStringList list;
            for (const ButtonAction& button : details.buttons)
                list << button.title + (button.cancels ? QStringLiteral("!") : QString());
            return list;
        };
        const auto press = [](const AlertDetails& details) {
            for (const ButtonAction& button : details.buttons)
                button.action();
        };

        // Type 2 shows the first and the third button; the third dismisses.
        auto update = make(alertModel(2, {QStringLiteral("Download"), QStringLiteral("Skip"), QStringLiteral("Later")}));
        QVERIFY(update);
        QCOMPARE(update->title, QStringLiteral("Title"));
        QCOMPARE(update->message, QString());
        QCOMPARE(titles(*update), (QStringList{QStringLiteral("Download"), QStringLiteral("Later!")}));
        press(*update);
        QCOMPARE(ran, (QStringList{QStringLiteral("primary"), QStringLiteral("dismiss")}));

        // Type 3 with two buttons: the missing third is the localized "Cancel", never "".
        ran.clear();
        auto withdrawn = make(alertModel(3, {QStringLiteral("Update"), QStringLiteral("Roll back")}));
        QVERIFY(withdrawn);
        QCOMPARE(titles(*withdrawn),
                 (QStringList{QStringLiteral("Update"), QStringLiteral("Roll back"), Strings::cancelActionTitle() + "!"}));
        press(*withdrawn);
        QCOMPARE(ran, (QStringList{QStringLiteral("primary"), QStringLiteral("rollback"), QStringLiteral("dismiss")}));
        QCOMPARE(titles(*make(alertModel(3, {QStringLiteral("Update")}))),
                 (QStringList{QStringLiteral("Update"), QStringLiteral("Cancel"), QStringLiteral("Cancel!")}));
        QCOMPARE(titles(*make(alertModel(2, {QStringLiteral("Download")}))),
                 (QStringList{QStringLiteral("Download"), QStringLiteral("Cancel!")}));

        // Other types, or no buttons, show nothing.
        QVERIFY(!make(alertModel(1, {QStringLiteral("OK"), QStringLiteral("A"), QStringLiteral("B")})));
        QVERIFY(!make(alertModel(4, {QStringLiteral("OK"), QStringLiteral("A"), QStringLiteral("B")})));
        QVERIFY(!make(alertModel(2, {})));
    }

    void theBetaMessageOnlyInAlphaAndBetaBuilds()
    {
        QList<QUrl> opened;
        const auto openURL = [&opened](const QUrl& url) { opened << url; };
        QList<std::optional<Ribbon>> production;
        const Cancellable a = betaRibbonPublisher(openURL, AppInfo::ReleaseType::production)
                                  .sink([&](const std::optional<Ribbon>& ribbon) { production << ribbon; });
        QCOMPARE(production.size(), 1);
        QVERIFY(!production.first());

        for (const auto type : {AppInfo::ReleaseType::beta, AppInfo::ReleaseType::alpha}) {
            std::optional<Ribbon> ribbon;
            const Cancellable b =
                betaRibbonPublisher(openURL, type).sink([&](const std::optional<Ribbon>& value) { ribbon = value; });
            QVERIFY(ribbon);
            QCOMPARE(ribbon->text, QStringLiteral("Beta - Send Feedback"));
            QCOMPARE(ribbon->rank, 2);
            QCOMPARE(ribbon->weight, 0.5f);
            ribbon->action();
        }
        QCOMPARE(opened, (QList<QUrl>{betaFeedbackURL(), betaFeedbackURL()}));
    }

    void theFeedAndTheBuildOfTheApplication()
    {
        QProcessEnvironment environment;
        const QString builtIn = QStringLiteral("https://vantrel.app/feed.json");
        QCOMPARE(updateFeedURL(environment, builtIn).value_or(QUrl()), QUrl(builtIn));
        QVERIFY(!updateFeedURL(environment, QString()));
        environment.insert(QStringLiteral("VANTREL_UPDATE_FEED_URL"), QStringLiteral("file:///srv/feed.json"));
        QCOMPARE(updateFeedURL(environment, builtIn).value_or(QUrl()), QUrl(QStringLiteral("file:///srv/feed.json")));
        // Set to nothing, it turns the built-in feed off.
        environment.insert(QStringLiteral("VANTREL_UPDATE_FEED_URL"), QString());
        QVERIFY(!updateFeedURL(environment, builtIn));

        QStringList log;
        const auto logLine = [&log](const QString& line) { log << line; };
        const auto beta = updateSettings(AppInfo(QStringLiteral("Vantrel"), QIcon(), QStringLiteral("2.0β"),
                                                 QStringLiteral("412"), QStringLiteral("app.vantrel"), std::nullopt),
                                         QUrl(builtIn), logLine);
        QCOMPARE(beta.buildNumber, qint64(412));
        QCOMPARE(beta.channel, updates::ReleaseChannel::beta);
        QCOMPARE(beta.feedURL.value_or(QUrl()), QUrl(builtIn));
        // A build without a number would take every build of the feed for newer: no checks.
        const auto unnumbered = updateSettings(AppInfo(QStringLiteral("Vantrel"), QIcon(), QStringLiteral("2.0"),
                                                       QStringLiteral("-"), QStringLiteral("app.vantrel"), std::nullopt),
                                               QUrl(builtIn), logLine);
        QVERIFY(!unnumbered.feedURL);
        QCOMPARE(log.size(), 1);
    }
};

QTEST_GUILESS_MAIN(AppUpdaterTest)
#include "app_updater_test.moc"
