#include "engine/storage/chunks/chunk_list.h"
#include "engine/storage/chunks/chunk_source.h"
#include "engine/storage/chunks/chunker.h"
#include "engine/storage/content_store.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"

#include "engine/support/engine_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <mutex>
#include <thread>

using namespace vantrel;
using testing::entriesIn;
using testing::failureKind;
using testing::noise;
using testing::objectsIn;
using testing::packsIn;
using testing::writeFile;

namespace {

constexpr qint64 mib = 1024 * 1024;

// Gives the chunks it was handed, and notes the ones a copy-out handed it.
struct HeldChunks : ChunkSource {
    std::mutex mutex;
    QHash<ContentHash, QByteArray> held;
    QSet<ContentHash> kept;

    std::optional<QByteArray> take(const ContentHash& hash, qint64) override
    {
        const std::lock_guard lock(mutex);
        const auto found = held.constFind(hash);
        return found == held.constEnd() ? std::nullopt : std::optional(*found);
    }
    void keep(const ContentHash& hash, const QByteArray&) override
    {
        const std::lock_guard lock(mutex);
        kept.insert(hash);
    }
};

} // namespace

// A content store of format 4: large files' chunks in packs.
class ChunkPacksTest : public QObject {
    Q_OBJECT

private:
    std::optional<QTemporaryDir> m_dir;
    std::unique_ptr<ContentStore> m_store;

    QString path(const QString& relative) const { return m_dir->filePath(relative); }
    QString packPath(const QString& name) const { return m_store->folder() + QStringLiteral("/packs/") + name; }
    ManifestEntry fileOf(const ContentHash& root) { return readTree(*m_store, root).entries.first(); }
    ChunkList listOf(const ManifestEntry& entry) { return ChunkList::read(*m_store, *entry.chunks, entry.size); }

    QByteArray copiedOut(const ManifestEntry& entry)
    {
        const QString destination = path(QStringLiteral("out"));
        QFile::remove(destination);
        m_store->copyOut({entry.hash, entry.size, entry.chunks}, destination, false);
        return testing::contentOf(destination);
    }
    qint64 packBytes() const
    {
        qint64 total = 0;
        for (const QString& name : packsIn(m_store->folder()))
            total += QFileInfo(packPath(name)).size();
        return total;
    }

private Q_SLOTS:
    void init()
    {
        m_dir.emplace();
        m_store = std::make_unique<ContentStore>(path(QStringLiteral("team/objects")));
        m_store->setChunkedContents(true);
        m_store->setPackedChunks(true);
    }
    void cleanup()
    {
        m_store.reset();
        m_dir.reset();
    }

    // No object per chunk; the identity is the list's, found the same way by hashFile(); an edit
    // writes about what it touched and relies on the other packs where they lie.
    void packsRoundTripAndEditsShareThem()
    {
        const QString source = path(QStringLiteral("clip.mov"));
        QByteArray data = noise(1, 40 * mib);
        writeFile(source, data);
        const ContentHash first = snapshotTree(source, *m_store);
        const ManifestEntry entry = fileOf(first);
        const ChunkList list = listOf(entry);
        QCOMPARE(list.packs.size(), 2);
        QCOMPARE(entry.hash, list.identity());
        QCOMPARE(m_store->hashFile(source).hash, entry.hash);
        QCOMPARE(objectsIn(m_store->folder()).size(), 2); // the list and the tree
        QCOMPARE(copiedOut(entry), data);

        const qint64 before = packBytes();
        data.replace(20 * mib, mib, noise(2, mib));
        writeFile(source, data);
        SnapshotOptions options;
        options.base = first;
        const ContentHash second = snapshotTree(source, *m_store, options);
        QVERIFY(packBytes() - before <= mib + 2 * chunking::maxSize + 4096);
        QCOMPARE(copiedOut(fileOf(second)), data);
        QCOMPARE(copiedOut(entry), noise(1, 40 * mib));
        QVERIFY(m_store->holds({entry.hash, entry.size, entry.chunks}));

        // Unchanged: nothing written; nor without a base, by the places this store knows.
        const QStringList packs = packsIn(m_store->folder());
        options.base = second;
        QCOMPARE(snapshotTree(source, *m_store, options), second);
        QCOMPARE(packsIn(m_store->folder()), packs);
        QCOMPARE(snapshotTree(source, *m_store), second);
        QCOMPARE(packsIn(m_store->folder()), packs);
    }

