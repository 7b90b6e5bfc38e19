// Versions that share folder trees: what a new version writes to the team bundle, what garbage
// collection keeps, and trees crafted by a hostile teammate.

#include "engine/storage/folder_tree.h"
#include "engine/storage/storage_error.h"
#include "engine/version_bundles.h"
#include "engine/versioning_support.h"
#include "foundation/json_coding.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace vantrel;
using namespace vantrel::testing;
using namespace std::chrono_literals;

namespace {

// Every stored file of a team bundle with its size, inode and modification time: equal states
// mean that nothing was written, replaced or touched.
QMap<QString, QList<qint64>> storeState(const std::shared_ptr<TeamBundle>& team)
{
    QMap<QString, QList<qint64>> state;
    QDirIterator it(team->contents().folder(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) == 0)
            state.insert(path, {status.st_size, qint64(status.st_ino), status.st_mtim.tv_sec, status.st_mtim.tv_nsec});
    }
    return state;
}

qint64 bytesIn(const QMap<QString, QList<qint64>>& state)
{
    qint64 total = 0;
    for (const auto& file : state)
        total += file.first();
    return total;
}

QString exportTo(const Service& service, const QString& folder, std::optional<IdFor<Versions>> version = std::nullopt)
{
    return syncWait(service->exportVersion(version, folder, defaultS3Factory()));
}

const VersionInfo& currentVersion(const std::shared_ptr<TeamBundle>& team, const Service& service)
{
    return *team->snapshot()->find(service->id())->currentVersion();
}

// The hash of the tree of the folder at `path` in the version whose root tree is `root`.
ContentHash folderTreeAt(const ContentStore& store, ContentHash root, const QString& path)
{
    for (const QString& name : path.split(u'/')) {
        const FolderTree tree = FolderTree::fromJson(store.readBytes(root));
        const auto found = std::find_if(tree.entries.cbegin(), tree.entries.cend(),
                                        [&](const FolderEntry& entry) { return entry.name == name; });
        if (found == tree.entries.cend())
            return {};
        root = found->hash;
    }
    return root;
}

