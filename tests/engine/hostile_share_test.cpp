// A team bundle written by a hostile teammate or a damaged disk: links, FIFOs, files far larger than
// the engine writes, links in place of folders, names with control characters. Every operation fails
// clearly or reports and skips the file, writes nothing outside the bundle and its destination, and
// neither blocks (an alarm ends the run) nor reads without bound (file size and memory are limited).

#include "desktop/system_services.h"
#include "engine/engine_errors.h"
#include "engine/logger.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/content_store.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"
#include "engine/version_bundles.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace vantrel;
using namespace Qt::StringLiterals;
using namespace vantrel::testing;

namespace {

using Service = std::shared_ptr<VersioningService>;

const QString notRegular = u"isn’t a regular file"_s;
const QString tooLarge = u"is larger than expected"_s;

// Empty when `operation` throws a StorageError of `kind` that says `says`, else what it did.
QString unlessItFails(const std::function<void()>& operation, StorageError::Kind kind, const QString& says)
{
    try {
        operation();
    } catch (const StorageError& error) {
        return error.kind() == kind && error.debugDescription().contains(says) ? QString() : error.debugDescription();
    }
    return u"it succeeded"_s;
}

#define VERIFY_FAILS(operation, kind, says)                                                                            \
    do {                                                                                                               \
        const QString problem_ = unlessItFails([&] { operation; }, StorageError::Kind::kind, says);                    \
        QVERIFY2(problem_.isEmpty(), qPrintable(problem_));                                                            \
    } while (false)

enum class Damage { zeroLink, fifo, oversized };
constexpr Damage everyDamage[] = {Damage::zeroLink, Damage::fifo, Damage::oversized};

// Replaces `path` with a link to /dev/zero, a FIFO or a file one byte over `limit`; returns what
// reading it says.
QString damage(const QString& path, Damage how, qint64 limit)
{
    if (how == Damage::zeroLink)
        plantLink(path, u"/dev/zero"_s);
    if (how == Damage::fifo)
        plantFifo(path);
    if (how != Damage::oversized)
        return notRegular;
    QFile::remove(path);
    writeFile(path, {});
    if (!QFile::resize(path, limit + 1)) // a hole, taking no room on the disk
        qFatal("cannot grow %s", qPrintable(path));
    return tooLarge;
}

// Imports "<name>.kdenlive", holding "<name> contents", as a new document.
Service importNew(const std::shared_ptr<TeamBundle>& team, const QString& folder, const QString& name)
{
    const QString source = folder + u'/' + name + u".kdenlive"_s;
    writeFile(source, name.toUtf8() + " contents");
    return syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt, std::nullopt,
                                              std::nullopt, u"Imported"_s, DocumentApplication::none(), team, nullptr,
                                              nullptr));
}

QString exportTo(const Service& service, const QString& folder)
{
    return syncWait(service->exportVersion(std::nullopt, folder, defaultS3Factory()));
}

QString checkOut(const Service& service, LockTakeover takeover)
{
    return syncWait(service->checkOut({}, {.takeover = takeover, .autoSave = false}, defaultS3Factory()));
}

} // namespace

class HostileShareTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        std::signal(SIGALRM, [](int) {
            (void)!::write(2, "Blocked on a file of the team bundle.\n", 38);
            ::_exit(3);
        });
        // No file past the largest one the tests make, no more than a few GiB of memory.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit fileSize{rlim_t(readLimits::gib + readLimits::mib), rlim_t(readLimits::gib + readLimits::mib)};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &fileSize) == 0);
        ::mallopt(M_ARENA_MAX, 2);
        const qint64 pages = contentOf(u"/proc/self/statm"_s).split(' ').value(0).toLongLong();
        const rlim_t bytes = rlim_t(pages * ::sysconf(_SC_PAGESIZE) + 4 * readLimits::gib);
        const rlimit space{bytes, bytes};
        QVERIFY(pages > 0 && ::setrlimit(RLIMIT_AS, &space) == 0);
    }
    void init() { ::alarm(120); } // a test function still running after two minutes is blocked
    void cleanup() { ::alarm(0); }

    void filesAreReadOnlyWhenRegularAndWithinTheirLimit()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"record"_s), elsewhere = dir.filePath(u"elsewhere"_s);
        writeFile(file, QByteArray(100, 'r'));
        QCOMPARE(readWholeFile(file, 100), QByteArray(100, 'r'));
        VERIFY_FAILS(readWholeFile(file, 99), corrupt, tooLarge);
        // No link is followed, no FIFO or folder read, nothing past the limit; none of them is "not
        // found", which callers take for "absent".
        for (const Damage how : everyDamage)
            VERIFY_FAILS(readWholeFile(file, readLimits::lockRecord), corrupt,
                         damage(file, how, readLimits::lockRecord));
        writeFile(elsewhere, "outside");
        for (const QString& target : {elsewhere, dir.filePath(u"nowhere"_s), dir.path()}) {
            plantLink(file, target);
            VERIFY_FAILS(readWholeFile(file, readLimits::journalHead), corrupt, notRegular);
        }
        VERIFY_FAILS(readWholeFile(dir.path(), readLimits::journalHead), corrupt, notRegular);
        VERIFY_FAILS(readWholeFile(dir.filePath(u"missing"_s), 10), notFound, u"missing"_s);

        // The store trusts only regular files of the size their manifest gives.
        ContentStore store(dir.filePath(u"objects"_s));
        const QString outside = dir.filePath(u"outside"_s), copy = outside + u"/copy"_s,
                      out = dir.filePath(u"out/out"_s);
        QDir().mkpath(QFileInfo(out).path());
        const QByteArray bytes = "the stored bytes";
        const ContentHash hash = store.storeBytes(bytes);
        const QString object = store.pathFor(hash);

        // A link to a file of the very bytes is no stored content; storing them again replaces it,
        // leaving where it led alone.
        writeFile(copy, bytes);
        const QDateTime copyTime = QFileInfo(copy).lastModified();
        plantLink(object, copy);
        QVERIFY(!store.contains(hash) && !store.refresh(hash));
        VERIFY_FAILS(store.readBytes(hash), corrupt, notRegular);
        VERIFY_FAILS(store.copyOut(hash, bytes.size(), out, false), corrupt, notRegular);
        QCOMPARE(store.storeBytes(bytes), hash);
        QVERIFY(!QFileInfo(object).isSymLink());
        QCOMPARE(QFileInfo(copy).lastModified(), copyTime);
        // Nor is /dev/zero, nor a file of another size than its manifest gives, however large.
        plantLink(object, u"/dev/zero"_s);
        VERIFY_FAILS(store.copyOut(hash, bytes.size(), out, false), corrupt, notRegular);
        QCOMPARE(store.storeBytes(bytes), hash);
        for (const qint64 size : {qint64(bytes.size() + 1), qint64(bytes.size() - 1), readLimits::folderTree}) {
            QVERIFY(QFile::resize(object, size));
            VERIFY_FAILS(store.copyOut(hash, bytes.size(), out, false), corrupt, u"bytes instead of"_s);
        }
        VERIFY_FAILS(store.readBytes(hash, bytes.size()), corrupt, tooLarge);
        QVERIFY(describeTree(QFileInfo(out).path()).isEmpty());

        // Links in place of the store's folders are replaced, never written through; collecting
        // old temporary files removes nothing where a link led.
        const ContentHash other = hashBytes("other bytes");
        plantLink(QFileInfo(store.pathFor(other)).path(), outside);
        writeFile(outside + u"/old temporary"_s, "kept");
        setAge(outside + u"/old temporary"_s, 3 * 86400);
        QDir(dir.filePath(u"objects/tmp"_s)).removeRecursively();
        plantLink(dir.filePath(u"objects/tmp"_s), outside);
        ContentStore fresh(store.folder());
        QCOMPARE(fresh.storeBytes("other bytes"), other);
        QCOMPARE(fresh.readBytes(other), QByteArray("other bytes"));
        fresh.collectGarbage({hash, other}, std::chrono::hours(24));
        QCOMPARE(describeTree(outside).keys(), (QStringList{u"copy"_s, u"old temporary"_s}));
    }

    void damagedContentsFailOnlyTheExportsThatNeedThem()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(u"ana"_s);
        QList<Service> services;
        for (const char* name : {"Zero", "Grown", "Tree", "Huge tree", "Intact"})
            services << importNew(ana, fixture.scratch(u"sources"_s), QString::fromLatin1(name));
        const auto manifestOf = [&](int i) {
            return ana->contents().pathFor(ana->snapshot()->find(services[i]->id())->currentVersion()->manifest);
        };
        plantLink(ana->contents().pathFor(hashBytes("Zero contents")), u"/dev/zero"_s);
        QVERIFY(QFile::resize(ana->contents().pathFor(hashBytes("Grown contents")), readLimits::gib));
        plantLink(manifestOf(2), u"/dev/zero"_s);
        QVERIFY(QFile::resize(manifestOf(3), readLimits::folderTree + 1));

        const QString says[] = {notRegular, u"bytes instead of"_s, notRegular, tooLarge};
        for (int i = 0; i < 4; ++i) {
            const QString folder = fixture.scratch(u"out %1"_s.arg(i));
            VERIFY_FAILS(exportTo(services[i], folder), corrupt, says[i]);
            QVERIFY(describeTree(folder).isEmpty());
        }
        VERIFY_FAILS(checkOut(services[2], LockTakeover::none), corrupt, notRegular);
        const QString exported = exportTo(services[4], fixture.scratch(u"intact"_s));
        QCOMPARE(contentOf(exported), QByteArray("Intact contents"));
    }

    void journalFilesThatAreNotRecordsAreReported()
    {
        TeamFixture fixture;
        const QString journal = fixture.root() + u"/journal"_s, sources = fixture.scratch(u"sources"_s);
        const auto cleo = fixture.client(u"cleo"_s);
        for (const QString& user : {u"ana"_s, u"ben"_s}) {
            for (int i = 0; i < 3; ++i)
                importNew(fixture.client(user), sources, u"%1 %2"_s.arg(user).arg(i));
        }
        writeFile(sources + u"/outside.json"_s, "{}");
        plantLink(recordPath(journal, u"CLIENT-ANA"_s, 1), sources + u"/outside.json"_s);
        plantLink(recordPath(journal, u"CLIENT-ANA"_s, 2), u"/dev/zero"_s);
        const QString benHuge = recordPath(journal, u"CLIENT-BEN"_s, 2);
        QVERIFY(QFile::resize(benHuge, readLimits::journalRecord + 1));
        plantFifo(journal + u"/CLIENT-ANA/head"_s);
        plantLink(journal + u"/CLIENT-BEN/head"_s, u"/dev/zero"_s);

        // A running client polls, a new one opens, and so does ana, whose own head is a FIFO: each
        // reports the damage (records that are links are not listed, and opened by name they are
        // not regular files) and keeps the rest.
        cleo->poll();
        const auto dan = fixture.client(u"dan"_s);
        const auto anaAgain = TeamBundle::open(fixture.root(), localFileManager(fixture.scratch(u"ana"_s)),
                                               std::make_shared<RecordingWorkspace>(),
                                               ClientIdentity{u"CLIENT-ANA"_s, UserIdentity::current()});
        for (const auto& team : {cleo, dan}) {
            const QString text = team->problems().join(u'\n');
            QVERIFY2(text.contains(recordPath(journal, u"CLIENT-ANA"_s, 1) + u": "_s)
                         && text.contains(recordPath(journal, u"CLIENT-ANA"_s, 2) + u": "_s)
                         && text.contains(notRegular)
                         && text.contains(benHuge + u": "_s) && text.contains(tooLarge),
                     qPrintable(text));
            QCOMPARE(team->versionBundles().liveIndex().documents.size(), 3);
        }
        QVERIFY(QFileInfo(journal + u"/CLIENT-ANA/head"_s).isFile()); // the writer's head, written anew
    }

    void lockRecordsThatAreNotFilesStillLockTheBundle()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(u"ana"_s), ben = fixture.client(u"ben"_s);
        for (const Damage how : everyDamage) {
            const Service cut = importNew(ana, fixture.scratch(u"sources"_s), u"Cut %1"_s.arg(int(how)));
            const QString lock = fixture.root() + u"/locks/"_s + cut->id().toString() + u".lock"_s;
            damage(lock, how, readLimits::lockRecord);
            ben->poll();
            const Service benCut = openService(ben, cut->type(), cut->id());
            try {
                checkOut(benCut, LockTakeover::none);
                QFAIL("checked out a locked bundle");
            } catch (const VersioningError& error) {
                QCOMPARE(error.kind(), VersioningError::Case::itemLocked);
            }
            // Taking it over writes a lock record in its place.
            QVERIFY(QFileInfo::exists(checkOut(benCut, LockTakeover::forceUnlock)));
            QVERIFY(!QFileInfo(lock).isSymLink() && QFileInfo(lock).isFile() && ben->locks().isMine(cut->id()));
        }
    }

    void bundlesWhoseMarkerOrFoldersAreNotWhatTheySeemAreRefused()
    {
        TeamFixture fixture;
        const QString root = fixture.root(), marker = root + u"/team.json"_s, outside = fixture.scratch(u"outside"_s);
        const QByteArray bytes = contentOf(marker);
        for (const Damage how : everyDamage)
            VERIFY_FAILS(fixture.client(u"ana"_s), corrupt, damage(marker, how, readLimits::teamMarker));
        writeFile(marker, bytes);
        // A folder that is a link: what the engine writes there would land wherever it leads.
        QDir(root + u"/logs"_s).removeRecursively();
        for (const QString& folder : {u"/logs"_s, u"/journal/CLIENT-ANA"_s}) {
            plantLink(root + folder, outside);
            VERIFY_FAILS(fixture.client(u"ana"_s), corrupt, u"isn’t a folder"_s);
            QFile::remove(root + folder);
        }
        QVERIFY(describeTree(outside).isEmpty());
    }

    void valuesFromTheShareAreLoggedEscapedOnOneLine()
    {
        TeamFixture fixture;
        // A client folder whose name holds line breaks, a command and terminal escapes, with a
        // record that does not read; the log of the client opening it is a link to elsewhere.
        const QString evil = u"CLIENT-EVIL\necho owned >> .bashrc\n\x1b[31mred\u202ex"_s;
        const QString record = recordPath(fixture.root() + u"/journal"_s, evil, 1);
        writeFile(record, "not json");
        setAge(record, 600);
        const QString victim = fixture.scratch(u"home"_s) + u"/.bashrc"_s;
        writeFile(victim, "# the victim's own\n");
        plantLink(fixture.root() + u"/logs/CLIENT-DAN.log"_s, victim);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Could not write to the log .*isn't a regular file"_s));
        QVERIFY(!fixture.client(u"dan"_s)->problems().isEmpty());
        QCOMPARE(contentOf(victim), QByteArray("# the victim's own\n"));

        const QByteArray log = contentOf(fixture.client(u"eve"_s)->log().logFilePath());
        const QStringList lines = QString::fromUtf8(log).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains(uR"(CLIENT-EVIL\necho owned >> .bashrc\n\x1b[31mred\u{202e}x/)"_s),
                 qPrintable(lines[0]));
        QVERIFY(!log.contains('\x1b') && !log.contains("\u202e"));
    }
};

QTEST_GUILESS_MAIN(HostileShareTest)
#include "hostile_share_test.moc"
