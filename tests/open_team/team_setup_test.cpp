// The team setup over real team bundles: restoring at start, opening and creating, the close
// check of the open team, the stored path, the alerts' log, and requests that overtake each other.

#include "desktop/system_services.h"
#include "engine/storage/folder_access.h"
#include "model/container_operations.h"
#include "model/strings.h"
#include "model/support/item_test_support.h"
#include "open_team/team_setup.h"

#include <QDir>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QThreadPool>

#include <atomic>
#include <semaphore>
#include <sys/stat.h>

using namespace vantrel;
using namespace vantrel::testing;
using Case = TeamSetup::State::Case;

namespace {

// Local folders. When `hold` is set, the next look-up of the data folder (the engine makes one as
// it opens a bundle) waits for `released`, which holds that open on its worker thread.
struct HeldFileManager final : FileManaging {
    QString root;
    mutable std::atomic<bool> hold = false, holding = false;
    mutable std::counting_semaphore<> released{0};

    explicit HeldFileManager(QString folder) : root(std::move(folder)) {}
    QString userDataFolder() const override
    {
        if (hold.exchange(false)) {
            holding = true;
            released.acquire();
        }
        return root + QStringLiteral("/data");
    }
    QString cacheFolder() const override { return root + QStringLiteral("/cache"); }
    QString downloadsFolder() const override { return root; }
};

struct Window {
    QTemporaryDir dir;
    QString share = dir.filePath(QStringLiteral("share"));
    std::shared_ptr<HeldFileManager> files = std::make_shared<HeldFileManager>(dir.filePath(QStringLiteral("local")));
    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<KeyValueStoragePreview> storage = std::make_shared<KeyValueStoragePreview>();
    AlertModel alert;
    SheetModel sheet;
    ConfirmationDialogModel confirmation;
    FileImporter fileImporter;
    ToolbarProgressIndicator progress;
    std::unique_ptr<TeamSetup> setup;

    Window() { QDir().mkpath(share); }
    // A new team bundle in the share, closed again.
    QString bundle(const QString& name)
    {
        const QString path = share + QLatin1Char('/') + name + QStringLiteral(".vantrelteam");
        TeamBundle::create(path, files, workspace);
        return path;
    }
    void start(const std::optional<QString>& storedPath = std::nullopt)
    {
        if (storedPath)
            storage->set(*storedPath, TeamBundle::pathStorageKey);
        setup = std::make_unique<TeamSetup>(
            QStringLiteral("vantrel"), [](const QUrl&) { return completedTask(); }, &alert, &sheet, &confirmation,
            &progress, storage, &fileImporter, files, workspace);
    }
    std::shared_ptr<Team> team() const { return setup->state().team(); }
    QString openPath() const { return team() ? team()->bundle()->rootPath() : QString(); }
    std::optional<QString> stored() const { return storage->string(TeamBundle::pathStorageKey); }
    QString message() const { return alert.details() ? alert.details()->message : QString(); }
};

QString logOf(const QString& bundle)
{
    const QString file = bundle + QStringLiteral("/logs/") + installationClientId() + QStringLiteral(".log");
    return QString::fromUtf8(contentOf(file));
}

QString description(TeamBundleError::Case which, const QString& path)
{
    return TeamBundleError(which, path).localizedDescription();
}

} // namespace

class TeamSetupTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qputenv("VANTREL_CLIENT_ID", "SETUP");
        QThreadPool::globalInstance()->setMaxThreadCount(std::max(4, QThreadPool::globalInstance()->maxThreadCount()));
    }

    void restoringAtStart()
    {
        Window window;
        window.start();
        QCOMPARE(window.setup->state().kind(), Case::select); // nothing stored: choose, without an alert
        QVERIFY(!window.alert.details());

        // The extension's letter case counts; the stored path stays for the next start.
        const QString wrongCase = window.share + QStringLiteral("/Cut.VantrelTeam");
        QDir().rename(window.bundle(QStringLiteral("Cut")), wrongCase);
        window.start(wrongCase);
        QCOMPARE(window.setup->state().kind(), Case::select);
        QCOMPARE(window.message(), description(TeamBundleError::Case::wrongExtension, wrongCase));
        QCOMPARE(window.stored(), wrongCase);

        // A bundle handed over by URL is stored as a plain path, and opened at the next start.
        const QString path = window.bundle(QStringLiteral("Our 50% Team"));
        window.setup->openTeamBundle(QUrl::fromLocalFile(path));
        QTRY_COMPARE(window.openPath(), path);
        QCOMPARE(window.stored(), path);
        window.start();
        QCOMPARE(window.setup->state().kind(), Case::loading); // the engine opens it on a worker
        QTRY_COMPARE(window.openPath(), path);

        // Opened on a worker, the bundle serves the window: a teammate's change arrives.
        const auto mate = std::make_shared<HeldFileManager>(window.dir.filePath(QStringLiteral("mate")));
        newCollection(TeamBundle::open(path, mate, window.workspace, ClientIdentity{QStringLiteral("MATE"), {}}),
                      QStringLiteral("Dailies"));
        window.team()->bundle()->poll();
        QTRY_COMPARE(namesOf(window.team()->collections().all()), QStringList{QStringLiteral("Dailies")});
    }

    void failuresAndTheAlertsLog()
    {
        Window window;
        const QString cut = window.bundle(QStringLiteral("Cut"));
        window.start(cut);
        QTRY_COMPARE(window.openPath(), cut);
        const auto team = window.team();
        window.alert.show(Error(QStringLiteral("Raised while Cut is open")));
        QVERIFY(logOf(cut).contains(QStringLiteral("[bindLog(alert:)] | Alert")));
        QVERIFY(logOf(cut).contains(QStringLiteral("Raised while Cut is open")));

        // Creating over something that is there fails; the open team stays, and logs the alert.
        const QByteArray marker = contentOf(cut + QStringLiteral("/team.json"));
        window.setup->createTeamBundle(QUrl::fromLocalFile(window.share), QStringLiteral("Cut"));
        QTRY_COMPARE(window.message(), description(TeamBundleError::Case::alreadyExists, cut));
        QCOMPARE(window.team(), team);
        QCOMPARE(contentOf(cut + QStringLiteral("/team.json")), marker);
        QVERIFY(logOf(cut).contains(window.message()));

        // A failed open drops the open team and is logged nowhere; the stored path stays.
        const QString missing = window.share + QStringLiteral("/Gone.vantrelteam");
        window.setup->openTeamBundle(QUrl::fromLocalFile(missing));
        QTRY_COMPARE(window.setup->state().kind(), Case::select);
        QCOMPARE(window.message(), description(TeamBundleError::Case::missingFolder, missing));
        QVERIFY(!logOf(cut).contains(window.message()));
        QCOMPARE(window.stored(), cut);
        window.alert.show(Error(QStringLiteral("Raised with no team")));
        QVERIFY(!logOf(cut).contains(QStringLiteral("Raised with no team")));
    }

    void aBundleThisUserMayOnlyReadOpensForReadingSayingWhy()
    {
        Window window;
        const QString cut = window.bundle(QStringLiteral("Cut"));
        newCollection(TeamBundle::open(cut, window.files, window.workspace), QStringLiteral("Dailies"));
        // Judged for a member of the bundle's group who isn't its owner, and its folders only
        // readable by the group: as a teammate of another umask finds a bundle made before.
        struct stat status {};
        QVERIFY(::stat(QFile::encodeName(cut).constData(), &status) == 0);
        setAccessIdentityForTesting(AccessIdentity{status.st_uid + 1, {status.st_gid}});
        const auto restore = qScopeGuard([] { setAccessIdentityForTesting(std::nullopt); });
        const QStringList folders = QDir(cut).entryList(QDir::Dirs | QDir::NoDotDot);
        for (const QString& folder : folders)
            QVERIFY(::chmod(QFile::encodeName(cut + QLatin1Char('/') + folder).constData(), 0775) == 0);
        QVERIFY(::chmod(QFile::encodeName(cut + QStringLiteral("/locks")).constData(), 0755) == 0);
        window.start(cut);
        QTRY_COMPARE(window.openPath(), cut);
        const AlertDetails alert = window.alert.details().value();
        QCOMPARE(alert.title, QStringLiteral("Read-Only Team Bundle"));
        for (const QString& named :
             {cut, QStringLiteral("“Cut.vantrelteam/locks”"), userName(status.st_uid),
              QStringLiteral("the group %1").arg(groupName(status.st_gid)), QStringLiteral("write permission")})
            QVERIFY2(alert.message.contains(named), qPrintable(alert.message));
        // The window is there for reading.
        QTRY_COMPARE(namesOf(window.team()->collections().all()), QStringList{QStringLiteral("Dailies")});
        QVERIFY(logOf(cut).contains(QStringLiteral("Read-Only Team Bundle")));
    }

    void theCloseCheckComesFirst()
    {
        Window window;
        const QString cut = window.bundle(QStringLiteral("Cut"));
        const QString other = window.bundle(QStringLiteral("Other"));
        newCollection(TeamBundle::open(cut, window.files, window.workspace), QStringLiteral("Reels"));
        window.start(cut);
        QTRY_COMPARE(window.openPath(), cut);
        QTRY_COMPARE(window.team()->collections().all().size(), 1);
        const auto reels = window.team()->collections().all().first();
        writeFile(window.dir.filePath(QStringLiteral("Cut.kdenlive")), "<mlt/>");
        syncWait(reels->createNestedItem(window.dir.filePath(QStringLiteral("Cut.kdenlive"))));
        syncWait(findDocument(reels, QStringLiteral("Cut"))->checkOut());
        syncWait(loadAllNestedItems(reels));
        const auto team = window.team();

        // "Cancel" changes nothing, whatever was asked for; "Close" goes on.
        const auto answer = [&window](int button) {
            const AlertDetails question = *window.alert.details();
            QCOMPARE(question.title, Strings::closeConfirmationTitle());
            window.alert.setDetails(std::nullopt); // as the window does before the button's action
            question.buttons.at(button).action();
        };
        window.setup->openExistingTeamBundle();
        answer(2);
        window.setup->createNewTeamBundle();
        answer(2);
        window.setup->openTeamBundle(QUrl::fromLocalFile(other));
        answer(2);
        QVERIFY(!window.fileImporter.action());
        QVERIFY(!window.sheet.sheet());
        QCOMPARE(window.setup->requestsInFlight(), 0);
        QCOMPARE(window.team(), team);
        window.setup->openTeamBundle(QUrl::fromLocalFile(other));
        answer(1);
        QTRY_COMPARE(window.openPath(), other);
    }

    // What the window asks on behalf of a team closes, without acting, once that team has left;
    // while the next one still opens, the first is shown and keeps its question.
    void leavingATeamClosesItsQuestionsWithoutActing()
    {
        Window window;
        const QString cut = window.bundle(QStringLiteral("Cut"));
        const QString other = window.bundle(QStringLiteral("Other"));
        window.start(cut);
        QTRY_COMPARE(window.openPath(), cut);
        QStringList acted;
        window.confirmation.setDialog(ConfirmationDialog::ConfirmPermanentlyDelete{
            {}, [&acted] { acted << QStringLiteral("delete"); }});
        window.sheet.setSheet(SheetModel::CreateNewCollection{[&acted](QString) { acted << QStringLiteral("sheet"); }});
        window.fileImporter.request(
            {}, [&acted](QUrl) { acted << QStringLiteral("file"); }, FileImporter::Purpose::openTeamBundle);
        AlertDetails question(QStringLiteral("Question"), QString(),
                              {ButtonAction{QStringLiteral("Go"), [&acted] { acted << QStringLiteral("alert"); }}});
        question.mustBeAnswered = true;
        window.alert.setDetails(question);
        window.alert.show(TeamBundleError(TeamBundleError::Case::missingFolder, cut));
        QCOMPARE(window.alert.waitingCount(), 1);

        window.setup->openTeamBundle(QUrl::fromLocalFile(other));
        QVERIFY(window.confirmation.dialog());
        QVERIFY(window.sheet.sheet());
        QTRY_COMPARE(window.openPath(), other);
        QVERIFY(!window.confirmation.dialog());
        QVERIFY(!window.sheet.sheet());
        QVERIFY(!window.fileImporter.action());
        QVERIFY(!window.alert.details());
        QCOMPARE(window.alert.waitingCount(), 0);
        QVERIFY(acted.isEmpty());

        // What the next state raises itself is shown: a refused open says why.
        window.confirmation.setDialog(ConfirmationDialog::ConfirmPermanentlyDelete{{}, [] {}});
        const QString wrong = window.share + QStringLiteral("/Cut.txt");
        window.setup->openTeamBundle(QUrl::fromLocalFile(wrong));
        QCOMPARE(window.setup->state().kind(), Case::select);
        QVERIFY(!window.confirmation.dialog());
        QCOMPARE(window.message(), description(TeamBundleError::Case::wrongExtension, wrong));
    }

    void creatingANewTeam()
    {
        Window window;
        window.start();
        window.setup->openExistingTeamBundle();
        QCOMPARE(window.fileImporter.allowedContentTypes(), QStringList{QStringLiteral("*.vantrelteam/")});
        QCOMPARE(window.fileImporter.purpose(), FileImporter::Purpose::openTeamBundle);
        window.fileImporter.setAction({});
        window.setup->createNewTeamBundle();
        const auto name = std::get<SheetModel::CreateNewTeamBundle>(window.sheet.sheet().value()).create;

        // Names that can't be folder names are refused before the folder is asked for, and when
        // the folder comes with one.
        for (const QString& bad : {QString(), QStringLiteral("  "), QStringLiteral(".."), QStringLiteral("a/b"),
                                   QStringLiteral("a\nb"), QStringLiteral("a\x1b"), QStringLiteral("What?")}) {
            window.alert.setDetails(std::nullopt);
            name(bad);
            QCOMPARE(window.alert.details().value().title, Strings::invalidTeamNameTitle());
            QVERIFY(!window.fileImporter.action());
        }
        window.alert.setDetails(std::nullopt);
        window.setup->createTeamBundle(QUrl::fromLocalFile(window.share), QStringLiteral(".."));
        QCOMPARE(window.alert.details().value().title, Strings::invalidTeamNameTitle());
        QCOMPARE(window.setup->requestsInFlight(), 0);

        name(QStringLiteral("New Team"));
        QCOMPARE(window.fileImporter.allowedContentTypes(), QStringList{folderContentType});
        QCOMPARE(window.fileImporter.purpose(), FileImporter::Purpose::newTeamBundleLocation);
        window.fileImporter.action()(QUrl::fromLocalFile(window.share));
        const QString created = window.share + QStringLiteral("/New Team.vantrelteam");
        QTRY_COMPARE(window.openPath(), created);
        QCOMPARE(window.stored(), created);
        QCOMPARE(QDir(window.share).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("New Team.vantrelteam")}); // nothing made for the names refused
    }

    void theLatestRequestWins()
    {
        Window window;
        const QString slow = window.bundle(QStringLiteral("Slow"));
        const QString quick = window.bundle(QStringLiteral("Quick"));
        window.start();
        window.files->hold = true;
        auto unblock = qScopeGuard([&window] { window.files->released.release(); }); // also when failing
        window.setup->openTeamBundle(QUrl::fromLocalFile(slow));
        QTRY_VERIFY(window.files->holding);
        QVERIFY(window.progress.state().isBusy());
        window.setup->openTeamBundle(QUrl::fromLocalFile(quick));
        QTRY_COMPARE(window.openPath(), quick);
        const auto team = window.team();

        unblock.dismiss();
        window.files->released.release(); // the first open ends last, and is dropped
        QTRY_COMPARE(window.setup->requestsInFlight(), 0);
        QCOMPARE(window.team(), team);
        QCOMPARE(window.stored(), quick);
        QVERIFY(!window.progress.state().isBusy());
    }
};

QTEST_MAIN(TeamSetupTest)
#include "team_setup_test.moc"
