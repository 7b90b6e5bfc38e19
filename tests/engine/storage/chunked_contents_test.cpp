#include "engine/storage/chunks/chunk_list.h"
#include "engine/storage/chunks/chunker.h"
#include "engine/storage/content_store.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/statcache.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"

#include "engine/support/engine_test_support.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <thread>

using namespace vantrel;
using testing::entriesIn;
using testing::failureKind;
using testing::objectsIn;
using testing::storedContent;
using testing::writeFile;

namespace {

constexpr qint64 mib = 1024 * 1024;

QByteArray randomBytes(qint64 size, quint64 seed)
{
    std::mt19937_64 generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i + 8 <= size; i += 8) {
        const quint64 value = generator();
        std::memcpy(bytes.data() + i, &value, 8);
    }
    for (qint64 i = size - size % 8; i < size; ++i)
        bytes[i] = char(generator());
    return bytes;
}

QList<qint64> chunkSizes(const QByteArray& data, qsizetype piece)
{
    Chunker chunker;
    QList<qint64> sizes;
    qint64 start = 0;
    for (qsizetype offset = 0; offset < data.size();) {
        const qsizetype length = std::min(piece, data.size() - offset);
        const qsizetype cut = chunker.cut(data.constData() + offset, length);
        if (cut < 0) {
            offset += length;
            continue;
        }
        offset += cut;
        sizes.append(offset - start);
        start = offset;
    }
    if (start < data.size())
        sizes.append(data.size() - start);
    return sizes;
}

// The sizes of the objects a store holds, by name.
QMap<QString, qint64> objectSizes(const QString& storeFolder)
{
    QMap<QString, qint64> sizes;
    for (const QString& name : objectsIn(storeFolder))
        sizes.insert(name, QFileInfo(storeFolder + u'/' + name.left(2) + u'/' + name).size());
    return sizes;
}

// A chunk source that hands out damaged bytes and notes what it is given.
struct DamagingSource : ChunkSource {
    std::mutex mutex;
    QSet<ContentHash> kept;
    int taken = 0;
    std::optional<QByteArray> take(const ContentHash&, qint64 size) override
    {
        const std::lock_guard lock(mutex);
        ++taken;
        return QByteArray(size, 'x');
    }
    void keep(const ContentHash& hash, const QByteArray&) override
    {
        const std::lock_guard lock(mutex);
        kept.insert(hash);
    }
};

} // namespace

class ChunkedContentsTest : public QObject {
    Q_OBJECT

private:
    std::optional<QTemporaryDir> m_dir;
    std::unique_ptr<ContentStore> m_store; // a team bundle's, of a format that keeps chunks

    QString path(const QString& relative) const { return m_dir->filePath(relative); }
    const QString& storeFolder() const { return m_store->folder(); }

    // The one file of the single-file version `root`.
    ManifestEntry fileOf(const ContentHash& root) { return readTree(*m_store, root).entries.first(); }

    void verifyCopiedOut(const ManifestEntry& entry, const QByteArray& expected)
    {
        const QString destination = path(QStringLiteral("out/") + entry.hash.toHex());
        QDir().mkpath(path(QStringLiteral("out")));
        m_store->copyOut({entry.hash, entry.size, entry.chunks}, destination, false);
        QFile file(destination);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == expected);
        QVERIFY(QFile::remove(destination));
    }

