// Versions stored as trees of folder trees: the stored text, what reading a tree accepts, and
// what a new version built on another one reads and writes.

#include "engine/storage/content_store.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/statcache.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"
#include "foundation/json_coding.h"

#include "engine/support/engine_test_support.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantrel;
using testing::describeTree;
using testing::writeFile;

namespace {

// What a store holds: each stored file with its size, inode and modification time.
struct StoredFile {
    qint64 size = 0;
    quint64 inode = 0;
    qint64 modifiedNs = 0;
    friend bool operator==(const StoredFile&, const StoredFile&) = default;
};

QMap<QString, StoredFile> storeState(const QString& folder)
{
    QMap<QString, StoredFile> state;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) == 0)
            state.insert(
                path.mid(folder.size() + 1),
                {status.st_size, status.st_ino, qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec});
    }
    return state;
}

qint64 bytesIn(const QMap<QString, StoredFile>& state)
{
    qint64 total = 0;
    for (const StoredFile& file : state)
        total += file.size;
    return total;
}

// Sets the modification time of every file below `root` to now, keeping the contents.
void touchAll(const QString& root)
{
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(it.next()).constData(), nullptr, 0), 0);
}

// Sets the modification times of every file below `root` a minute back, so that the stat cache
// trusts what it records of them.
void settle(const QString& root)
{
    const timespec times[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(it.next()).constData(), times, 0), 0);
}

QByteArray treeText(const QByteArray& entries)
{
    return "{\"format\":2,\"kind\":\"folder\",\"entries\":[" + entries + "]}";
}

} // namespace

class FolderTreeTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ContentStore> m_store;

    QString path(const QString& relative) const { return m_dir->filePath(relative); }
    QString storeFolder() const { return path(QStringLiteral("objects")); }

    // A project with folders three deep, siblings at every level, a link and an empty folder.
    QString makeProject()
    {
        const QString root = path(QStringLiteral("Project"));
        writeFile(root + QStringLiteral("/project.drp"), "<project/>");
        for (const char* reel : {"reel1", "reel2", "reel3"}) {
            for (int clip = 0; clip < 4; ++clip)
                writeFile(root + QStringLiteral("/media/%1/clip%2.mov").arg(QLatin1String(reel)).arg(clip),
                          testing::noise(quint32(qHash(QLatin1String(reel)) + clip), 5000 + clip));
        }
        writeFile(root + QStringLiteral("/media/reel2/takes/best/take.mov"), testing::noise(7, 9000));
        writeFile(root + QStringLiteral("/media/reel2/takes/notes.txt"), "notes");
        QDir().mkpath(root + QStringLiteral("/cache/empty"));
        QFile::link(QStringLiteral("project.drp"), root + QStringLiteral("/current.drp"));
        return root;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<ContentStore>(storeFolder());
    }
    void cleanup()
    {
        m_store.reset();
        m_dir.reset();
    }

    void treeTextIsCanonicalAndMalformedTextIsRefused()
    {
        const ContentHash hash = hashBytes("x");
        FolderTree tree;
        tree.entries = {{QStringLiteral("a \"quoted\" \\ name"), FolderEntry::Kind::file, hash, 1, true, {}},
                        {QStringLiteral("b"), FolderEntry::Kind::directory, hash, 0, false, {}},
                        {QStringLiteral("c"), FolderEntry::Kind::symlink, {}, 0, false, QStringLiteral("../x\ny")},
                        {QStringLiteral("été"), FolderEntry::Kind::file, hash, 0, false, {}}};
        const QByteArray text = tree.toJson();
        QCOMPARE(FolderTree::fromJson(text), tree);
        QCOMPARE(FolderTree::fromJson(text).toJson(), text);
        const FolderTree file{true, {{QString(), FolderEntry::Kind::file, hash, 12, false, {}}}};
        QCOMPARE(FolderTree::fromJson(file.toJson()), file);

        const QByteArray hex = hash.toHex().toLatin1();
        const QByteArray fileEntry = "{\"name\":\"NAME\",\"kind\":\"file\",\"hash\":\"" + hex + "\",\"size\":SIZE}";
        const auto entry = [&](const char* name, const char* size = "1") {
            return QByteArray(fileEntry).replace("NAME", name).replace("SIZE", size);
        };
        QCOMPARE(FolderTree::fromJson(treeText(entry("f", "12"))).entries.first().size, 12);
        const QList<QByteArray> malformed{
            treeText(entry("")), treeText(entry(".")), treeText(entry("..")), treeText(entry("a/b")),
            treeText(entry("x\\ny")), treeText(entry("b") + ',' + entry("a")), treeText(entry("a") + ',' + entry("a")),
            treeText(entry("f", "-1")), treeText(entry("f", "1.5")), treeText(entry("f", "\"1\"")),
            treeText(entry("f", "1e300")), treeText(QByteArray(entry("f")).replace("\"file\"", "\"fifo\"")),
            treeText(QByteArray(entry("f")).replace(hex, "ab")), treeText("{\"name\":\"l\",\"kind\":\"link\"}"),
            treeText("{\"name\":\"l\",\"kind\":\"link\",\"target\":\"\"}"),
            treeText("{\"name\":\"d\",\"kind\":\"folder\"}"), treeText("7"),
            QByteArray(treeText(entry("f"))).replace("\"format\":2", "\"format\":1"),
            QByteArray(treeText(entry("f"))).replace("\"folder\"", "\"file\""), "{\"format\":2,\"kind\":\"folder\"}",
            "[]", "not json",
            // An old single list of paths.
            "{\"format\":1,\"root\":\"directory\",\"entries\":[]}"};
        for (const QByteArray& text : malformed)
            QVERIFY_THROWS_EXCEPTION(DecodingError, FolderTree::fromJson(text));
    }

    void storedTreesReadBackWithinTheirBounds()
    {
        const ContentHash content = m_store->storeBytes("content");
        Manifest manifest;
        manifest.entries = {{QStringLiteral("a"), ManifestEntry::Kind::directory, {}, 0, false, {}},
                            {QStringLiteral("a-b"), ManifestEntry::Kind::file, content, 7, false, {}},
                            {QStringLiteral("a/b"), ManifestEntry::Kind::directory, {}, 0, false, {}},
                            {QStringLiteral("a/b/c"), ManifestEntry::Kind::file, content, 7, true, {}},
                            {QStringLiteral("a/l"), ManifestEntry::Kind::symlink, {}, 0, false, QStringLiteral("/etc")},
                            {QStringLiteral("e"), ManifestEntry::Kind::directory, {}, 0, false, {}}};
        const ContentHash root = storeTree(*m_store, manifest);
        QCOMPARE(readTree(*m_store, root), manifest);
        QCOMPARE(storeTree(*m_store, manifest), root);
        Manifest invalid = manifest;
        invalid.entries.removeFirst(); // "a/b" without its folder
        QVERIFY_THROWS_EXCEPTION(DecodingError, storeTree(*m_store, invalid));

        const auto folderOf = [&](const QByteArray& entries) { return m_store->storeBytes(treeText(entries)); };
        const auto subfolder = [](const char* name, const ContentHash& tree) {
            return "{\"name\":\"" + QByteArray(name) + "\",\"kind\":\"folder\",\"tree\":\"" + tree.toHex().toLatin1()
                   + "\"}";
        };
        const auto refused = [&](const ContentHash& top) {
            QVERIFY_THROWS_EXCEPTION(DecodingError, readTree(*m_store, top));
        };
        // A single file's tree is no folder.
        const ContentHash fileRoot =
            storeTree(*m_store, Manifest{Manifest::RootKind::file,
                                         {{QString(), ManifestEntry::Kind::file, content, 7, false, {}}}});
        QCOMPARE(readTree(*m_store, fileRoot).rootKind, Manifest::RootKind::file);
        refused(folderOf(subfolder("f", fileRoot)));
        // A chain of folders one deeper than allowed, and one as deep as allowed.
        ContentHash chain = folderOf({});
        for (int depth = 0; depth < treeLimits::maxDepth; ++depth)
            chain = folderOf(subfolder("d", chain));
        QCOMPARE(readTree(*m_store, chain).entries.size(), treeLimits::maxDepth);
        refused(folderOf(subfolder("d", chain)));
        // Folders naming one large folder many times: refused before they are expanded.
        QByteArray files;
        for (int i = 0; i < 3000; ++i)
            files += (i ? "," : "") + QByteArray(fileEntry(content, i));
        const ContentHash large = folderOf(files);
        QByteArray many;
        for (int i = 0; i < 3000; ++i)
            many += (i ? "," : "") + subfolder(qPrintable(QStringLiteral("d%1").arg(i, 4, 10, QChar(u'0'))), large);
        refused(folderOf(many));

        // A subfolder missing from the store, or damaged there, fails as the store reports it.
        const ContentHash missing = hashBytes("never stored");
        try {
            readTree(*m_store, folderOf(subfolder("gone", missing)));
            QFAIL("a missing folder tree was read");
        } catch (const StorageError& error) {
            QCOMPARE(error.kind(), StorageError::Kind::notFound);
        }
        writeFile(m_store->pathFor(missing), "damaged");
        try {
            readTree(*m_store, folderOf(subfolder("gone", missing)));
            QFAIL("a damaged folder tree was read");
        } catch (const StorageError& error) {
            QCOMPARE(error.kind(), StorageError::Kind::corrupt);
        }
    }

    // Built on the version before, a version after one edit deep in the tree stores that file and
    // the trees of the folders on its path, and reads of the base only what it needs.
    void aNewVersionStoresOnlyWhatChanged()
    {
        const QString project = makeProject();
        settle(project);
        StatCache cache(path(QStringLiteral("local/project.statcache")));
        SnapshotOptions options;
        options.cache = &cache;
        const ContentHash first = snapshotTree(project, *m_store, options);
        const auto before = storeState(storeFolder());

        // Nothing of reel1 is read: its tree may even be gone meanwhile.
        const Manifest firstTree = readTree(*m_store, first);
        const auto subfolder = [&](const ContentHash& tree, const char* name) {
            for (const FolderEntry& entry : FolderTree::fromJson(m_store->readBytes(tree)).entries) {
                if (entry.name == QLatin1String(name))
                    return entry.hash;
            }
            return ContentHash();
        };
        const QString reel1 = m_store->pathFor(subfolder(subfolder(first, "media"), "reel1"));
        QVERIFY(QFile::rename(reel1, path(QStringLiteral("reel1 aside"))));
        const QString take = project + QStringLiteral("/media/reel2/takes/best/take.mov");
        writeFile(take, testing::noise(8, 9000)); // same size, new bytes
        options.base = first;
        const ContentHash second = snapshotTree(project, *m_store, options);
        QVERIFY(QFile::rename(path(QStringLiteral("reel1 aside")), reel1));
        const auto after = storeState(storeFolder());
        QStringList added;
        for (const QString& name : after.keys()) {
            if (!before.contains(name))
                added << name;
            else
                QVERIFY2(after.value(name) == before.value(name), qPrintable(name)); // not even touched
        }
        // The file, and the trees of best, takes, reel2, media and the root.
        QCOMPARE(added.size(), 6);
        QVERIFY(added.contains(m_store->pathFor(hashBytes(testing::noise(8, 9000))).mid(storeFolder().size() + 1)));
        Manifest expected = firstTree;
        for (ManifestEntry& entry : expected.entries) {
            if (entry.path == u"media/reel2/takes/best/take.mov")
                entry.hash = hashBytes(testing::noise(8, 9000));
        }
        QCOMPARE(readTree(*m_store, second), expected);
    }

    void touchedButUnchangedFilesWriteNothing()
    {
        const QString project = makeProject();
        settle(project);
        StatCache cache(path(QStringLiteral("local/project.statcache")));
        SnapshotOptions options;
        options.cache = &cache;
        const ContentHash first = snapshotTree(project, *m_store, options);
        const auto before = storeState(storeFolder());

        // Every file looks changed to the cache; each is hashed and found as the base has it.
        touchAll(project);
        options.base = first;
        QCOMPARE(snapshotTree(project, *m_store, options), first);
        QCOMPARE(storeState(storeFolder()), before);
        QCOMPARE(bytesIn(storeState(storeFolder())), bytesIn(before));

        // Without a base, contents found stored are kept as they are: touched, never rewritten.
        touchAll(project);
        QCOMPARE(snapshotTree(project, *m_store), first);
        const auto again = storeState(storeFolder());
        QCOMPARE(again.keys(), before.keys());
        for (const QString& name : before.keys())
            QCOMPARE(again.value(name).inode, before.value(name).inode);
    }

    // With the folders that changed given, the others are taken from the base unlisted.
    void changedFoldersTakeTheRestFromTheBase()
    {
        const QString project = makeProject();
        const ContentHash first = snapshotTree(project, *m_store);

        writeFile(project + QStringLiteral("/media/reel2/takes/best/take.mov"), "recut");
        writeFile(project + QStringLiteral("/media/reel2/new/folder/clip.mov"), "new clip");
        QVERIFY(QFile::remove(project + QStringLiteral("/media/reel3/clip0.mov")));
        // Listing reel1 or cache would fail the snapshot: they are not looked at.
        QCOMPARE(::mkfifo(QFile::encodeName(project + QStringLiteral("/media/reel1/pipe")).constData(), 0644), 0);
        QCOMPARE(::mkfifo(QFile::encodeName(project + QStringLiteral("/cache/empty/pipe")).constData(), 0644), 0);

        SnapshotOptions options;
        options.base = first;
        options.changedFolders = QSet<QString>{QStringLiteral("media/reel2/takes/best"), QStringLiteral("media/reel2"),
                                               QStringLiteral("media/reel3")};
        const ContentHash second = snapshotTree(project, *m_store, options);
        Manifest expected = readTree(*m_store, first);
        const ContentHash recut = hashBytes("recut");
        for (ManifestEntry& entry : expected.entries) {
            if (entry.path == u"media/reel2/takes/best/take.mov") {
                entry.hash = recut;
                entry.size = 5;
            }
        }
        expected.entries.removeIf([](const ManifestEntry& entry) { return entry.path == u"media/reel3/clip0.mov"; });
        expected.entries +=
            {{QStringLiteral("media/reel2/new"), ManifestEntry::Kind::directory, {}, 0, false, {}},
             {QStringLiteral("media/reel2/new/folder"), ManifestEntry::Kind::directory, {}, 0, false, {}},
             {QStringLiteral("media/reel2/new/folder/clip.mov"),
              ManifestEntry::Kind::file,
              hashBytes("new clip"),
              8,
              false,
              {}}};
        std::sort(expected.entries.begin(), expected.entries.end(),
                  [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
        QCOMPARE(readTree(*m_store, second), expected);

        // Nothing changed: the base itself. A base that can't be read is not used: the whole
        // tree is listed (and meets the pipes).
        options.base = second;
        options.changedFolders = QSet<QString>();
        QCOMPARE(snapshotTree(project, *m_store, options), second);
        // A single file's version is no folder to take anything from.
        writeFile(path(QStringLiteral("single.txt")), "single");
        const ContentHash single = snapshotTree(path(QStringLiteral("single.txt")), *m_store);
        QCOMPARE(readTree(*m_store, single).rootKind, Manifest::RootKind::file);
        options.base = single;
        QVERIFY_THROWS_EXCEPTION(StorageError, snapshotTree(project, *m_store, options)); // listed: meets the pipes
        QFile::remove(m_store->pathFor(second));
        writeFile(m_store->pathFor(second), "damaged");
        options.base = second;
        options.changedFolders = QSet<QString>{QStringLiteral("media/reel2")};
        // The store that stored the base keeps its trees, as checked then; another process can't
        // read it any more and lists everything.
        QCOMPARE(snapshotTree(project, *m_store, options), second);
        ContentStore other(m_store->folder());
        QVERIFY_THROWS_EXCEPTION(StorageError, snapshotTree(project, other, options));
    }

private:
    static QByteArray fileEntry(const ContentHash& content, int index)
    {
        return "{\"name\":\"f" + QByteArray::number(index).rightJustified(5, '0') + "\",\"kind\":\"file\",\"hash\":\""
               + content.toHex().toLatin1() + "\",\"size\":7}";
    }
};

QTEST_GUILESS_MAIN(FolderTreeTest)
#include "folder_tree_test.moc"
