#include "engine/storage/atomic_file.h"
#include "engine/storage/content_store.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/manifest.h"
#include "engine/storage/shared_folders.h"
#include "engine/storage/statcache.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"
#include "foundation/json_coding.h"

#include "engine/support/engine_test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vantrel;
using testing::describeTree;
using testing::entriesIn;
using testing::failureKind;
using testing::objectsIn;
using testing::writeFile;

namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

bool exists(const QString& path)
{
    struct stat status {};
    return ::lstat(native(path).constData(), &status) == 0;
}

void makeExecutable(const QString& path)
{
    QCOMPARE(::chmod(native(path).constData(), 0755), 0);
}

void makeLink(const QString& target, const QString& path)
{
    QCOMPARE(::symlink(native(target).constData(), native(path).constData()), 0);
}

// Sets the modification time `secondsAgo` seconds in the past (the change time stays now).
void age(const QString& path, int secondsAgo)
{
    const timespec times[2] = {{::time(nullptr) - secondsAgo, 0}, {::time(nullptr) - secondsAgo, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, native(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// Flips one byte in the middle of a stored content.
void damage(const QString& objectPath)
{
    QFile file(objectPath);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 middle = file.size() / 2;
    QVERIFY(file.seek(middle));
    char byte = 0;
    QVERIFY(file.getChar(&byte));
    QVERIFY(file.seek(middle));
    QVERIFY(file.putChar(char(byte ^ 0x20)));
}

} // namespace

class StorageTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_storeFolder;
    std::unique_ptr<ContentStore> m_store;

    QString path(const QString& relative) const { return m_dir->filePath(relative); }

    // Stores `source` and reads back the tree that was stored.
    Manifest snapshot(const QString& source, const SnapshotOptions& options = {})
    {
        return readTree(*m_store, snapshotTree(source, *m_store, options));
    }

    // A package with nested, empty and executable items and links inside and outside it.
    QString makePackage(const QString& name)
    {
        const QString root = path(name);
        writeFile(root + QStringLiteral("/Info.plist"), "<plist/>");
        writeFile(root + QStringLiteral("/Media/Clips/clip one.mov"), QByteArray(300'000, 'v'));
        writeFile(root + QStringLiteral("/Media/empty.bin"), QByteArray());
        writeFile(root + QStringLiteral("/Tools/render"), "#!/bin/sh\necho render\n");
        makeExecutable(root + QStringLiteral("/Tools/render"));
        QDir().mkpath(root + QStringLiteral("/Cache/Empty/Deeper"));
        makeLink(QStringLiteral("Media/Clips/clip one.mov"), root + QStringLiteral("/Latest clip"));
        writeFile(path(QStringLiteral("outside-secret.txt")), "kept out of the store");
        makeLink(path(QStringLiteral("outside-secret.txt")), root + QStringLiteral("/Media/Outside"));
        makeLink(QStringLiteral("../nowhere"), root + QStringLiteral("/Dangling"));
        return root;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_storeFolder = path(QStringLiteral("team/objects"));
        m_store = std::make_unique<ContentStore>(m_storeFolder);
    }

    void cleanup()
    {
        m_store.reset();
        m_dir.reset();
    }

    void hashesAreSha256AndParseStrictly()
    {
        const auto abc = ContentHash::fromHex(u"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
        QVERIFY(abc);
        QCOMPARE(hashBytes("abc"), *abc);
        QCOMPARE(abc->toHex(), QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
        Sha256 incremental;
        incremental.update("a", 1);
        incremental.update("bc", 2);
        QCOMPARE(incremental.finish(), *abc);
        QCOMPARE(ContentHash::fromJson(abc->toJson()), *abc);
        QVERIFY(!ContentHash::fromHex(abc->toHex().left(63)));
        QVERIFY(!ContentHash::fromHex(abc->toHex().replace(10, 1, u'g')));
        QVERIFY_THROWS_EXCEPTION(DecodingError, ContentHash::fromJson(QJsonValue(3)));
    }

    void errnoValuesMapToKindsNamingTheFile()
    {
        const QString file = QStringLiteral("/share/Team.vantrelteam/journal/x/head");
        const std::pair<int, StorageError::Kind> cases[] = {
            {ENOENT, StorageError::Kind::notFound},
            {EEXIST, StorageError::Kind::alreadyExists},
            {EACCES, StorageError::Kind::permissionDenied},
            {EPERM, StorageError::Kind::permissionDenied},
            {EROFS, StorageError::Kind::readOnly},
            {ENOSPC, StorageError::Kind::diskFull},
            {EDQUOT, StorageError::Kind::diskFull},
            {EIO, StorageError::Kind::io},
            {ESTALE, StorageError::Kind::io},
        };
        for (const auto& [error, kind] : cases) {
            const StorageError failure = StorageError::fromErrno(error, file, QStringLiteral("write"));
            QCOMPARE(failure.kind(), kind);
            QCOMPARE(failure.path(), file);
            QCOMPARE(failure.systemError(), error);
            QVERIFY(failure.localizedDescription().contains(file));
            // The title is plain words; what the system said goes to the log.
            QVERIFY(failure.failureReason() && !failure.failureReason()->contains(QStringLiteral("error"))
                    && !failure.failureReason()->contains(file));
            QVERIFY(failure.debugDescription().contains(QStringLiteral("(error %1 in write)").arg(error)));
        }
        for (const StorageError& damaged : {StorageError::corrupt(file, QStringLiteral("SHA-256 differs")),
                                            StorageError::notRegularFile(file), StorageError::tooLarge(file, 9, 5)})
            QVERIFY(!damaged.failureReason()->contains(file) && damaged.debugDescription().contains(file));
        // A file of an open team bundle is named from the bundle on.
        {
            const SharedFolder open(QStringLiteral("/share/Team.vantrelteam"), FolderSharing::umask);
            const QString shown = StorageError::fromErrno(EIO, file, QStringLiteral("write")).localizedDescription();
            QVERIFY2(shown.contains(QStringLiteral("“Team.vantrelteam/journal/x/head”")), qPrintable(shown));
        }
        QCOMPARE(StorageError::fromErrno(ENOSPC, file, QStringLiteral("write")).localizedDescription(),
                 QStringLiteral("There is not enough space to write “%1”.").arg(file));
        // A name that looks like a placeholder stays as it is.
        const QString odd = QStringLiteral("/share/%1 %2.mov");
        QVERIFY(StorageError::fromErrno(EIO, odd, QStringLiteral("read")).debugDescription().contains(odd));
    }

    // NFS and GlusterFS answer ESTALE for a file another client moved aside while it was read:
    // the name is opened again, and a file that stays stale has moved away.
    void staleFilesAreReadAgainByName()
    {
        const QString file = QStringLiteral("/share/Team.vantrelteam/locks/x.lock");
        int calls = 0;
        const auto failing = [&](int error, int times) {
            return [&calls, &file, error, times]() -> QByteArray {
                if (++calls <= times)
                    throw StorageError::fromErrno(error, file, QStringLiteral("read"));
                return "record";
            };
        };
        QCOMPARE(posix::readByName(file, failing(ESTALE, 2)), QByteArray("record"));
        QCOMPARE(calls, 3);
        calls = 0;
        try {
            posix::readByName(file, failing(ESTALE, 100));
            QFAIL("a file that stays stale was read");
        } catch (const StorageError& error) {
            QCOMPARE(error.kind(), StorageError::Kind::notFound);
            QCOMPARE(error.systemError(), ESTALE);
            QCOMPARE(error.path(), file);
        }
        QCOMPARE(calls, 3);
        calls = 0;
        QVERIFY_THROWS_EXCEPTION(StorageError, posix::readByName(file, failing(EIO, 1)));
        QCOMPARE(calls, 1);
    }

    void atomicWritesAndExclusivePublishing()
    {
        const QString folder = path(QStringLiteral("journal/client"));
        ensureDirectory(folder);
        ensureDirectory(folder); // Already there: fine.
        writeFile(path(QStringLiteral("journal/file")), "x");
        QCOMPARE(failureKind([&] { ensureDirectory(path(QStringLiteral("journal/file/sub"))); }),
                 StorageError::Kind::notFound);
        QCOMPARE(failureKind([&] { ensureDirectory(path(QStringLiteral("journal/file"))); }),
                 StorageError::Kind::alreadyExists);

        const QString head = folder + QStringLiteral("/head");
        writeFileAtomically(head, "1");
        writeFileAtomically(head, "22");
        QCOMPARE(readWholeFile(head, 64), QByteArray("22"));
        QCOMPARE(failureKind([&] { writeFileAtomically(folder + QStringLiteral("/missing/head"), "1"); }),
                 StorageError::Kind::notFound);
        QCOMPARE(failureKind([&] { readWholeFile(folder + QStringLiteral("/nothing"), 64); }),
                 StorageError::Kind::notFound);

        const QString record = folder + QStringLiteral("/7.json");
        QVERIFY(publishFileExclusively(record, "first"));
        QVERIFY(!publishFileExclusively(record, "second"));
        QCOMPARE(readWholeFile(record, 64), QByteArray("first"));
        QCOMPARE(entriesIn(folder), QStringList({QStringLiteral("7.json"), QStringLiteral("head")}));
    }

    void singleFileRoundTrip()
    {
        const QString source = path(QStringLiteral("Cut.fcpxml"));
        writeFile(source, "<fcpxml version=\"1.11\"/>");
        makeExecutable(source);

        const Manifest manifest = snapshot(source);
        QCOMPARE(manifest.rootKind, Manifest::RootKind::file);
        QCOMPARE(manifest.entries.size(), 1);
        QCOMPARE(manifest.entries.first().path, QString());
        QVERIFY(manifest.entries.first().executable);

        const QString plain = path(QStringLiteral("export/Cut.fcpxml"));
        const QString atomic = path(QStringLiteral("export/Cut copy.fcpxml"));
        QDir().mkpath(path(QStringLiteral("export")));
        writeTree(manifest, *m_store, plain);
        writeTreeAtomically(manifest, *m_store, atomic);
        for (const QString& copy : {plain, atomic}) {
            QCOMPARE(readWholeFile(copy, 1 << 20), readWholeFile(source, 1 << 20));
            QVERIFY(QFileInfo(copy).isExecutable());
        }
        QCOMPARE(entriesIn(path(QStringLiteral("export"))).size(), 2);

        // An existing destination is never replaced.
        QCOMPARE(failureKind([&] { writeTreeAtomically(manifest, *m_store, plain); }),
                 StorageError::Kind::alreadyExists);
        QCOMPARE(failureKind([&] { writeTree(manifest, *m_store, path(QStringLiteral("missing/Cut.fcpxml"))); }),
                 StorageError::Kind::notFound);
        QCOMPARE(entriesIn(path(QStringLiteral("export"))).size(), 2);
    }

    void packageRoundTripKeepsFoldersBitsAndLinks()
    {
        const QString source = makePackage(QStringLiteral("Trailer.videolibrary"));
        qint64 lastDone = -1;
        qint64 lastTotal = -1;
        SnapshotOptions options;
        options.progress = [&](qint64 done, qint64 total) {
            QVERIFY(done >= lastDone);
            lastDone = done;
            lastTotal = total;
        };
        const Manifest manifest = snapshot(source, options);
        QCOMPARE(lastDone, manifest.totalSize());
        QCOMPARE(lastTotal, manifest.totalSize());

        QStringList paths;
        for (const ManifestEntry& entry : manifest.entries)
            paths << entry.path;
        QCOMPARE(
            paths,
            QStringList({QStringLiteral("Cache"), QStringLiteral("Cache/Empty"), QStringLiteral("Cache/Empty/Deeper"),
                         QStringLiteral("Dangling"), QStringLiteral("Info.plist"), QStringLiteral("Latest clip"),
                         QStringLiteral("Media"), QStringLiteral("Media/Clips"),
                         QStringLiteral("Media/Clips/clip one.mov"), QStringLiteral("Media/Outside"),
                         QStringLiteral("Media/empty.bin"), QStringLiteral("Tools"), QStringLiteral("Tools/render")}));
        // The link out of the package is kept as a link: what it points to is never read.
        QVERIFY(!m_store->contains(hashBytes("kept out of the store")));
        QCOMPARE(manifest.entries.at(9).target, path(QStringLiteral("outside-secret.txt")));

        const QString exports = path(QStringLiteral("export"));
        QDir().mkpath(exports);
        writeTree(manifest, *m_store, exports + QStringLiteral("/Plain.videolibrary"));
        writeTreeAtomically(manifest, *m_store, exports + QStringLiteral("/Atomic.videolibrary"));
        const auto original = describeTree(source);
        QCOMPARE(original.value(QStringLiteral("Tools/render")), QByteArray("#!/bin/sh\necho render\n+x"));
        QCOMPARE(describeTree(exports + QStringLiteral("/Plain.videolibrary")), original);
        QCOMPARE(describeTree(exports + QStringLiteral("/Atomic.videolibrary")), original);
        QCOMPARE(entriesIn(exports),
                 QStringList({QStringLiteral("Atomic.videolibrary"), QStringLiteral("Plain.videolibrary")}));
        QVERIFY(QFileInfo(exports + QStringLiteral("/Plain.videolibrary/Media/Outside")).isSymLink());
    }

    void snapshotRefusesWhatAVersionCannotHold()
    {
        const QString package = path(QStringLiteral("Odd.videolibrary"));
        writeFile(package + QStringLiteral("/ok.txt"), "ok");
        QCOMPARE(::mkfifo(native(package + QStringLiteral("/pipe")).constData(), 0644), 0);
        QCOMPARE(failureKind([&] { snapshot(package); }), StorageError::Kind::io);
        // Opening the pipe itself neither blocks nor stores anything.
        QCOMPARE(failureKind([&] { m_store->storeFile(package + QStringLiteral("/pipe")); }), StorageError::Kind::io);
        QCOMPARE(::unlink(native(package + QStringLiteral("/pipe")).constData()), 0);

        writeFile(package + QStringLiteral("/line\nbreak"), "x");
        QCOMPARE(failureKind([&] { snapshot(package); }), StorageError::Kind::io);
        QVERIFY(QFile::remove(package + QStringLiteral("/line\nbreak")));

        makeLink(package, path(QStringLiteral("Alias.videolibrary")));
        QCOMPARE(failureKind([&] { snapshotTree(path(QStringLiteral("Alias.videolibrary")), *m_store); }),
                 StorageError::Kind::io);
        makeLink(QStringLiteral("Odd.videolibrary/ok.txt"), path(QStringLiteral("ok alias.txt")));
        QCOMPARE(failureKind([&] { m_store->storeFile(path(QStringLiteral("ok alias.txt"))); }),
                 StorageError::Kind::io);

        SnapshotOptions options;
        options.excludeDirectory = [](const QString& relative) { return relative == u"Event 1.videoevent"; };
        writeFile(package + QStringLiteral("/Event 1.videoevent/line\nbreak"), "excluded, so never looked at");
        QCOMPARE(snapshot(package, options).entries.size(), 1);
        QVERIFY(objectsIn(m_storeFolder).contains(hashBytes("ok").toHex()));
        QVERIFY(entriesIn(m_storeFolder + QStringLiteral("/tmp")).isEmpty());
    }

    void identicalContentsAreStoredOnceEvenConcurrently()
    {
        const QString package = path(QStringLiteral("Twins"));
        writeFile(package + QStringLiteral("/a.mov"), QByteArray(2'000'000, 'a'));
        writeFile(package + QStringLiteral("/copy/a.mov"), QByteArray(2'000'000, 'a'));
        writeFile(package + QStringLiteral("/b.txt"), "b");
        const Manifest first = snapshot(package);
        const Manifest second = snapshot(package);
        QCOMPARE(second, first);
        QCOMPARE(objectsIn(m_storeFolder).size(), 4); // two contents, two folder trees

        // Many writers of the same new content at once: one object, and every writer succeeds.
        const QByteArray shared(3'000'000, 's');
        writeFile(path(QStringLiteral("shared.bin")), shared);
        std::vector<std::thread> writers;
        std::atomic<int> failures = 0;
        for (int i = 0; i < 8; ++i) {
            writers.emplace_back([&, i] {
                try {
                    const ContentHash hash = i % 2 ? m_store->storeBytes(shared)
                                                   : m_store->storeFile(path(QStringLiteral("shared.bin"))).hash;
                    if (hash != hashBytes(shared))
                        ++failures;
                } catch (...) {
                    ++failures;
                }
            });
        }
        for (auto& writer : writers)
            writer.join();
        QCOMPARE(failures.load(), 0);
        QCOMPARE(objectsIn(m_storeFolder).size(), 5);
        QCOMPARE(m_store->readBytes(hashBytes(shared)), shared);
        QVERIFY(entriesIn(m_storeFolder + QStringLiteral("/tmp")).isEmpty());
    }

    void damagedContentIsReportedAndLeavesNothingBehind()
    {
        const QString package = path(QStringLiteral("Damaged"));
        writeFile(package + QStringLiteral("/good.txt"), "good");
        writeFile(package + QStringLiteral("/sub/bad.mov"), QByteArray(3'000'000, 'm'));
        const Manifest manifest = snapshot(package);
        const ContentHash bad = hashBytes(QByteArray(3'000'000, 'm'));
        damage(m_store->pathFor(bad));

        QCOMPARE(failureKind([&] { m_store->readBytes(bad); }), StorageError::Kind::corrupt);
        const QString exports = path(QStringLiteral("export"));
        QDir().mkpath(exports);
        QCOMPARE(failureKind([&] { m_store->copyOut(bad, 3'000'000, exports + QStringLiteral("/bad.mov"), false); }),
                 StorageError::Kind::corrupt);
        QCOMPARE(failureKind([&] { writeTree(manifest, *m_store, exports + QStringLiteral("/Plain")); }),
                 StorageError::Kind::corrupt);
        QCOMPARE(failureKind([&] { writeTreeAtomically(manifest, *m_store, exports + QStringLiteral("/Atomic")); }),
                 StorageError::Kind::corrupt);
        QVERIFY(entriesIn(exports).isEmpty());

        try {
            m_store->copyOut(bad, 3'000'000, exports + QStringLiteral("/bad.mov"), false);
        } catch (const StorageError& error) {
            QCOMPARE(
                error.localizedDescription(),
                QStringLiteral("The stored contents of “%1” are damaged.").arg(exports + QStringLiteral("/bad.mov")));
        }

        // A missing content fails the same way, as not found.
        QVERIFY(QFile::remove(m_store->pathFor(bad)));
        QCOMPARE(failureKind([&] { writeTree(manifest, *m_store, exports + QStringLiteral("/Plain")); }),
                 StorageError::Kind::notFound);
        QVERIFY(entriesIn(exports).isEmpty());
    }

    void fileVanishingBeforeItIsReadFailsCleanly()
    {
        const QString package = path(QStringLiteral("Vanishing"));
        for (int i = 0; i < 20; ++i)
            writeFile(package + QStringLiteral("/clip %1.mov").arg(i), QByteArray(100'000, char('a' + i)));
        SnapshotOptions options;
        // Called once the folder is listed, before any file is read.
        options.progress = [&](qint64 done, qint64) {
            if (done == 0)
                QFile::remove(package + QStringLiteral("/clip 7.mov"));
        };
        try {
            snapshot(package, options);
            QFAIL("The snapshot should have failed.");
        } catch (const StorageError& error) {
            QCOMPARE(error.kind(), StorageError::Kind::notFound);
            QCOMPARE(error.path(), package + QStringLiteral("/clip 7.mov"));
        }
        QVERIFY(entriesIn(m_storeFolder + QStringLiteral("/tmp")).isEmpty());
        QVERIFY(!m_store->contains(hashBytes(QByteArray(100'000, char('a' + 7)))));
    }

    void readOnlyDestinationFolder()
    {
        if (::geteuid() == 0)
            QSKIP("Permission bits don't stop root; the EROFS and EACCES mappings are checked above.");
        const QString folder = path(QStringLiteral("locked"));
        QDir().mkpath(folder);
        QCOMPARE(::chmod(native(folder).constData(), 0555), 0);
        const ContentHash hash = m_store->storeBytes("contents");
        QCOMPARE(failureKind([&] { m_store->copyOut(hash, 8, folder + QStringLiteral("/x"), false); }),
                 StorageError::Kind::permissionDenied);
        QCOMPARE(failureKind([&] { writeFileAtomically(folder + QStringLiteral("/x"), "x"); }),
                 StorageError::Kind::permissionDenied);
        QCOMPARE(::chmod(native(folder).constData(), 0755), 0);
    }

    void statCacheSkipsOnlyFilesThatCannotHaveChanged()
    {
        const QString package = path(QStringLiteral("Cached"));
        const QString clip = package + QStringLiteral("/clip.mov");
        const QString notes = package + QStringLiteral("/notes.txt");
        writeFile(clip, "clip version 1");
        writeFile(notes, "notes");
        age(clip, 60);
        age(notes, 60);

        const QString cacheFile = path(QStringLiteral("local/cache/bundle.statcache"));
        StatCache cache(cacheFile);
        cache.load(); // Missing: empty.
        SnapshotOptions options;
        options.cache = &cache;
        const Manifest first = snapshot(package, options);
        QCOMPARE(cache.size(), 2);

        // The snapshot saved it. Plant a wrong hash for an unchanged file: it is taken without
        // reading the file, which shows that the file isn't read.
        StatCache reloaded(cacheFile);
        reloaded.load();
        QCOMPARE(reloaded.size(), 2);
        const QString clipKey = QDir::cleanPath(clip);
        auto planted = *reloaded.lookup(clipKey);
        QCOMPARE(planted.hash, hashBytes("clip version 1"));
        planted.hash = m_store->storeBytes("planted");
        reloaded.record(clipKey, planted);
        options.cache = &reloaded;
        QCOMPARE(snapshot(package, options).entries.at(0).hash, hashBytes("planted"));

        // Not when the record was made within the settle time of the last modification...
        planted.recordedNs = planted.modifiedNs + StatCache::settleTimeNs - 1;
        reloaded.record(clipKey, planted);
        QCOMPARE(snapshot(package, options).entries.at(0).hash, hashBytes("clip version 1"));

        // ... nor when the content is gone from the store ...
        planted.recordedNs = planted.modifiedNs + StatCache::settleTimeNs;
        reloaded.record(clipKey, planted);
        QVERIFY(QFile::remove(m_store->pathFor(planted.hash)));
        QCOMPARE(snapshot(package, options).entries.at(0).hash, hashBytes("clip version 1"));

        // ... nor when the file was rewritten with the same size and modification time: its
        // change time moved.
        struct stat before {};
        QCOMPARE(::stat(native(clip).constData(), &before), 0);
        writeFile(clip, "clip version 2");
        const timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, native(clip).constData(), times, 0), 0);
        struct stat after {};
        QCOMPARE(::stat(native(clip).constData(), &after), 0);
        QCOMPARE(after.st_size, before.st_size);
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QCOMPARE(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        const Manifest third = snapshot(package, options);
        QCOMPARE(third.entries.at(0).hash, hashBytes("clip version 2"));
        QCOMPARE(third.entries.at(1), first.entries.at(1));

        // A damaged cache file is an empty cache.
        writeFile(cacheFile, "not a cache");
        StatCache damaged(cacheFile);
        damaged.load();
        QCOMPARE(damaged.size(), 0);
    }

    void garbageCollectionKeepsReferencedAndRecentContents()
    {
        const ContentHash referencedOld = m_store->storeBytes("referenced, old");
        const ContentHash unreferencedOld = m_store->storeBytes("unreferenced, old");
        const ContentHash unreferencedRecent = m_store->storeBytes("unreferenced, recent");
        const ContentHash storedAgain = m_store->storeBytes("stored again");
        const ContentHash refreshed = m_store->storeBytes("refreshed");
        for (const ContentHash& hash : {referencedOld, unreferencedOld, storedAgain, refreshed})
            age(m_store->pathFor(hash), 3 * 86400);
        const QString tmp = m_storeFolder + QStringLiteral("/tmp");
        writeFile(tmp + QStringLiteral("/abandoned"), "crashed writer");
        age(tmp + QStringLiteral("/abandoned"), 3 * 86400);
        writeFile(tmp + QStringLiteral("/in-progress"), "busy writer");
        writeFile(m_storeFolder + QStringLiteral("/ab/not-a-content"), "left alone");
        age(m_storeFolder + QStringLiteral("/ab/not-a-content"), 3 * 86400);
        // Temporaries written beside their place go as those of the temporary folder do.
        writeFile(m_storeFolder + QStringLiteral("/ab/.tmp-abandoned"), "crashed writer");
        age(m_storeFolder + QStringLiteral("/ab/.tmp-abandoned"), 3 * 86400);
        writeFile(m_storeFolder + QStringLiteral("/ab/.tmp-in-progress"), "busy writer");

        // Storing a content that is already there, or refreshing it, makes it recent again.
        QCOMPARE(m_store->storeBytes("stored again"), storedAgain);
        QVERIFY(m_store->refresh(refreshed));
        QVERIFY(!m_store->refresh(hashBytes("never stored")));

        QCOMPARE(m_store->collectGarbage({referencedOld}, std::chrono::hours(24)), 1);
        QVERIFY(!m_store->contains(unreferencedOld));
        for (const ContentHash& hash : {referencedOld, unreferencedRecent, storedAgain, refreshed})
            QVERIFY(m_store->contains(hash));
        QCOMPARE(entriesIn(tmp), QStringList{QStringLiteral("in-progress")});
        QVERIFY(exists(m_storeFolder + QStringLiteral("/ab/not-a-content")));
        QVERIFY(!exists(m_storeFolder + QStringLiteral("/ab/.tmp-abandoned")));
        QVERIFY(exists(m_storeFolder + QStringLiteral("/ab/.tmp-in-progress")));

        QCOMPARE(m_store->collectGarbage(QSet<ContentHash>(), std::chrono::seconds(0)), 4);
        QVERIFY(objectsIn(m_storeFolder).contains(QStringLiteral("not-a-content")));
        QCOMPARE(ContentStore(path(QStringLiteral("no store yet"))).collectGarbage(QSet<ContentHash>(), std::chrono::seconds(0)), 0);
    }
};

QTEST_GUILESS_MAIN(StorageTest)
#include "storage_test.moc"
