// The trees a store keeps in memory: what they hold, how long, and who may take them instead of
// reading the stored file.

#include "engine/storage/content_store.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_cache.h"
#include "engine/storage/tree_snapshot.h"

#include "engine/support/engine_test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vantrel;
using testing::writeFile;

namespace {

std::shared_ptr<const FolderTree> treeOf(int entries, const QString& prefix)
{
    FolderTree tree;
    for (int i = 0; i < entries; ++i)
        tree.entries.append(FolderEntry{prefix + QString::number(i).rightJustified(4, u'0'),
                                        FolderEntry::Kind::file, hashBytes(prefix.toUtf8()), 1});
    return std::make_shared<const FolderTree>(tree);
}

// Every tree of the version whose root tree is `root`, read from the stored files.
QSet<ContentHash> treesOf(const ContentStore& store, const ContentHash& root)
{
    TreeReader reader(store, false);
    QSet<ContentHash> trees;
    QSet<ContentHash> referenced;
    collectTreeReferences(reader, root, trees, referenced);
    return trees;
}

} // namespace

class TreeCacheTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keepsTheTreesUsedLast()
    {
        const auto a = treeOf(10, QStringLiteral("a"));
        const auto b = treeOf(10, QStringLiteral("b"));
        const auto c = treeOf(10, QStringLiteral("c"));
        const qint64 one = TreeCache::estimatedBytes(*a);
        QVERIFY(one > 10 * qint64(sizeof(FolderEntry)));
        TreeCache cache(one * 5 / 2);
        cache.insert(hashBytes("a"), a);
        cache.insert(hashBytes("b"), b);
        cache.insert(hashBytes("a"), a); // counted once
        QCOMPARE(cache.heldBytes(), 2 * one);
        QCOMPARE(cache.find(hashBytes("a")), a); // now used after b
        cache.insert(hashBytes("c"), c);
        QVERIFY(!cache.find(hashBytes("b")));
        QCOMPARE(cache.find(hashBytes("a")), a);
        QCOMPARE(cache.find(hashBytes("c")), c);
        QCOMPARE(cache.heldBytes(), 2 * one);
        // Larger than everything it may hold: not kept, and nothing else pushed out for it.
        cache.insert(hashBytes("huge"), treeOf(40, QStringLiteral("h")));
        QVERIFY(!cache.find(hashBytes("huge")));
        QVERIFY(cache.find(hashBytes("a")) && cache.find(hashBytes("c")));
    }

    void whoTakesTreesFromMemory()
    {
        QTemporaryDir dir;
        const QString project = dir.filePath(QStringLiteral("Cut.dra"));
        for (const char* path : {"a/x", "a/b/y", "c/z", "top"})
            writeFile(project + u'/' + QLatin1String(path), path);
        ContentStore store(dir.filePath(QStringLiteral("objects")));
        const ContentHash root = snapshotTree(project, store);

        // What a snapshot stored is remembered exactly as the stored text reads.
        const QSet<ContentHash> trees = treesOf(store, root);
        QCOMPARE(trees.size(), 4);
        for (const ContentHash& tree : trees) {
            const auto remembered = store.recentTrees().find(tree);
            QVERIFY(remembered);
            QCOMPARE(*remembered, FolderTree::fromJson(store.readBytes(tree)));
        }

        // The root's file is damaged: a version's base may be taken from memory, what is written
        // out of a version is read from the store, and so is everything in another process.
        QVERIFY(QFile::remove(store.pathFor(root)));
        writeFile(store.pathFor(root), "damaged");
        QCOMPARE(*TreeReader(store, true, TreeReader::Recent::use).read(root), *store.recentTrees().find(root));
        QVERIFY_THROWS_EXCEPTION(StorageError, TreeReader(store).read(root));
        QVERIFY_THROWS_EXCEPTION(StorageError, readTree(store, root));
        QVERIFY_THROWS_EXCEPTION(StorageError, TreeReader(store, false, TreeReader::Recent::use).read(root));
        ContentStore other(store.folder());
        QVERIFY_THROWS_EXCEPTION(StorageError, TreeReader(other, true, TreeReader::Recent::use).read(root));

        // Reading remembers, except for a reader that visits each tree once.
        const ContentHash sub = *std::find_if(trees.cbegin(), trees.cend(), [&](const ContentHash& h) { return h != root; });
        TreeReader(other, false).read(sub);
        QVERIFY(!other.recentTrees().find(sub));
        TreeReader(other).read(sub);
        QVERIFY(other.recentTrees().find(sub));
    }
};

QTEST_GUILESS_MAIN(TreeCacheTest)
#include "tree_cache_test.moc"