    // A pack damaged or cut short fails the copy-out as corrupt and is marked, so that the next
    // check-in stores its chunks again; a missing one is not found; a crafted list is corrupt.
    void damagedPacksAndCraftedLists()
    {
        const QString source = path(QStringLiteral("clip.mov"));
        QByteArray data = noise(3, 10 * mib);
        writeFile(source, data);
        const ContentHash first = snapshotTree(source, *m_store);
        const ManifestEntry entry = fileOf(first);
        const ChunkList list = listOf(entry);
        const QString pack = m_store->packPathFor(list.packs.first());
        const QByteArray intact = testing::contentOf(pack);
        QFile::setPermissions(pack, QFile::ReadOwner | QFile::WriteOwner);
        writeFile(pack, QByteArray(intact).replace(5 * mib, 1, "#"));
        QCOMPARE(failureKind([&] { copiedOut(entry); }), StorageError::Kind::corrupt);
        QVERIFY(!QFile::exists(path(QStringLiteral("out"))));
        QVERIFY(QFile::exists(pack + QStringLiteral(".damaged")));
        SnapshotOptions options;
        options.base = first;
        data.replace(0, 4, "edit");
        writeFile(source, data);
        const ManifestEntry next = fileOf(snapshotTree(source, *m_store, options));
        QVERIFY(!listOf(next).packs.contains(list.packs.first()));
        QCOMPARE(copiedOut(next), data);

        writeFile(pack, intact.left(intact.size() / 2));
        QCOMPARE(failureKind([&] { copiedOut(entry); }), StorageError::Kind::corrupt);
        QVERIFY(QFile::remove(pack));
        QCOMPARE(failureKind([&] { copiedOut(entry); }), StorageError::Kind::notFound);

        // Crafted lists: a pack number beyond the table, an offset beyond any pack, counts of
        // chunks or packs beyond the bytes. Refused before anything is allocated for them.
        const auto refused = [&](const std::function<void(QByteArray&)>& craft) {
            QByteArray bytes = list.encode();
            craft(bytes);
            return failureKind([&] { ChunkList::decode(bytes, entry.size, source); }) == StorageError::Kind::corrupt;
        };
        const qint64 firstEntry = ChunkList::packedHeaderSize + ChunkList::packNameSize * list.packs.size();
        QVERIFY(refused([&](QByteArray& b) { qToLittleEndian<quint32>(7, b.data() + firstEntry + 36); }));
        QVERIFY(refused([&](QByteArray& b) { qToLittleEndian<quint64>(1ull << 40, b.data() + firstEntry + 40); }));
        QVERIFY(refused([](QByteArray& b) { qToLittleEndian<quint32>(0xffffffff, b.data() + 16); }));
        QVERIFY(refused([](QByteArray& b) { qToLittleEndian<quint32>(0xffffffff, b.data() + 20); }));
        QVERIFY(refused([](QByteArray& b) { qToLittleEndian<quint32>(0, b.data() + 20); }));
        QVERIFY(!refused([](QByteArray&) {}));
    }

    // Consecutive chunks of a pack are read together around those the chunk source gives (one
    // of them wrong, so read from the pack); a pack cut short within such a run is corrupt.
    void runsAroundTheChunkSource()
    {
        const QString source = path(QStringLiteral("clip.mov"));
        const QByteArray data = noise(6, 12 * mib);
        writeFile(source, data);
        const ManifestEntry entry = fileOf(snapshotTree(source, *m_store));
        const ChunkList list = listOf(entry);
        QVERIFY(list.chunks.size() > 12);
        const auto held = std::make_shared<HeldChunks>();
        QSet<ContentHash> read;
        for (qsizetype i = 0; i < list.chunks.size(); ++i) {
            const ChunkList::Chunk& chunk = list.chunks.at(i);
            if (i % 3 == 1 || i == list.chunks.size() - 1)
                held->held.insert(chunk.hash, data.mid(chunk.offset, chunk.size));
            else
                read.insert(chunk.hash);
        }
        const ChunkList::Chunk& wrong = list.chunks.at(4);
        held->held.insert(wrong.hash, noise(7, wrong.size));
        read.remove(wrong.hash);
        m_store->setChunkSource(held);
        QCOMPARE(copiedOut(entry), data);
        read.insert(wrong.hash);
        QCOMPARE(held->kept, read);

        const QString pack = m_store->packPathFor(list.packs.first());
        QFile::setPermissions(pack, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(QFile(pack).resize(list.chunks.at(8).offset + 1000));
        QCOMPARE(failureKind([&] { copiedOut(entry); }), StorageError::Kind::corrupt);
        QVERIFY(QFile::exists(pack + QStringLiteral(".damaged")));
    }

    // Packs no kept list names go after the grace period, with their markers and temporaries;
    // named ones stay. Two writers storing overlapping files at once meanwhile both succeed.
    void collectionAndTwoWriters()
    {
        const QString source = path(QStringLiteral("clip.mov"));
        const QString other = path(QStringLiteral("other.mov"));
        QByteArray data = noise(4, 12 * mib);
        writeFile(source, data);
        writeFile(other, data.left(6 * mib) + noise(5, 6 * mib));
        ContentStore second(m_store->folder(), QStringLiteral("other-client"));
        second.setChunkedContents(true);
        second.setPackedChunks(true);
        ContentHash kept;
        ContentHash dropped;
        std::thread writer([&] { dropped = snapshotTree(other, second); });
        kept = snapshotTree(source, *m_store);
        writer.join();
        QCOMPARE(copiedOut(fileOf(dropped)), data.left(6 * mib) + noise(5, 6 * mib));
        QCOMPARE(copiedOut(fileOf(kept)), data);

        const QList<ContentHash> keptList = listOf(fileOf(kept)).packs;
        const QSet<ContentHash> keptPacks(keptList.cbegin(), keptList.cend());
        const QList<ContentHash> droppedPacks = listOf(fileOf(dropped)).packs;
        const QString gone = m_store->packPathFor(droppedPacks.first());
        QVERIFY(!keptPacks.contains(droppedPacks.first()));
        writeFile(gone + QStringLiteral(".damaged"), {});
        writeFile(packPath(QStringLiteral(".tmp-crashed.1.x")), "left over");
        TreeReader reader(*m_store, false);
        QSet<ContentHash> visited;
        QSet<ContentHash> referenced;
        collectTreeReferences(reader, kept, visited, referenced);
        QVERIFY(m_store->collectGarbage(referenced, std::chrono::seconds(0)) >= 1);
        QVERIFY(!QFile::exists(gone));
        QVERIFY(!QFile::exists(gone + QStringLiteral(".damaged")));
        QCOMPARE(entriesIn(packPath({})).filter(QStringLiteral(".tmp-")), QStringList());
        for (const ContentHash& pack : keptPacks)
            QVERIFY(QFile::exists(m_store->packPathFor(pack)));
        QCOMPARE(copiedOut(fileOf(kept)), data);
    }
};

QTEST_GUILESS_MAIN(ChunkPacksTest)
#include "chunk_packs_test.moc"