private Q_SLOTS:
    void init()
    {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
        m_store = std::make_unique<ContentStore>(path(QStringLiteral("team/objects")));
        m_store->setChunkedContents(true);
    }

    void cleanup()
    {
        m_store.reset();
        m_dir.reset();
    }

    // Every client must cut the same bytes at the same places, in every release: the sizes of
    // these chunks are fixed here. They don't depend on how the bytes are handed in.
    void boundariesAreFixedAndBounded()
    {
        const QByteArray data = randomBytes(12 * mib, 7);
        const QList<qint64> sizes = chunkSizes(data, 1 << 20);
        QCOMPARE(chunkSizes(data, 4093), sizes);
        // Cut block by block on several threads, from candidates: the same.
        for (const qsizetype block : {qsizetype(1 << 23), qsizetype(1'000'003), qsizetype(70)}) {
            const QByteArray mixed = randomBytes(10 * mib, 11) + QByteArray(9 * mib, '\0') + randomBytes(mib, 12);
            BlockChunker blocks;
            QList<qint64> blockSizes;
            qint64 start = 0;
            for (qsizetype offset = 0; offset < mixed.size(); offset += block) {
                for (const qsizetype end :
                     blocks.cuts(QByteArrayView(mixed).sliced(offset, std::min(block, mixed.size() - offset)))) {
                    blockSizes.append(offset + end - start);
                    start = offset + end;
                }
            }
            blockSizes.append(mixed.size() - start);
            QCOMPARE(blockSizes, chunkSizes(mixed, 1 << 20));
        }
        QCOMPARE(sizes,
                 (QList<qint64>{491715, 369748, 583711, 185779, 554533, 526626, 1119849, 591631, 883089, 824205, 817374,
                                710162, 548383, 775162, 820651, 625372, 370857, 553421,  529115, 589506, 112023}));
        for (qsizetype i = 0; i + 1 < sizes.size(); ++i)
            QVERIFY(sizes.at(i) >= chunking::minSize && sizes.at(i) <= chunking::maxSize);
        // So every list the chunker makes is one a reader takes, cut block by block too.
        ChunkList cut;
        for (const qint64 size : sizes)
            cut.chunks.append({hashBytes("any"), size});
        QCOMPARE(ChunkList::decode(cut.encode(), data.size(), QString()), cut);
        // Bytes without variety are cut at the largest size.
        QCOMPARE(chunkSizes(QByteArray(9 * mib, '\0'), 1 << 20),
                 (QList<qint64>{chunking::maxSize, chunking::maxSize, mib}));
    }

    // Whole up to the threshold, in chunks above it; an edit anywhere, and an insertion, add
    // about the chunks around it, and every version reads back byte for byte.
    void roundTripsAndEditsCostWhatChanged()
    {
        const QString small = path(QStringLiteral("small.bin"));
        writeFile(small, randomBytes(chunking::threshold, 1));
        const ManifestEntry whole = fileOf(snapshotTree(small, *m_store));
        QVERIFY(!whole.chunks);
        QVERIFY(m_store->contains(whole.hash));
        writeFile(small, randomBytes(chunking::threshold + 1, 1));
        const ManifestEntry justOver = fileOf(snapshotTree(small, *m_store));
        QVERIFY(justOver.chunks);
        QVERIFY(!m_store->contains(justOver.hash));
        verifyCopiedOut(justOver, randomBytes(chunking::threshold + 1, 1));

        const QString large = path(QStringLiteral("large.bin"));
        QByteArray data = randomBytes(24 * mib, 2);
        writeFile(large, data);
        ContentHash root = snapshotTree(large, *m_store);
        verifyCopiedOut(fileOf(root), data);
        const QByteArray edit = randomBytes(100'000, 3);
        const QList<std::pair<const char*, std::function<void()>>> edits{
            {"start", [&] { data.replace(0, edit.size(), edit); }},
            {"middle", [&] { data.replace(12 * mib, edit.size(), edit); }},
            {"end", [&] { data.replace(data.size() - edit.size(), edit.size(), edit); }},
            {"insertion", [&] { data.insert(7 * mib, edit); }},
        };
        for (const auto& [where, change] : edits) {
            const QMap<QString, qint64> before = objectSizes(storeFolder());
            change();
            writeFile(large, data);
            SnapshotOptions options;
            options.base = root;
            root = snapshotTree(large, *m_store, options);
            verifyCopiedOut(fileOf(root), data);
            qint64 growth = 0;
            for (const auto& [name, size] : objectSizes(storeFolder()).asKeyValueRange())
                growth += before.contains(name) ? 0 : size;
            // The chunks the edit touched (two at most at these sizes), a list and a tree.
            QVERIFY2(growth <= 2 * chunking::maxSize + 4096, where);
            QVERIFY2(growth < data.size() / 4, qPrintable(QStringLiteral("%1: %2").arg(where).arg(growth)));
        }

        // Storing it again unchanged writes nothing, as a whole file.
        const QMap<QString, qint64> before = objectSizes(storeFolder());
        SnapshotOptions options;
        options.base = root;
        QCOMPARE(snapshotTree(large, *m_store, options), root);
        QCOMPARE(objectSizes(storeFolder()), before);
    }

    // The stat cache knows a file's hash, not its chunks: an unchanged file is taken with the
    // base's list, and read again when the base doesn't have it.
    void statCacheTakesChunkListsFromTheBase()
    {
        const QString package = path(QStringLiteral("Package"));
        const QString clip = package + QStringLiteral("/clip.mov");
        writeFile(clip, randomBytes(6 * mib, 10));
        const timespec times[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(clip).constData(), times, 0), 0);
        StatCache cache(path(QStringLiteral("local/package.statcache")));
        SnapshotOptions options;
        options.cache = &cache;
        const ContentHash first = snapshotTree(package, *m_store, options);
        options.base = first;
        QCOMPARE(snapshotTree(package, *m_store, options), first);
        options.base.reset();
        QCOMPARE(snapshotTree(package, *m_store, options), first);
        const ManifestEntry entry = readTree(*m_store, first).entries.first();
        QVERIFY(entry.chunks);
        verifyCopiedOut(entry, randomBytes(6 * mib, 10));
    }

    // What a list or a chunk claims is checked before it is used; nothing is written outside the
    // destination, and the destination not at all unless the whole file checks out.
    void damagedMissingAndCraftedChunksAreCorrupt()
    {
        const QString source = path(QStringLiteral("clip.mov"));
        const QByteArray data = randomBytes(10 * mib, 4);
        writeFile(source, data);
        const ManifestEntry entry = fileOf(snapshotTree(source, *m_store));
        const ChunkList list = ChunkList::read(*m_store, *entry.chunks, entry.size);
        QVERIFY(list.chunks.size() >= 3);
        const QString out = path(QStringLiteral("out"));
        QDir().mkpath(out);
        const auto copyOutFails = [&](const ContentStore::Stored& content, const char* what,
                                      StorageError::Kind kind = StorageError::Kind::corrupt) {
            QVERIFY2(failureKind([&] { m_store->copyOut(content, out + QStringLiteral("/clip.mov"), false); }) == kind,
                     what);
            QVERIFY2(entriesIn(out).isEmpty(), what);
        };
        const ContentStore::Stored stored{entry.hash, entry.size, entry.chunks};
        const QString chunkPath = m_store->pathFor(list.chunks.at(1).hash);
        const QByteArray chunkBytes = m_store->readBytes(list.chunks.at(1).hash, chunking::maxSize);

        // A damaged chunk is set aside in the temporary folder: missing from then on.
        writeFile(chunkPath, QByteArray(chunkBytes).replace(10, 1, "#"));
        copyOutFails(stored, "damaged chunk");
        QVERIFY(!QFile::exists(chunkPath));
        writeFile(chunkPath, chunkBytes + "more");
        copyOutFails(stored, "oversized chunk");
        QVERIFY(!QFile::exists(chunkPath));
        QCOMPARE(entriesIn(storeFolder() + QStringLiteral("/tmp")).filter(QStringLiteral(".damaged-")).size(), 2);
        copyOutFails(stored, "missing chunk", StorageError::Kind::notFound);
        writeFile(chunkPath, chunkBytes);
        verifyCopiedOut(entry, data);

        // Lists: another file's size, a wrong hash, sizes that don't add up, a chunk of the
        // wrong size, chunks out of order, a count the bytes don't hold.
        copyOutFails({entry.hash, entry.size + 1, entry.chunks}, "size not the list's");
        copyOutFails({entry.hash, entry.size, hashBytes("not stored")}, "missing list", StorageError::Kind::notFound);
        const auto crafted = [&](const std::function<void(ChunkList&)>& craft) {
            ChunkList changed = list;
            craft(changed);
            return ContentStore::Stored{entry.hash, entry.size, m_store->storeBytes(changed.encode())};
        };
        copyOutFails(crafted([](ChunkList& l) { l.chunks.swapItemsAt(0, 1); }), "chunks out of order");
        copyOutFails(crafted([](ChunkList& l) { l.chunks.removeLast(); }), "chunks short of the file");
        copyOutFails(crafted([](ChunkList& l) {
                         l.chunks[0].size += 1;
                         l.chunks[1].size -= 1;
                     }),
                     "chunk of the wrong size");
        QByteArray bytes = list.encode();
        bytes[16] = char(0xff); // a count of chunks far beyond the bytes
        copyOutFails({entry.hash, entry.size, m_store->storeBytes(bytes)}, "count beyond the bytes");
        ChunkList shortOfIt = list;
        shortOfIt.chunks.removeLast();
        QByteArray claimingAll = shortOfIt.encode();
        qToLittleEndian<quint64>(quint64(entry.size), claimingAll.data() + 8); // the file's size, not the chunks'
        QCOMPARE(failureKind([&] { ChunkList::decode(claimingAll, entry.size, source); }), StorageError::Kind::corrupt);
        ChunkList huge;
        huge.chunks.append({list.chunks.at(0).hash, chunking::maxSize + 1});
        QCOMPARE(failureKind([&] { ChunkList::decode(huge.encode(), chunking::maxSize + 1, source); }),
                 StorageError::Kind::corrupt);
        QCOMPARE(failureKind([&] { ChunkList::decode(list.encode().chopped(1), entry.size, source); }),
                 StorageError::Kind::corrupt);
        // The chunks a crafted list gives the wrong sizes are intact: they stay.
        verifyCopiedOut(entry, data);
        // Chunks shorter than the chunker cuts (but the last), or more than a file of this size
        // can have: refused before a chunk is read.
        qsizetype large = 0;
        while (list.chunks.at(large).size < 2 * chunking::minSize)
            ++large;
        ChunkList tiny = list;
        tiny.chunks[large].size -= chunking::minSize - 1;
        tiny.chunks.insert(large + 1, {list.chunks.at(large).hash, chunking::minSize - 1});
        QCOMPARE(failureKind([&] { ChunkList::decode(tiny.encode(), entry.size, source); }),
                 StorageError::Kind::corrupt);
        ChunkList many = list;
        many.chunks[large].size -= 1000;
        for (int i = 0; i < 1000; ++i)
            many.chunks.insert(large + 1, {list.chunks.at(large).hash, 1});
        const auto local = std::make_shared<DamagingSource>();
        m_store->setChunkSource(local);
        copyOutFails(crafted([&](ChunkList& l) { l = tiny; }), "a tiny chunk");
        copyOutFails(crafted([&](ChunkList& l) { l = many; }), "many tiny chunks");
        QCOMPARE(local->taken, 0);
        m_store->setChunkSource(nullptr);
        const QString listPath = m_store->pathFor(*entry.chunks);
        writeFile(listPath, list.encode().replace(30, 1, "#"));
        copyOutFails(stored, "damaged list");
        QCOMPARE(entriesIn(out), QStringList());
    }

    // A local source is asked first but never trusted; what is read from the store is given to it.
    void chunkSourceIsCheckedAndFilled()
    {
        const QString source = path(QStringLiteral("clip.mov"));
        const QByteArray data = randomBytes(9 * mib, 5);
        writeFile(source, data);
        const auto local = std::make_shared<DamagingSource>();
        m_store->setChunkSource(local);
        const ManifestEntry entry = fileOf(snapshotTree(source, *m_store));
        const ChunkList list = ChunkList::read(*m_store, *entry.chunks, entry.size);
        QCOMPARE(local->kept.size(), list.chunks.size()); // stored
        local->kept.clear();
        verifyCopiedOut(entry, data);
        QCOMPARE(local->taken, list.chunks.size());
        QCOMPARE(local->kept.size(), list.chunks.size()); // read
    }

    // A chunk stays while a list that is kept names it, a list while a tree that is kept does.
    void garbageCollectionKeepsNamedChunks()
    {
        const QString source = path(QStringLiteral("clip.mov"));
        QByteArray data = randomBytes(12 * mib, 6);
        writeFile(source, data);
        const ContentHash first = snapshotTree(source, *m_store);
        data.replace(6 * mib, 1000, randomBytes(1000, 7));
        writeFile(source, data);
        SnapshotOptions options;
        options.base = first;
        const ContentHash second = snapshotTree(source, *m_store, options);
        const auto usedBy = [&](const ContentHash& root) {
            TreeReader reader(*m_store, false);
            QSet<ContentHash> visited;
            QSet<ContentHash> referenced;
            collectTreeReferences(reader, root, visited, referenced);
            return referenced;
        };
        const QSet<ContentHash> kept = usedBy(second);
        const QSet<ContentHash> dropped = usedBy(first) - kept;
        QVERIFY(dropped.size() >= 3); // its tree, its list and the chunk that changed
        QVERIFY(m_store->collectGarbage(kept, std::chrono::seconds(0)) >= 2);
        verifyCopiedOut(fileOf(second), data);
        for (const ContentHash& hash : dropped)
            QVERIFY(!m_store->contains(hash) || hash == fileOf(first).hash);

        // A list that can't be read stops the collection instead of losing its chunks.
        writeFile(m_store->pathFor(*fileOf(second).chunks), "damaged");
        QCOMPARE(failureKind([&] { usedBy(second); }), StorageError::Kind::corrupt);
    }

    // Two clients storing the same large file at once: both succeed, one copy of each chunk.
    // A chunk the store holds that no base names is relied on at its size, never read back: one
    // damaged at its size stays as it is (a copy-out meets it), and its file is stored again.
    void storedChunksAreNotReadBack()
    {
        const QString source = path(QStringLiteral("clip.mov"));
        const QByteArray data = randomBytes(10 * mib, 9);
        writeFile(source, data);
        const ManifestEntry entry = fileOf(snapshotTree(source, *m_store));
        const ChunkList::Chunk chunk = ChunkList::read(*m_store, *entry.chunks, entry.size).chunks.at(1);
        const QString object = m_store->pathFor(chunk.hash);
        QFile::setPermissions(object, QFile::ReadOwner | QFile::WriteOwner);
        writeFile(object, QByteArray(chunk.size, 'x'));
        const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(object).constData(), old, 0), 0);
        QCOMPARE(fileOf(snapshotTree(source, *m_store)), entry);
        QFile kept(object);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray(chunk.size, 'x'));
        QVERIFY(QFileInfo(object).lastModified().secsTo(QDateTime::currentDateTime()) < 600); // touched
    }

    void twoWritersOfTheSameChunks()
    {
        const QString source = path(QStringLiteral("clip.mov"));
        const QByteArray data = randomBytes(16 * mib, 8);
        writeFile(source, data);
        ContentStore other(storeFolder(), QStringLiteral("other-client"));
        other.setChunkedContents(true);
        ContentHash firstRoot;
        ContentHash secondRoot;
        std::thread writer([&] { firstRoot = snapshotTree(source, other); });
        secondRoot = snapshotTree(source, *m_store);
        writer.join();
        QCOMPARE(firstRoot, secondRoot);
        verifyCopiedOut(fileOf(secondRoot), data);
        QCOMPARE(entriesIn(storeFolder() + QStringLiteral("/tmp")), QStringList());
    }
};

QTEST_GUILESS_MAIN(ChunkedContentsTest)
#include "chunked_contents_test.moc"
