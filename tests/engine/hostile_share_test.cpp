// A team bundle written by a hostile teammate or a damaged disk: files replaced by links to
// /dev/zero or to files elsewhere, FIFOs, files far larger than anything the engine writes, links
// where folders belong, names holding control characters. Every operation ends with a clear error
// or skips the damaged file with a reported problem; none blocks, none reads or writes without
// bound, and nothing outside the team bundle and the chosen destination is written.
//
// A regression here would block on a FIFO or fill the disk and the memory: a watchdog ends a
// blocked operation by failing the run, and the process's file size and address space are limited.

#include "engine/engine_errors.h"
#include "engine/logger.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/content_store.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"
#include "engine/system_services.h"
#include "engine/team_bundle.h"
#include "engine/version_bundles.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

using Service = std::shared_ptr<VersioningService>;
using Team = std::shared_ptr<TeamBundle>;

// Runs `operation`, ending the whole run when it hasn't returned after two minutes.
template<typename Operation>
void watched(const char* what, Operation&& operation)
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread dog([&] {
        std::unique_lock lock(mutex);
        if (!finished.wait_for(lock, std::chrono::minutes(2), [&] { return done; }))
            qFatal("%s has not ended: it is blocked on a file of the team bundle.", what);
    });
    const auto stop = qScopeGuard([&] {
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        finished.notify_all();
        dog.join();
    });
    operation();
}

std::shared_ptr<const Error> failureOf(const std::function<void()>& operation)
{
    try {
        watched("The operation", operation);
    } catch (...) {
        return errorFrom(std::current_exception());
    }
    return nullptr;
}

// Empty when `error` is a StorageError of `kind` whose description says `says`.
QString storageProblem(const std::shared_ptr<const Error>& error, StorageError::Kind kind, const QString& says)
{
    if (!error)
        return QStringLiteral("the operation succeeded");
    const auto* storage = dynamic_cast<const StorageError*>(error.get());
    if (!storage)
        return QStringLiteral("not a StorageError: ") + error->debugDescription();
    if (storage->kind() != kind)
        return QStringLiteral("another kind: ") + storage->debugDescription();
    const QString text = storage->localizedDescription() + u' ' + storage->failureReason().value_or(QString());
    if (!text.contains(says))
        return QStringLiteral("it does not say \"%1\": %2").arg(says, storage->debugDescription());
    return {};
}

#define VERIFY_STORAGE_ERROR(operation, kind, says)                                                                    \
    do {                                                                                                               \
        const QString problem_ = storageProblem(failureOf([&] { operation; }), kind, says);                            \
        QVERIFY2(problem_.isEmpty(), qPrintable(problem_));                                                            \
    } while (false)

const QString notRegular = QStringLiteral("isn’t a regular file");
const QString tooLarge = QStringLiteral("is larger than expected");

QByteArray native(const QString& path) { return QFile::encodeName(path); }

void replaceWithLink(const QString& path, const QString& target)
{
    QFile::remove(path);
    QVERIFY(::symlink(native(target).constData(), native(path).constData()) == 0);
}

void replaceWithFifo(const QString& path)
{
    QFile::remove(path);
    QVERIFY(::mkfifo(native(path).constData(), 0644) == 0);
}

// Gives the file at `path` `size` bytes, the new ones a hole that takes no room on the disk.
void makeSize(const QString& path, qint64 size) { QVERIFY(::truncate(native(path).constData(), size) == 0); }

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

Service importFile(const Team& team, const QString& source)
{
    return syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt, std::nullopt,
                                              std::nullopt, QStringLiteral("Imported"), DocumentApplication::none(), team,
                                              nullptr, nullptr));
}

QString exportTo(const Service& service, const QString& folder)
{
    return syncWait(service->exportVersion(std::nullopt, folder, defaultS3Factory()));
}

QString checkOut(const Service& service, bool force)
{
    return syncWait(service->checkOut({}, force, false, 600, defaultS3Factory()));
}

Service serviceOf(const Team& team, const Service& service)
{
    team->poll();
    return syncWait(VersioningService::open(service->type(), service->id(), std::nullopt, std::nullopt, team, nullptr,
                                            nullptr, defaultS3Factory()));
}