// A project with a few reels and a take three folders below the root.
QString makeDeepProject(const QString& folder, quint32 seed)
{
    const QString path = folder + QStringLiteral("/Edit.dra");
    makeProject(path, seed, 40, 400'000, 5);
    writeFile(path + QStringLiteral("/media/reel2/takes/best/take.bin"), noise(seed + 1, 20'000));
    return path;
}

} // namespace

class SharedTreesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A check-in where every file was touched and none changed writes nothing to the store: the
    // files are hashed, found as the checked-out version has them, and its trees are reused.
    void aCheckInOfTouchedFilesWritesNothing()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto document = importInto(ana, makeDeepProject(fixture.scratch(QStringLiteral("src")), 3));
        const ContentHash first = currentVersion(ana, document).manifest;
        const QString workingCopy = checkOutItem(document);
        const auto before = storeState(ana);

        QDirIterator it(workingCopy, QDir::Files, QDirIterator::Subdirectories);
        int touched = 0;
        while (it.hasNext()) {
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(it.next()).constData(), nullptr, 0), 0);
            ++touched;
        }
        QVERIFY(touched > 40);
        syncWait(document->checkIn(QStringLiteral("touched"), defaultS3Factory()));

        QCOMPARE(ana->snapshot()->find(document->id())->versions.size(), 2);
        QCOMPARE(currentVersion(ana, document).manifest, first);
        const auto after = storeState(ana);
        QCOMPARE(after.size(), before.size());
        QCOMPARE(bytesIn(after), bytesIn(before));
        QCOMPARE(after, before);
    }

    // One file edited deep in the tree: the new version stores that file and the trees of the
    // folders on its path, nothing else; both versions export as they were.
    void aOneFileEditStoresThatFileAndTheFoldersOnItsPath()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const QString source = makeDeepProject(fixture.scratch(QStringLiteral("src")), 4);
        const auto original = describeTree(source);
        const auto document = importInto(ana, source);
        const auto first = *document->currentVersionID();
        const auto before = storeState(ana);

        writeFile(source + QStringLiteral("/media/reel2/takes/best/take.bin"), noise(99, 30'000));
        syncWait(document->storeVersion(source, QStringLiteral("recut"), VersionOrigin::checkedIn));
        const auto after = storeState(ana);
        QStringList added;
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (!before.contains(it.key()))
                added << it.key();
            else
                QCOMPARE(it.value(), before.value(it.key()));
        }
        // take.bin, and the trees of best, takes, reel2, media and the root.
        QCOMPARE(added.size(), 6);
        QVERIFY(bytesIn(after) - bytesIn(before) < 30'000 + 4'000); // the trees are small
        QCOMPARE(describeTree(exportTo(document, fixture.scratch(QStringLiteral("new")))), describeTree(source));
        QCOMPARE(describeTree(exportTo(document, fixture.scratch(QStringLiteral("old")), first)), original);
    }

    // Collection keeps every tree and content that any version uses, also trees another bundle
    // shares; it removes only what the deleted bundle alone used, and nothing at all when a
    // version's tree can't be read.
    void collectionKeepsWhatAnyVersionUses()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const QString sourceA = makeDeepProject(fixture.scratch(QStringLiteral("a")), 5);
        const QString sourceB = makeDeepProject(fixture.scratch(QStringLiteral("b")), 5);
        const auto dropped = importInto(ana, sourceA);
        const auto kept = importInto(ana, sourceB);
        QCOMPARE(currentVersion(ana, kept).manifest, currentVersion(ana, dropped).manifest);

        writeFile(sourceA + QStringLiteral("/media/reel1/clip1.bin"), "only in the dropped bundle");
        syncWait(dropped->storeVersion(sourceA, QStringLiteral("a"), VersionOrigin::checkedIn));
        const auto keptFirst = *kept->currentVersionID();
        const auto keptTree = describeTree(sourceB);
        writeFile(sourceB + QStringLiteral("/media/reel2/clip2.bin"), "only in the kept bundle");
        syncWait(kept->storeVersion(sourceB, QStringLiteral("b"), VersionOrigin::checkedIn));
        ContentStore& store = ana->contents();
        const ContentHash droppedRoot = currentVersion(ana, dropped).manifest;
        const ContentHash droppedReel = folderTreeAt(store, droppedRoot, QStringLiteral("media/reel1"));
        const ContentHash sharedReel = folderTreeAt(store, droppedRoot, QStringLiteral("media/reel2"));

        syncWait(dropped->removeOrDelete(nullptr, defaultS3Factory()));
        for (const auto& summary : ana->versionBundles().trashIndex().all)
            syncWait(ana->versionBundles().deletePermanently(summary));
        ana->collectGarbage(0s);
        for (const ContentHash& gone : {droppedRoot, droppedReel, hashBytes("only in the dropped bundle")})
            QVERIFY(!store.contains(gone));
        QVERIFY(store.contains(sharedReel));
        QCOMPARE(describeTree(exportTo(kept, fixture.scratch(QStringLiteral("now")))), describeTree(sourceB));
        QCOMPARE(describeTree(exportTo(kept, fixture.scratch(QStringLiteral("then")), keptFirst)), keptTree);
        QCOMPARE(ana->collectGarbage(0s), 0);

        // A tree that can't be read stops the whole collection.
        const ContentHash orphan = store.storeBytes("nobody uses this");
        const QString reelTree =
            store.pathFor(folderTreeAt(store, currentVersion(ana, kept).manifest, QStringLiteral("media/reel2")));
        QVERIFY(QFile::rename(reelTree, reelTree + QStringLiteral(".aside")));
        QCOMPARE(ana->collectGarbage(0s), 0);
        QVERIFY(store.contains(orphan));
        QVERIFY(QFile::rename(reelTree + QStringLiteral(".aside"), reelTree));
        QCOMPARE(ana->collectGarbage(0s), 1);
    }

    // Versions whose trees a teammate crafted: exporting, checking out and reverting to them fail
    // with a clear error, write nothing, and hold no lock.
    void craftedTreesAreRefusedSafely()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const QString source = fixture.scratch(QStringLiteral("src")) + QStringLiteral("/Cut.dra");
        writeFile(source + QStringLiteral("/cut.xml"), "<cut/>");
        const auto document = importInto(ana, source);
        ContentStore& store = ana->contents();
        const auto folder = [&](const QByteArray& entries) {
            return store.storeBytes("{\"format\":2,\"kind\":\"folder\",\"entries\":[" + entries + "]}");
        };
        const auto subfolder = [](const QByteArray& name, const ContentHash& tree) {
            return "{\"name\":\"" + name + "\",\"kind\":\"folder\",\"tree\":\"" + tree.toHex().toLatin1() + "\"}";
        };
        const ContentHash content = hashBytes("<cut/>");
        const QByteArray file =
            "{\"name\":\"f\",\"kind\":\"file\",\"hash\":\"" + content.toHex().toLatin1() + "\",\"size\":6}";
        ContentHash deep = folder(file);
        for (int depth = 0; depth <= treeLimits::maxDepth; ++depth)
            deep = folder(subfolder("d", deep));
        const QList<ContentHash> crafted{
            folder(subfolder("..", folder({}))), // climbs out
            folder(file + ',' + file),           // a name twice
            folder(
                subfolder("x", store.storeBytes("{\"format\":2,\"kind\":\"file\",\"hash\":\""
                                                + content.toHex().toLatin1() + "\",\"size\":6}"))), // a file as folder
            folder(subfolder("x", content)),              // a content as folder
            folder(subfolder("x", hashBytes("missing"))), // nothing there
            deep,                                         // too deep
        };
        for (const ContentHash& root : crafted) {
            const auto version = IdFor<Versions>::make();
            ana->commit(RecordKind::version, document->id(),
                        versioning::versionFields(version, root, QString(), QJsonObject(), VersionOrigin::checkedIn));
            const QString out = fixture.scratch(QStringLiteral("out"));
            QVERIFY_THROWS_EXCEPTION(Error, exportTo(document, out));
            QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
            QVERIFY_THROWS_EXCEPTION(Error, checkOutItem(document));
            QVERIFY(!ana->locks().holder(document->id()));
        }
        // Nothing is collected while a version's tree is malformed.
        const ContentHash orphan = store.storeBytes("nobody uses this");
        QCOMPARE(ana->collectGarbage(0s), 0);
        QVERIFY(store.contains(orphan));
        // The versions before are intact: reverting to the first one works, to a crafted one not.
        const auto versions = ana->snapshot()->find(document->id())->versions;
        QVERIFY_THROWS_EXCEPTION(Error, syncWait(document->revertVersionBundle(versions.at(1).id, defaultS3Factory())));
        syncWait(document->revertVersionBundle(versions.first().id, defaultS3Factory()));
        QCOMPARE(contentOf(exportTo(document, fixture.scratch(QStringLiteral("good"))) + QStringLiteral("/cut.xml")),
                 QByteArray("<cut/>"));
    }
};

QTEST_GUILESS_MAIN(SharedTreesTest)
#include "shared_trees_test.moc"
