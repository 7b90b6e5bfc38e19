#include "engine/storage/change_watcher.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/content_store.h"
#include "engine/storage/tree_snapshot.h"
#include "support/engine_test_support.h"
#include "support/working_copy_changes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

using Folders = QSet<QString>;

const void* const owner = &owner;

void move(const QString& from, const QString& to)
{
    QVERIFY(std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0);
}

ManifestEntry entryOf(const Manifest& manifest, const QString& path)
{
    const auto found = std::find_if(manifest.entries.cbegin(), manifest.entries.cend(),
                                    [&](const ManifestEntry& entry) { return entry.path == path; });
    return found == manifest.entries.cend() ? ManifestEntry() : *found;
}

} // namespace

// Each kind of change, with and without a watch, is followed through a check-in in
// watched_check_in_test; these are the watch's own rules.
class ChangeWatcherTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void followsFoldersWhereverTheyGo()
    {
        QTemporaryDir dir;
        const QString package = dir.filePath(QStringLiteral("Cut.dra"));
        const QString outside = dir.filePath(QStringLiteral("outside"));
        makeChangingPackage(package);
        ChangeWatcher watcher;
        QVERIFY(watcher.watch(package, QStringLiteral("v1"), owner));
        changeEveryWay(package, outside);
        QVERIFY(watcher.take(package));

        // Renamed, made, moved in: watched where they are now. Moved out: not watched any more.
        writeFile(package + QStringLiteral("/moves/dir2/sub/y"), "after the rename");
        writeFile(package + QStringLiteral("/made/fresh/a/b/c/g"), "further down");
        writeFile(package + QStringLiteral("/arrivals/in/sub/g"), "after moving in");
        writeFile(outside + QStringLiteral("/gone/later"), "outside");
        move(package + QStringLiteral("/moves/dir2"), outside + QStringLiteral("/dir2"));
        writeFile(outside + QStringLiteral("/dir2/sub/z"), "outside");
        writeFile(package + QStringLiteral("/Info.plist"), "at the root");
        QCOMPARE(watcher.changedFolders(package),
                 (Folders{QString(), QStringLiteral("moves"), QStringLiteral("moves/dir2/sub"),
                          QStringLiteral("made/fresh/a/b"), QStringLiteral("made/fresh/a/b/c"),
                          QStringLiteral("arrivals/in/sub")}));
    }

    void takingLosesNothing()
    {
        QTemporaryDir dir;
        const QString package = dir.filePath(QStringLiteral("Cut.dra"));
        makeChangingPackage(package);
        ChangeWatcher watcher;
        QVERIFY(watcher.watch(package, QStringLiteral("v1"), owner));
        writeFile(package + QStringLiteral("/edit/f"), "1");
        const auto taken = watcher.take(package);
        QCOMPARE(taken->folders, Folders{QStringLiteral("edit")});
        // During the check-in's walk; then the check-in failed.
        writeFile(package + QStringLiteral("/add/new"), "2");
        watcher.putBack(package, *taken);
        QCOMPARE(watcher.changedFolders(package), (Folders{QStringLiteral("edit"), QStringLiteral("add")}));

        // Succeeded: counted from the new version, keeping what came during the walk.
        const auto second = watcher.take(package);
        writeFile(package + QStringLiteral("/chmod/new"), "3");
        watcher.settle(package, *second, QStringLiteral("v2"));
        const auto third = watcher.take(package);
        QCOMPARE(third->base, QStringLiteral("v2"));
        QCOMPARE(third->folders, Folders{QStringLiteral("chmod")});

        // Nothing taken from an earlier watch of the same folder goes into a new one.
        QVERIFY(watcher.watch(package, QStringLiteral("v3"), owner));
        watcher.putBack(package, *third);
        watcher.settle(package, *third, QStringLiteral("v4"));
        QCOMPARE(watcher.take(package)->base, QStringLiteral("v3"));
        QCOMPARE(watcher.changedFolders(package), Folders());
    }

    void continuityEnds()
    {
        QTemporaryDir dir;
        ChangeWatcher watcher;
        const auto watched = [&](const QString& name) {
            const QString path = dir.filePath(name + QStringLiteral("/Cut.dra"));
            makeChangingPackage(path);
            if (!watcher.watch(path, QStringLiteral("v1"), owner))
                qFatal("not watched");
            return path;
        };
        // The working copy moved, removed, or replaced after its own folder was moved away.
        const QString moved = watched(QStringLiteral("moved"));
        move(moved, moved + QStringLiteral(".old"));
        QVERIFY(!watcher.changedFolders(moved));
        QVERIFY(watcher.whyNotWatched(moved));
        const QString removed = watched(QStringLiteral("removed"));
        QVERIFY(QDir(removed).removeRecursively());
        QVERIFY(!watcher.take(removed));
        const QString replaced = watched(QStringLiteral("replaced"));
        move(QFileInfo(replaced).path(), QFileInfo(replaced).path() + QStringLiteral(".old"));
        makeChangingPackage(replaced);
        QVERIFY(!watcher.changedFolders(replaced));

        // Nobody knows which changes an overflow dropped: no working copy counts.
        const QString first = watched(QStringLiteral("first"));
        const QString second = watched(QStringLiteral("second"));
        watcher.simulateOverflowForTesting();
        QVERIFY(!watcher.changedFolders(first) && !watcher.changedFolders(second));

        // The limit of watches, reached at the start or when folders appear.
        watcher.setWatchLimitForTesting(3);
        QVERIFY(!watcher.watch(first, QStringLiteral("v1"), owner));
        QVERIFY(!watcher.changedFolders(first));
        const QString small = dir.filePath(QStringLiteral("small/Cut.dra"));
        writeFile(small + QStringLiteral("/a/f"), "a");
        QVERIFY(watcher.watch(small, QStringLiteral("v1"), owner));
        writeFile(small + QStringLiteral("/b/c/f"), "two more folders");
        QVERIFY(!watcher.changedFolders(small));
        watcher.setWatchLimitForTesting(-1);

        // A file is no folder; an owner's watches end with it, nobody else's.
        QVERIFY(!watcher.watch(small + QStringLiteral("/a/f"), QStringLiteral("v1"), owner));
        QVERIFY(watcher.watch(first, QStringLiteral("v1"), owner));
        QVERIFY(watcher.watch(second, QStringLiteral("v1"), &dir));
        watcher.unwatchAll(owner);
        QVERIFY(!watcher.changedFolders(first));
        QCOMPARE(watcher.changedFolders(second), Folders());
    }

    void releasedWatchesGoLater()
    {
        QTemporaryDir dir;
        auto watcher = std::make_unique<ChangeWatcher>();
        const auto watched = [&](const QString& name) {
            const QString path = dir.filePath(name + QStringLiteral("/Cut.dra"));
            for (int folder = 0; folder < 40; ++folder) {
                for (int file = 0; file < 50; ++file)
                    writeFile(path + QStringLiteral("/f%1/file%2").arg(folder).arg(file), "contents");
            }
            if (!watcher->watch(path, QStringLiteral("v1"), owner))
                qFatal("not watched");
            return path;
        };
        const QString done = watched(QStringLiteral("done"));
        const QString other = watched(QStringLiteral("other"));
        QCOMPARE(watcher->kernelWatchesForTesting(), 82);

        // Not watched from the release on, and not lost either; the kernel lets go with the job.
        const auto job = watcher->release(done);
        QVERIFY(!watcher->changedFolders(done));
        QVERIFY(!watcher->whyNotWatched(done));
        QCOMPARE(watcher->kernelWatchesForTesting(), 82);
        job();
        QCOMPARE(watcher->kernelWatchesForTesting(), 41);
        // Removing the released copy is nobody's change, and the other stays continuous.
        QVERIFY(QDir(QFileInfo(done).path()).removeRecursively());
        QCOMPARE(watcher->changedFolders(other), Folders());
        writeFile(other + QStringLiteral("/f7/new"), "new");
        QCOMPARE(watcher->changedFolders(other), Folders{QStringLiteral("f7")});

        // Watched again at once, before an earlier job ran, the same folders lose their watch and
        // say so; a job outliving its watcher still runs; a root never watched gives a job too.
        const auto early = watcher->release(other);
        QVERIFY(watcher->watch(other, QStringLiteral("v2"), owner));
        early();
        QVERIFY(!watcher->changedFolders(other));
        QVERIFY(watcher->whyNotWatched(other));
        QVERIFY(watcher->watch(other, QStringLiteral("v3"), owner));
        const auto late = watcher->release(other);
        watcher.reset();
        late();
        ChangeWatcher().release(dir.filePath(QStringLiteral("never")))();
    }

    void snapshotTakesUnchangedFoldersFromTheBase()
    {
        QTemporaryDir dir;
        ContentStore store(dir.filePath(QStringLiteral("objects")));
        const QString package = dir.filePath(QStringLiteral("Cut.dra"));
        makeChangingPackage(package);
        const ContentHash baseTree = snapshotTree(package, store);
        const Manifest base = readTree(store, baseTree);
        writeFile(package + QStringLiteral("/edit/f"), "seen");
        writeFile(package + QStringLiteral("/untouched/u/f"), "not listed");
        writeFile(package + QStringLiteral("/deep/x/y/z/f"), "below unchanged folders");
        writeFile(package + QStringLiteral("/made/fresh/f"), "in a new folder");
        QVERIFY(QDir(package + QStringLiteral("/leaving/gone")).removeRecursively());

        SnapshotOptions options;
        options.base = baseTree;
        options.changedFolders =
            Folders{QStringLiteral("edit"), QStringLiteral("deep/x/y/z"), QStringLiteral("made"), QStringLiteral("leaving")};
        options.excludeDirectory = [](const QString& path) { return path == QLatin1String("later"); };
        const Manifest watched = readTree(store, snapshotTree(package, store, options));

        // Unchanged folders as the base has them, the others as they are now.
        Manifest expected = readTree(store, snapshotTree(package, store));
        expected.entries.removeIf([](const ManifestEntry& entry) { return entry.path.startsWith(u"later"); });
        for (auto& entry : expected.entries) {
            if (entry.path == QLatin1String("untouched/u/f")) {
                QVERIFY(entry != entryOf(base, entry.path));
                entry = entryOf(base, entry.path);
            }
        }
        QCOMPARE(watched.entries, expected.entries);
    }
};

QTEST_GUILESS_MAIN(ChangeWatcherTest)
#include "change_watcher_test.moc"