// A client of the team bundle at `root` that is not the fixture's: one that opens it after the
// damage was done, under the client id of `user`, with its local folders under `local`.
Team openClient(const QString& root, const QString& local, const QString& user)
{
    const auto files = std::make_shared<SystemFileManager>(local + QStringLiteral("/data"), local + QStringLiteral("/cache"),
                                                           local + QStringLiteral("/downloads"));
    const ClientIdentity identity{QStringLiteral("CLIENT-") + user.toUpper(),
                                  UserIdentity{user, user + QStringLiteral(" Editor"), QStringLiteral("host-") + user}};
    Team team = TeamBundle::open(root, files, std::make_shared<RecordingWorkspace>(), identity);
    team->setPollInterval(std::chrono::hours(1));
    return team;
}

QString recordPath(const QString& root, const QString& client, int seq)
{
    return root + QStringLiteral("/journal/") + client + QStringLiteral("/%1.json").arg(seq, 12, 10, QLatin1Char('0'));
}

} // namespace

class HostileShareTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // No file may grow past the largest one the tests make (a manifest one byte too large),
        // and the process may not take more than a few GiB beyond what it has: a read or a copy
        // without bound then fails the test instead of filling the machine.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit fileSize{rlim_t(readLimits::manifest + readLimits::mib), rlim_t(readLimits::manifest + readLimits::mib)};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &fileSize) == 0);
        ::mallopt(M_ARENA_MAX, 2);
        QFile status(QStringLiteral("/proc/self/statm"));
        QVERIFY(status.open(QIODevice::ReadOnly));
        const qint64 pages = status.readAll().split(' ').value(0).toLongLong();
        const rlim_t space = rlim_t(pages * ::sysconf(_SC_PAGESIZE) + 4 * readLimits::gib);
        const rlimit addressSpace{space, space};
        QVERIFY(::setrlimit(RLIMIT_AS, &addressSpace) == 0);
    }

    // ---- Reading one file ---------------------------------------------------------------------

    void readsTakeOnlyRegularFilesUpToTheirLimit()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("record"));
        writeFile(file, QByteArray(100, 'r'));
        QCOMPARE(readWholeFile(file, 100), QByteArray(100, 'r'));
        VERIFY_STORAGE_ERROR(readWholeFile(file, 99), StorageError::Kind::corrupt, tooLarge);
        makeSize(file, readLimits::gib); // a gibibyte of hole: refused before anything is read
        VERIFY_STORAGE_ERROR(readWholeFile(file, readLimits::lockRecord), StorageError::Kind::corrupt, tooLarge);

        // Links are not followed, whatever they lead to; a FIFO or a folder is not read. None of
        // them is "not found", which callers take for "absent".
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        writeFile(elsewhere, "outside");
        const QString path = dir.filePath(QStringLiteral("head"));
        const QString nowhere = dir.filePath(QStringLiteral("nowhere"));
        for (const QString& target : {QStringLiteral("/dev/zero"), elsewhere, nowhere, dir.path()}) {
            replaceWithLink(path, target);
            VERIFY_STORAGE_ERROR(readWholeFile(path, readLimits::journalHead), StorageError::Kind::corrupt, notRegular);
        }
        replaceWithFifo(path);
        VERIFY_STORAGE_ERROR(readWholeFile(path, readLimits::journalHead), StorageError::Kind::corrupt, notRegular);
        VERIFY_STORAGE_ERROR(readWholeFile(dir.path(), readLimits::journalHead), StorageError::Kind::corrupt, notRegular);
        VERIFY_STORAGE_ERROR(readWholeFile(dir.filePath(QStringLiteral("missing")), 10), StorageError::Kind::notFound,
                             QStringLiteral("missing"));
    }

    void storedContentsAreTrustedOnlyAsFilesOfTheirSize()
    {
        QTemporaryDir dir;
        ContentStore store(dir.filePath(QStringLiteral("objects")));
        const QString outside = dir.filePath(QStringLiteral("outside"));
        QDir().mkpath(outside);
        const QString exports = dir.filePath(QStringLiteral("exports"));
        QDir().mkpath(exports);

        // A link to a file holding exactly the right bytes is still not a stored content.
        const QByteArray bytes = "the stored bytes";
        const ContentHash hash = store.storeBytes(bytes);
        const QString object = store.pathFor(hash);
        writeFile(outside + QStringLiteral("/copy"), bytes);
        const QDateTime outsideTime = QFileInfo(outside + QStringLiteral("/copy")).lastModified();
        replaceWithLink(object, outside + QStringLiteral("/copy"));
        QVERIFY(!store.contains(hash));
        QVERIFY(!store.refresh(hash));
        VERIFY_STORAGE_ERROR(store.readBytes(hash), StorageError::Kind::corrupt, notRegular);
        VERIFY_STORAGE_ERROR(store.copyOut(hash, bytes.size(), exports + QStringLiteral("/out"), false),
                             StorageError::Kind::corrupt, notRegular);
        QCOMPARE(entriesOf(exports), QStringList());
        // Storing the bytes again replaces the link; what it led to is neither touched nor changed.
        QCOMPARE(store.storeBytes(bytes), hash);
        QVERIFY(!QFileInfo(object).isSymLink());
        QCOMPARE(QFileInfo(outside + QStringLiteral("/copy")).lastModified(), outsideTime);

        // An object of another size than its manifest says is damaged, however large it is.
        replaceWithLink(object, QStringLiteral("/dev/zero"));
        VERIFY_STORAGE_ERROR(store.copyOut(hash, bytes.size(), exports + QStringLiteral("/out"), false),
                             StorageError::Kind::corrupt, notRegular);
        QCOMPARE(store.storeBytes(bytes), hash);
        for (const qint64 size : {qint64(bytes.size() + 1), qint64(bytes.size() - 1), readLimits::manifest}) {
            makeSize(object, size);
            VERIFY_STORAGE_ERROR(store.copyOut(hash, bytes.size(), exports + QStringLiteral("/out"), false),
                                 StorageError::Kind::corrupt, QStringLiteral("bytes instead of"));
            QCOMPARE(entriesOf(exports), QStringList());
        }
        VERIFY_STORAGE_ERROR(store.readBytes(hash, bytes.size()), StorageError::Kind::corrupt, tooLarge);

        // Links in place of the store's folders are replaced, never written through; the
        // collection of old temporary files removes nothing where a link led.
        const ContentHash other = hashBytes("other bytes");
        QVERIFY(::symlink(native(outside).constData(), native(QFileInfo(store.pathFor(other)).path()).constData()) == 0);
        writeFile(outside + QStringLiteral("/old temporary"), "kept");
        const timespec old[2] = {{::time(nullptr) - 3 * 86400, 0}, {::time(nullptr) - 3 * 86400, 0}};
        QVERIFY(::utimensat(AT_FDCWD, native(outside + QStringLiteral("/old temporary")).constData(), old, 0) == 0);
        QDir(dir.filePath(QStringLiteral("objects/tmp"))).removeRecursively();
        replaceWithLink(dir.filePath(QStringLiteral("objects/tmp")), outside);
        ContentStore fresh(store.folder());
        QCOMPARE(fresh.storeBytes("other bytes"), other);
        QCOMPARE(fresh.readBytes(other), QByteArray("other bytes"));
        fresh.collectGarbage({hash, other}, std::chrono::hours(24));
        QCOMPARE(entriesOf(outside), (QStringList{QStringLiteral("copy"), QStringLiteral("old temporary")}));
    }

    // ---- A team bundle ------------------------------------------------------------------------

    void damagedContentsFailOnlyTheExportsThatNeedThem()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const QString sources = fixture.scratch(QStringLiteral("sources"));
        QStringList names{QStringLiteral("Zero.kdenlive"), QStringLiteral("Grown.kdenlive"), QStringLiteral("Tree.kdenlive"),
                          QStringLiteral("Huge tree.kdenlive"), QStringLiteral("Intact.kdenlive")};
        QList<Service> services;
        for (const QString& name : names) {
            writeFile(sources + u'/' + name, name.toUtf8() + " contents");
            services << importFile(ana, sources + u'/' + name);
        }
        const auto manifestOf = [&](const Service& service) {
            return ana->contents().pathFor(ana->snapshot()->find(service->id())->currentVersion()->manifest);
        };
        replaceWithLink(ana->contents().pathFor(hashBytes("Zero.kdenlive contents")), QStringLiteral("/dev/zero"));
        makeSize(ana->contents().pathFor(hashBytes("Grown.kdenlive contents")), readLimits::gib);
        replaceWithLink(manifestOf(services[2]), QStringLiteral("/dev/zero"));
        makeSize(manifestOf(services[3]), readLimits::manifest + 1);

        const QStringList says{notRegular, QStringLiteral("bytes instead of"), notRegular, tooLarge};
        for (int i = 0; i < 4; ++i) {
            const QString folder = fixture.scratch(QStringLiteral("out %1").arg(i));
            VERIFY_STORAGE_ERROR(exportTo(services[i], folder), StorageError::Kind::corrupt, says[i]);
            QCOMPARE(entriesOf(folder), QStringList());
        }
        VERIFY_STORAGE_ERROR(checkOut(services[2], false), StorageError::Kind::corrupt, notRegular);
        const QString exported = exportTo(services[4], fixture.scratch(QStringLiteral("intact")));
        QCOMPARE(describeTree(fixture.scratch(QStringLiteral("intact"))).value(QFileInfo(exported).fileName()),
                 QByteArray("Intact.kdenlive contents"));
    }

    void journalFilesThatAreNotRecordsAreReported()
    {
        TeamFixture fixture;
        const QString root = fixture.root();
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const auto cleo = fixture.client(QStringLiteral("cleo"));
        const QString sources = fixture.scratch(QStringLiteral("sources"));
        for (const auto& team : {ana, ben}) {
            for (int i = 0; i < 3; ++i) {
                const QString source = sources + QStringLiteral("/%1 %2.kdenlive").arg(team->clientId()).arg(i);
                writeFile(source, source.toUtf8());
                importFile(team, source);
            }
        }
        writeFile(sources + QStringLiteral("/outside.json"), "{}");
        const QString anaLinked = recordPath(root, QStringLiteral("CLIENT-ANA"), 1);
        const QString benHuge = recordPath(root, QStringLiteral("CLIENT-BEN"), 2);
        replaceWithLink(anaLinked, sources + QStringLiteral("/outside.json"));
        replaceWithLink(recordPath(root, QStringLiteral("CLIENT-ANA"), 2), QStringLiteral("/dev/zero"));
        makeSize(benHuge, readLimits::journalRecord + 1);
        replaceWithFifo(root + QStringLiteral("/journal/CLIENT-ANA/head"));
        replaceWithLink(root + QStringLiteral("/journal/CLIENT-BEN/head"), QStringLiteral("/dev/zero"));

        // A client that was open polls; one that opens now reads everything; ana, whose own head
        // is a FIFO, opens again. None blocks, each reports the damaged records, and keeps
        // what it could read.
        watched("A poll", [&] { cleo->poll(); });
        const QString dan = fixture.scratch(QStringLiteral("dan"));
        Team reader;
        watched("Opening the team bundle", [&] { reader = openClient(root, dan, QStringLiteral("dan")); });
        Team anaAgain;
        const QString anaLocal = fixture.scratch(QStringLiteral("ana"));
        watched("Opening as the writer", [&] { anaAgain = openClient(root, anaLocal, QStringLiteral("ana")); });
        for (const auto& team : {cleo, reader}) {
            const QString text = team->problems().join(u'\n');
            // Records that are links are not listed as records at all: reported as missing.
            QVERIFY2(text.contains(root + QStringLiteral("/journal/CLIENT-ANA: records 1 to 2 are missing.")), qPrintable(text));
            QVERIFY2(text.contains(benHuge + QStringLiteral(": ")) && text.contains(tooLarge), qPrintable(text));
            QCOMPARE(team->versionBundles().liveIndex().documents.size(), 3);
        }
        // The writer's head is written anew, as a file.
        QVERIFY(QFileInfo(root + QStringLiteral("/journal/CLIENT-ANA/head")).isFile());
    }

    void lockRecordsThatAreNotFilesStillLockTheBundle()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const QString sources = fixture.scratch(QStringLiteral("sources"));
        for (int kind = 0; kind < 3; ++kind) {
            writeFile(sources + QStringLiteral("/Cut %1.kdenlive").arg(kind), "cut");
            const Service cut = importFile(ana, sources + QStringLiteral("/Cut %1.kdenlive").arg(kind));
            const QString lock = fixture.root() + QStringLiteral("/locks/") + cut->id().toString() + QStringLiteral(".lock");
            if (kind == 0)
                QVERIFY(::symlink("/dev/zero", native(lock).constData()) == 0);
            else if (kind == 1)
                QVERIFY(::mkfifo(native(lock).constData(), 0644) == 0);
            else
                writeFile(lock, QByteArray(readLimits::lockRecord + 1, ' '));

            watched("A poll", [&] { ben->poll(); });
            const Service benCut = serviceOf(ben, cut);
            const auto refused = failureOf([&] { checkOut(benCut, false); });
            const auto* locked = dynamic_cast<const VersioningError*>(refused.get());
            QVERIFY2(locked && locked->which() == VersioningError::Case::itemLocked,
                     refused ? qPrintable(refused->debugDescription()) : "checked out");
            // Taking it over replaces whatever was there with a lock record.
            QString workingCopy;
            watched("A forced check-out", [&] { workingCopy = checkOut(benCut, true); });
            QVERIFY(QFileInfo(workingCopy).exists());
            QVERIFY(!QFileInfo(lock).isSymLink() && QFileInfo(lock).isFile());
            QVERIFY(ben->locks().isMine(cut->id()));
        }
    }

    void markersThatAreNotFilesRefuseTheBundle()
    {
        TeamFixture fixture;
        const QString marker = fixture.root() + QStringLiteral("/team.json");
        QFile original(marker);
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray bytes = original.readAll();
        original.close();
        const QString local = fixture.scratch(QStringLiteral("local"));

        replaceWithLink(marker, QStringLiteral("/dev/zero"));
        VERIFY_STORAGE_ERROR(openClient(fixture.root(), local, QStringLiteral("ana")), StorageError::Kind::corrupt, notRegular);
        replaceWithFifo(marker);
        VERIFY_STORAGE_ERROR(openClient(fixture.root(), local, QStringLiteral("ana")), StorageError::Kind::corrupt, notRegular);
        QFile::remove(marker);
        writeFile(marker, bytes);
        makeSize(marker, readLimits::teamMarker + 1);
        VERIFY_STORAGE_ERROR(openClient(fixture.root(), local, QStringLiteral("ana")), StorageError::Kind::corrupt, tooLarge);

        // A folder of the team bundle that is a link is refused too: what the engine writes
        // there would land wherever it leads.
        writeFile(marker, bytes);
        const QString outside = fixture.scratch(QStringLiteral("outside"));
        QDir(fixture.root() + QStringLiteral("/logs")).removeRecursively();
        replaceWithLink(fixture.root() + QStringLiteral("/logs"), outside);
        VERIFY_STORAGE_ERROR(openClient(fixture.root(), local, QStringLiteral("ana")), StorageError::Kind::corrupt,
                             QStringLiteral("isn’t a folder"));
        QFile::remove(fixture.root() + QStringLiteral("/logs"));
        replaceWithLink(fixture.root() + QStringLiteral("/journal/CLIENT-ANA"), outside);
        VERIFY_STORAGE_ERROR(openClient(fixture.root(), local, QStringLiteral("ana")), StorageError::Kind::corrupt,
                             QStringLiteral("isn’t a folder"));
        QCOMPARE(entriesOf(outside), QStringList());
    }

    void valuesFromTheShareAreLoggedEscapedOnOneLine()
    {
        TeamFixture fixture;
        const QString root = fixture.root();
        // A client folder whose name holds a line break, a command and a terminal escape, with
        // a record that does not read: opening the team bundle logs the problem with the name.
        const QString evil = QStringLiteral("CLIENT-EVIL\necho owned >> .bashrc\n\x1b[31mred") + QChar(0x202e) + u'x';
        writeFile(recordPath(root, evil, 1), "not json");
        const timespec old[2] = {{::time(nullptr) - 600, 0}, {::time(nullptr) - 600, 0}};
        QVERIFY(::utimensat(AT_FDCWD, native(recordPath(root, evil, 1)).constData(), old, 0) == 0);
        // And the log of the client opening it is a link to a file elsewhere.
        const QString victim = fixture.scratch(QStringLiteral("home")) + QStringLiteral("/.bashrc");
        writeFile(victim, "# the victim's own\n");
        replaceWithLink(root + QStringLiteral("/logs/CLIENT-DAN.log"), victim);

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^Could not write to the log .*isn't a regular file")));
        const Team dan = openClient(root, fixture.scratch(QStringLiteral("dan")), QStringLiteral("dan"));
        QVERIFY(!dan->problems().isEmpty());
        QCOMPARE(describeTree(QFileInfo(victim).path()).value(QStringLiteral(".bashrc")), QByteArray("# the victim's own\n"));

        const Team eve = openClient(root, fixture.scratch(QStringLiteral("eve")), QStringLiteral("eve"));
        QFile log(eve->log().logFilePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray bytes = log.readAll();
        const QStringList lines = QString::fromUtf8(bytes).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains(QStringLiteral("CLIENT-EVIL\\necho owned >> .bashrc\\n\\x1b[31mred\\u{202e}x/")),
                 qPrintable(lines[0]));
        QVERIFY(!bytes.contains('\x1b') && !bytes.contains(QStringLiteral("\u202e").toUtf8()));
    }
};

QTEST_GUILESS_MAIN(HostileShareTest)
#include "hostile_share_test.moc"
