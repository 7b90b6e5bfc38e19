// The update controller against a real HTTP server on 127.0.0.1 and against local files: what it
// counts per channel, the alerts it makes, and that a feed it cannot fetch or read changes nothing.

#include "packages/updates/feed_server.h"
#include "packages/updates/update_controller.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace vantrel;
using namespace vantrel::testing;
using namespace vantrel::updates;

namespace {

// A controller of one build with its log.
struct Checker {
    Checker(std::optional<QUrl> feed, qint64 build, ReleaseChannel channel = ReleaseChannel::production,
            Clock* clock = nullptr, std::chrono::milliseconds timeout = std::chrono::seconds(30))
        : controller(UpdateController::Settings{feed, build, channel, clock, std::chrono::hours(24), timeout,
                                                [this](const QString& line) { log << line; }})
    {
    }

    // Checks and waits until the check has ended.
    bool check()
    {
        QSignalSpy finished(&controller, &UpdateController::checkFinished);
        controller.checkForUpdates();
        return finished.wait(10000) && finished.size() == 1;
    }

    QStringList buttonTitles() const
    {
        QStringList titles;
        const auto alert = controller.stateAlertModel();
        for (const auto& button : alert->buttons)
            titles << button.title;
        return titles;
    }

    QStringList log;
    UpdateController controller;
};

} // namespace

class UpdateControllerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newerBuildsAreCountedInOurChannelOnly()
    {
        FeedServer server;
        QVERIFY(server.isListening());
        server.body = feedDocument(QJsonObject{
            {QStringLiteral("production"), QJsonArray{feedBuild(410), feedBuild(411), feedBuild(412, true),
                                                      feedBuild(414, false, "2.4 %1 %2"), feedBuild(413)}},
            {QStringLiteral("beta"), QJsonArray{feedBuild(420), feedBuild(421), feedBuild(409)}},
        });

        Checker production(server.url(), 411);
        QList<quint64> published;
        const Cancellable subscription =
            production.controller.releaseBuildsBehindPublisher().sink([&](const quint64& n) { published << n; });
        QCOMPARE(published, QList<quint64>{0});
        QVERIFY(!production.controller.stateAlertModel());
        QVERIFY(production.check());
        QVERIFY2(production.log.isEmpty(), qPrintable(production.log.join('\n')));
        // 413 and 414; the withdrawn 412 does not count.
        QCOMPARE(production.controller.releaseBuildsBehind(), quint64(2));
        QCOMPARE(published, (QList<quint64>{0, 2}));
        const auto alert = production.controller.stateAlertModel();
        QVERIFY(alert);
        QCOMPARE(alert->type, UpdateAlertModel::updateAvailable);
        QCOMPARE(
            production.buttonTitles(),
            (QStringList{QStringLiteral("Download"), QStringLiteral("Skip This Version"), QStringLiteral("Later")}));
        // The newest build is offered, and its version from the feed is shown as it stands.
        QCOMPARE(*alert->message, QStringLiteral("Version 2.4 %1 %2 (build 414) is available; you have build 411."));
        QCOMPARE(production.controller.downloadURL().value_or(QUrl()),
                 QUrl(QStringLiteral("https://vantrel.app/download/414")));
        QCOMPARE(production.controller.rollbackURL().value_or(QUrl()),
                 QUrl(QStringLiteral("https://vantrel.app/download/410")));

        // The same feed again publishes nothing new.
        QVERIFY(production.check());
        QCOMPARE(published.size(), 2);

        Checker beta(server.url(), 411, ReleaseChannel::beta);
        QVERIFY(beta.check());
        QCOMPARE(beta.controller.releaseBuildsBehind(), quint64(2));

        // A channel the feed does not list has nothing newer.
        Checker alpha(server.url(), 411, ReleaseChannel::alpha);
        QVERIFY(alpha.check());
        QCOMPARE(alpha.controller.releaseBuildsBehind(), quint64(0));
        QVERIFY(!alpha.controller.stateAlertModel());
        QVERIFY(alpha.log.isEmpty());
        QCOMPARE(server.requests, 4);
    }

    void aWithdrawnBuildOffersTheNewestEarlierGoodOne()
    {
        // The newest build, with only a withdrawn one after it, has nothing to say.
        FeedServer server;
        server.body = productionFeed(QJsonArray{feedBuild(400), feedBuild(412), feedBuild(413, true)});
        Checker checker(server.url(), 412);
        QVERIFY(checker.check());
        QVERIFY(!checker.controller.stateAlertModel());
        QVERIFY(!checker.controller.downloadURL());

        server.body = productionFeed(QJsonArray{feedBuild(408), feedBuild(409), feedBuild(410, true),
                                                feedBuild(412, true), feedBuild(413, true)});
        QVERIFY(checker.check());
        QCOMPARE(checker.controller.releaseBuildsBehind(), quint64(0));
        auto alert = checker.controller.stateAlertModel();
        QVERIFY(alert);
        QCOMPARE(alert->type, UpdateAlertModel::buildWithdrawn);
        QCOMPARE(checker.buttonTitles(),
                 (QStringList{QStringLiteral("Update"), QStringLiteral("Roll back"), QStringLiteral("Later")}));
        QCOMPARE(checker.controller.rollbackURL().value_or(QUrl()),
                 QUrl(QStringLiteral("https://vantrel.app/download/409")));
        QVERIFY(!checker.controller.downloadURL());

        // With a good newer build, the alert stays the withdrawn one and Update leads to that build.
        server.body =
            productionFeed(QJsonArray{feedBuild(409), feedBuild(412, true), feedBuild(414), feedBuild(415, true)});
        QVERIFY(checker.check());
        QCOMPARE(checker.controller.releaseBuildsBehind(), quint64(1));
        alert = checker.controller.stateAlertModel();
        QCOMPARE(alert->type, UpdateAlertModel::buildWithdrawn);
        QVERIFY(alert->message->contains(QStringLiteral("build 414")));
        QCOMPARE(checker.controller.downloadURL().value_or(QUrl()),
                 QUrl(QStringLiteral("https://vantrel.app/download/414")));
    }

    void aFeedThatCannotBeReadChangesNothing()
    {
        FeedServer server;
        const QByteArray good = productionFeed(QJsonArray{feedBuild(412)});
        server.body = good;
        Checker checker(server.url(), 411);
        QVERIFY(checker.check());
        QCOMPARE(checker.controller.releaseBuildsBehind(), quint64(1));

        const QByteArray entry = "{\"build\":413,\"version\":\"2\",\"downloadURL\":\"https://vantrel.app/d\"}";
        const auto channel = [](const QByteArray& builds) {
            return "{\"format\":1,\"channels\":{\"production\":[" + builds + "]}}";
        };
        const QList<std::pair<const char*, QByteArray>> broken{
            {"not JSON", "{\"format\": 1, "},
            {"not an object", "[1, 2, 3]"},
            {"another format", "{\"format\":2,\"channels\":{}}"},
            {"no channels", "{\"format\":1}"},
            {"channel not a list", "{\"format\":1,\"channels\":{\"production\":{}}}"},
            {"build as text",
             channel("{\"build\":\"413\",\"version\":\"2\",\"downloadURL\":\"https://vantrel.app/d\"}")},
            {"fractional build",
             channel("{\"build\":413.5,\"version\":\"2\",\"downloadURL\":\"https://vantrel.app/d\"}")},
            {"build zero", channel("{\"build\":0,\"version\":\"2\",\"downloadURL\":\"https://vantrel.app/d\"}")},
            {"no version", channel("{\"build\":413,\"downloadURL\":\"https://vantrel.app/d\"}")},
            {"script URL", channel("{\"build\":413,\"version\":\"2\",\"downloadURL\":\"javascript:alert(1)\"}")},
            {"file URL", channel("{\"build\":413,\"version\":\"2\",\"downloadURL\":\"file:///etc/passwd\"}")},
            {"withdrawn as text",
             channel(
                 "{\"build\":413,\"version\":\"2\",\"downloadURL\":\"https://vantrel.app/d\",\"withdrawn\":\"yes\"}")},
            {"build twice", channel(entry + ',' + entry)},
            {"empty", ""},
            {"too large", channel(entry) + QByteArray(1024 * 1024, ' ')},
        };
        for (const auto& [name, body] : broken) {
            checker.log.clear();
            server.body = body;
            QSignalSpy changed(&checker.controller, &UpdateController::releaseBuildsBehindChanged);
            QVERIFY2(checker.check(), name);
            QCOMPARE(checker.log.size(), 1);
            QVERIFY2(checker.log.first().contains(server.url().toDisplayString()), qPrintable(checker.log.first()));
            QCOMPARE(checker.controller.releaseBuildsBehind(), quint64(1));
            QCOMPARE(checker.controller.stateAlertModel()->type, UpdateAlertModel::updateAvailable);
            QVERIFY(changed.isEmpty());
        }

        // An error status, then nobody at the address: the same.
        server.body = good;
        server.status = 404;
        checker.log.clear();
        QVERIFY(checker.check());
        QCOMPARE(checker.log.size(), 1);
        server.close();
        checker.log.clear();
        QVERIFY(checker.check());
        QCOMPARE(checker.log.size(), 1);
        QVERIFY2(checker.log.first().contains(QStringLiteral("cannot be fetched")), qPrintable(checker.log.first()));
        QCOMPARE(checker.controller.releaseBuildsBehind(), quint64(1));
    }

    // A body that never ends is cut off at the feed's limit, or at the time-out when it is the body
    // of a redirect (which Qt reads to its end before following it and never hands over): either
    // way the connection is closed before more than a few MiB have left the server.
    void anEndlessBodyIsCutOff()
    {
        for (const int status : {200, 302}) {
            EndlessServer server;
            server.status = status;
            QVERIFY(server.isListening());
            Checker checker(server.url(), 411, ReleaseChannel::production, nullptr, std::chrono::seconds(2));
            QVERIFY(checker.check());
            QCOMPARE(checker.log.size(), 1);
            QVERIFY2(checker.log.first().contains(status == 200 ? QStringLiteral("larger than")
                                                                : QStringLiteral("too long")),
                     qPrintable(checker.log.first()));
            QTRY_COMPARE_WITH_TIMEOUT(server.closed, 1, 5000);
            // The socket buffers of loopback and what the reading thread takes before the abort
            // lands make some megabytes; an unbounded read makes gigabytes.
            QVERIFY2(server.sent < 64 * 1024 * 1024,
                     qPrintable(QStringLiteral("%1: %2 bytes").arg(status).arg(server.sent)));
            QVERIFY(!checker.controller.stateAlertModel());
        }
    }

    void aLocalFeedFile()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("feed.json"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(productionFeed(QJsonArray{feedBuild(412), feedBuild(413)}));
        file.close();
        Checker checker(QUrl::fromLocalFile(path), 411);
        QVERIFY(checker.check());
        QCOMPARE(checker.controller.releaseBuildsBehind(), quint64(2));

        // The sample feed that documents the format reads as it says.
        Checker sample(QUrl::fromLocalFile(QStringLiteral(VANTREL_SOURCE_DIR "/packaging/update_feed.json")), 411);
        QVERIFY(sample.check());
        QVERIFY2(sample.log.isEmpty(), qPrintable(sample.log.join('\n')));
        QCOMPARE(sample.controller.stateAlertModel()->type, UpdateAlertModel::buildWithdrawn);
        QCOMPARE(sample.controller.rollbackURL().value_or(QUrl()),
                 QUrl(QStringLiteral("https://vantrel.app/download/2.2")));

        Checker missing(QUrl::fromLocalFile(folder.filePath(QStringLiteral("gone.json"))), 411);
        QVERIFY(missing.check());
        QCOMPARE(missing.log.size(), 1);
        QCOMPARE(missing.controller.releaseBuildsBehind(), quint64(0));
    }

    // A local feed is read apart from the interface thread, and only a regular file of at most the
    // feed's limit: a FIFO nobody writes to would otherwise block the first check forever.
    void aLocalFeedThatIsNoFileIsRefused()
    {
        QTemporaryDir folder;
        const QString fifo = folder.filePath(QStringLiteral("feed.fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString large = folder.filePath(QStringLiteral("large.json"));
        QFile file(large);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(ReleaseFeed::maximumSize + 1));
        file.close();
        const QList<std::pair<QString, QString>> refused{
            {fifo, QStringLiteral("FIFO")},
            {folder.path(), QStringLiteral("a folder")},
            {QStringLiteral("/dev/zero"), QStringLiteral("a device")},
            {large, QStringLiteral("larger than")},
        };
        for (const auto& [path, reason] : refused) {
            Checker checker(QUrl::fromLocalFile(path), 411);
            QVERIFY(checker.check());
            QCOMPARE(checker.log.size(), 1);
            QVERIFY2(checker.log.first().contains(reason) && checker.log.first().contains(QStringLiteral("not read")),
                     qPrintable(checker.log.first()));
            QVERIFY(!checker.controller.stateAlertModel());
        }
    }

    void withoutAUsableFeedNothingIsFetched()
    {
        FeedServer server;
        Checker none(std::nullopt, 411);
        QVERIFY(none.check());
        QVERIFY(none.log.isEmpty());

        // Another scheme is refused when the controller is made, and never fetched.
        QUrl other = server.url();
        other.setScheme(QStringLiteral("ftp"));
        Checker ftp(other, 411);
        QCOMPARE(ftp.log.size(), 1);
        QVERIFY(ftp.check());
        QCOMPARE(server.requests, 0);
        QVERIFY(!ftp.controller.stateAlertModel());
    }

    void checksAtStartAndEveryDayAndOnceAtATime()
    {
        FeedServer server;
        server.body = productionFeed(QJsonArray{feedBuild(412)});
        ManualClock clock;
        Checker checker(server.url(), 411, ReleaseChannel::production, &clock);
        QSignalSpy finished(&checker.controller, &UpdateController::checkFinished);

        checker.controller.start();
        // Asking while a check runs is answered by that check.
        QVERIFY(checker.controller.isChecking());
        checker.controller.checkForUpdates();
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(server.requests, 1);

        clock.advance(std::chrono::hours(23));
        QVERIFY(!checker.controller.isChecking());
        clock.advance(std::chrono::hours(1));
        QVERIFY(checker.controller.isChecking());
        QVERIFY(finished.wait(10000));
        clock.advance(std::chrono::hours(24));
        QVERIFY(finished.wait(10000));
        QCOMPARE(server.requests, 3);
        QCOMPARE(clock.pendingCount(), std::size_t(1));
    }
};

QTEST_GUILESS_MAIN(UpdateControllerTest)
#include "update_controller_test.moc"
