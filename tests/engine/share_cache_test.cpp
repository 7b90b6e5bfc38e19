// What a share's caches hide from a client, on a real sshfs share: the mount with sshfs's default
// caching (file sizes and listings kept for 20 s) must still read what was replaced or added
// through the other mount. Each client on the cached mount is either in this process (to ask
// its lock table) or a lock_child with its computer's folders.

#include "engine/document_type.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "support/child_process.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sshfs_team.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>

using namespace vantrel;
using namespace vantrel::testing;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

QStringList document(const Service& service, const QStringList& rest = {})
{
    return QStringList{QStringLiteral("document"), service->id().toString()} + rest;
}

} // namespace

class ShareCacheTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_runtime;
    std::unique_ptr<ShareStudio> m_studio;

    // A client of this process on `on`'s mount.
    std::shared_ptr<TeamBundle> openOn(const Computer& on, const Client& who)
    {
        auto team = TeamBundle::open(m_studio->root(on), localFileManager(m_studio->scratch(who.user)),
                                     std::make_shared<RecordingWorkspace>(),
                                     ClientIdentity{who.id, UserIdentity{who.user, who.fullName, who.host}});
        team->setPollInterval(std::chrono::hours(1));
        return team;
    }

    Service importText(const QString& name)
    {
        const QString source = m_studio->scratch(QStringLiteral("source")) + u'/' + name;
        writeFile(source, "text\n");
        return m_studio->import(source);
    }

private Q_SLOTS:
    void initTestCase()
    {
        std::signal(SIGPIPE, SIG_IGN);
        if (const QString missing = ShareStudio::missing(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no network share can be made here; missing: ") + missing));
        QVERIFY2(QFileInfo(QStringLiteral(VANTREL_LOCK_CHILD)).isExecutable(), VANTREL_LOCK_CHILD);
        // The clients of this process hold their ids in a runtime folder of its own: the share
        // suite running at the same time uses the same setup client's id.
        QVERIFY(m_runtime.isValid()
                && QFile::setPermissions(m_runtime.path(),
                                         QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        m_studio = std::make_unique<ShareStudio>(QStringLiteral(VANTREL_LOCK_CHILD));
        QVERIFY2(m_studio->error().isEmpty(), qPrintable(m_studio->error()));
    }

    void cleanupTestCase() { m_studio.reset(); }

    // Ben force-unlocks through the other mount: Ana's lock record is replaced by a longer one,
    // while her mount remembers the size of hers. Reading it by name names Ben.
    void theTakerIsNamedThroughTheCachedMount()
    {
        ShareStudio& studio = *m_studio;
        const Service cut = importText(QStringLiteral("Cut.txt"));
        const Client ana = ShareStudio::client(studio.cached(), QStringLiteral("ana"));
        const Client ben = ShareStudio::client(studio.uncached(), QStringLiteral("ben"));
        const auto anas = openOn(studio.cached(), ana);
        const Service hers = openService(anas, VersioningServiceType::document, cut->id());
        checkOutItem(hers);

        const Result forced =
            studio.run(studio.uncached(), ben,
                       QStringList{QStringLiteral("checkout")} + document(cut, {QStringLiteral("--force")}));
        QVERIFY2(forced.ok, qPrintable(forced.kind + u' ' + forced.text));
        const auto holder = anas->locks().readNow(cut->id());
        QVERIFY(holder);
        QCOMPARE(holder->clientId, ben.id);
        QCOMPARE(holder->holderDescription(), ben.holder());
    }

    // Bea's journal grows through the other mount, her head by a digit, just after Ana's mount
    // read her head and listed her records, while its listing of the journal does not show her
    // yet: a client that starts on Ana's mount right after reads every record she wrote.
    void aFreshClientSeesTheWholeHistory()
    {
        ShareStudio& studio = *m_studio;
        const Client bea = ShareStudio::client(studio.uncached(), QStringLiteral("bea"));
        const QString journal = studio.root(studio.cached()) + QStringLiteral("/journal");
        QVERIFY(!QDir(journal).entryList(QDir::Dirs).isEmpty()); // listed just before she starts
        const auto beas = openOn(studio.uncached(), bea);
        const auto write = [&](int count) {
            for (int i = 0; i < count; ++i)
                beas->commit(RecordKind::create, IdFor<VersionBundle>::make(),
                             {{QStringLiteral("type"), DocumentType::collection().toJson()},
                              {QStringLiteral("name"), QStringLiteral("Reel")}});
        };
        write(9);
        const QString folder = journal + u'/' + bea.id;
        QCOMPARE(contentOf(folder + QStringLiteral("/head")).trimmed().toInt(), 9);
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 10);
        write(3);

        const auto fresh = openOn(studio.cached(), ShareStudio::client(studio.cached(), QStringLiteral("dan")));
        const auto reels = [](const std::shared_ptr<TeamBundle>& team) {
            return std::count_if(team->snapshot()->bundles.begin(), team->snapshot()->bundles.end(),
                                 [](const auto& state) { return state->name == QLatin1String("Reel"); });
        };
        QCOMPARE(reels(fresh), 12);
        QVERIFY(fresh->problems().isEmpty());
    }

    // A brand-new client's first check-in reaches a client watching through the cached mount,
    // whose listing of the journal does not show the new client's folder yet.
    void aNewClientsFirstCheckInArrives()
    {
        ShareStudio& studio = *m_studio;
        const Service notes = importText(QStringLiteral("Notes.txt"));
        const auto watcher = studio.spawn(
            studio.cached(), ShareStudio::client(studio.cached(), QStringLiteral("fay")),
            QStringList{QStringLiteral("watch")} + document(notes, {QStringLiteral("500")}), ChildInput::pipe());
        const auto versionsSeen = [&](int versions, Clock::time_point since) {
            for (const PrintedLine& line : watcher->lines()) {
                const QList<QByteArray> fields = line.text.split(' ');
                if (fields.size() == 4 && fields[0] == "state" && steadyFromNanoseconds(fields[1].toLongLong()) >= since
                    && fields[2].toInt() == versions)
                    return true;
            }
            return false;
        };
        QVERIFY2(pumpUntil({watcher.get()}, Clock::now() + 120s, [&] { return versionsSeen(1, {}); }),
                 qPrintable(watcher->describe()));

        const Client gus = ShareStudio::client(studio.uncached(), QStringLiteral("gus"));
        const Result checkedOut =
            studio.run(studio.uncached(), gus, QStringList{QStringLiteral("checkout")} + document(notes));
        QVERIFY2(checkedOut.ok, qPrintable(checkedOut.kind + u' ' + checkedOut.text));
        writeFile(checkedOut.text, "more text\n");
        const Result checkedIn = studio.run(
            studio.uncached(), gus, QStringList{QStringLiteral("checkin")} + document(notes, {QStringLiteral("More")}));
        QVERIFY2(checkedIn.ok, qPrintable(checkedIn.kind + u' ' + checkedIn.text));
        // Well within sshfs's 20 s of listing cache; how fast it arrives is the benchmark's.
        const bool seen = pumpUntil({watcher.get()}, checkedIn.at + 6s, [&] { return versionsSeen(2, {}); });
        watcher->send("quit");
        finish({watcher.get()});
        QVERIFY2(seen, "the new client's check-in did not reach the cached mount in time");
    }
};

QTEST_GUILESS_MAIN(ShareCacheTest)
#include "share_cache_test.moc"
