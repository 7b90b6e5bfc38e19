// Storing many contents at once: everything ends up stored exactly once, under its name only
// when its bytes are whole, and nothing is left in the store's temporary folder, whether the
// batch finishes or is abandoned.

#include "engine/storage/chunks/chunk_list.h"
#include "engine/storage/content_store.h"
#include "engine/storage/manifest.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"

#include "support/engine_test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <ctime>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace vantrel;
using testing::describeTree;
using testing::entriesIn;
using testing::failureKind;
using testing::objectsIn;
using testing::writeFile;

namespace {

QByteArray contentNumbered(int number, qsizetype size)
{
    QByteArray content(size, char('a' + number % 26));
    content.prepend(QByteArray::number(number) + ':');
    return content;
}

// Waits until the clock that stamps files has passed the modification time of `path`, so that
// a touch now changes it.
void waitForClockPast(const QString& path)
{
    struct stat status {};
    QVERIFY(::stat(QFile::encodeName(path).constData(), &status) == 0);
    for (timespec now{}; ::clock_gettime(CLOCK_REALTIME_COARSE, &now) == 0
                         && (now.tv_sec < status.st_mtim.tv_sec
                             || (now.tv_sec == status.st_mtim.tv_sec && now.tv_nsec <= status.st_mtim.tv_nsec));)
        QTest::qSleep(1);
}

} // namespace

class ContentBatchTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_storeFolder;
    std::unique_ptr<ContentStore> m_store;

    QString path(const QString& relative) const { return m_dir->filePath(relative); }

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

    // Far more files than are flushed together, with repeated contents, one stored before and
    // one stored damaged: each content is stored once and whole, and reads back as it was.
    void snapshotOfManyFilesStoresEachContentOnce()
    {
        const QString package = path(QStringLiteral("Library"));
        constexpr int distinct = 230;
        for (int i = 0; i < 300; ++i) {
            const int number = i % distinct; // the last 70 files repeat the first 70
            writeFile(package + QStringLiteral("/folder %1/clip %2.mov").arg(i % 7).arg(i),
                      contentNumbered(number, 1000 + number * 37));
        }
        m_store->storeBytes(contentNumbered(3, 1000 + 3 * 37));
        const ContentHash damaged = m_store->storeBytes(contentNumbered(5, 1000 + 5 * 37));
        {
            QFile object(m_store->pathFor(damaged));
            QVERIFY(object.open(QIODevice::WriteOnly | QIODevice::Truncate));
            object.write(QByteArray(1000 + 5 * 37 + 2, 'x'));
        }

        const ContentHash root = snapshotTree(package, *m_store);
        QCOMPARE(testing::storedTree(*m_store, root), describeTree(package));
        // Every content once, one tree per folder and one for the root.
        QCOMPARE(objectsIn(m_storeFolder).size(), distinct + 7 + 1);
        QCOMPARE(m_store->readBytes(damaged, 1 << 20), contentNumbered(5, 1000 + 5 * 37));
        QVERIFY(entriesIn(m_storeFolder + QStringLiteral("/tmp")).isEmpty());
    }

    // Until finish() the contents are not under their names; a batch given up leaves nothing,
    // also when some of its contents had been moved to their places already.
    void contentsAreStoredOnlyWhenTheBatchFinishes()
    {
        const QByteArray small("a few bytes");
        {
            ContentStore::Batch batch(*m_store);
            writeFile(path(QStringLiteral("clip.mov")), QByteArray(200'000, 'c'));
            const ContentStore::Stored stored = batch.storeFile(path(QStringLiteral("clip.mov")));
            const ContentHash bytes = batch.storeBytes(small);
            QVERIFY(!m_store->contains(stored.hash));
            QVERIFY(!m_store->contains(bytes));
            batch.finish();
            QVERIFY(m_store->contains(stored.hash));
            QCOMPARE(m_store->readBytes(bytes), small);
        }
        QVERIFY(entriesIn(m_storeFolder + QStringLiteral("/tmp")).isEmpty());

        {
            ContentStore::Batch batch(*m_store);
            for (int i = 0; i < 150; ++i)
                batch.storeBytes(contentNumbered(i, 500));
        }
        QVERIFY(entriesIn(m_storeFolder + QStringLiteral("/tmp")).isEmpty());
        // Whole or absent: readBytes() checks every byte against the name.
        for (int i = 0; i < 150; ++i) {
            const ContentHash hash = hashBytes(contentNumbered(i, 500));
            if (m_store->contains(hash))
                QCOMPARE(m_store->readBytes(hash), contentNumbered(i, 500));
        }
    }

    // A client removes its own left-overs as soon as it can: an earlier run's at once, one this
    // process could not remove (the share was gone) once the share is back; never another
    // client's, an older version's, nor one this process is still writing.
    void aClientRemovesItsOwnLeftoversOnly()
    {
        const QString tmp = m_storeFolder + QStringLiteral("/tmp");
        const auto namesIn = [&tmp] {
            const QStringList names = entriesIn(tmp);
            return QSet<QString>(names.cbegin(), names.cend());
        };
        ContentStore ana(m_storeFolder, QStringLiteral("ANA"));
        auto writing = std::make_unique<ContentStore::Batch>(ana);
        // A content whose hash is known is written beside its place.
        const QByteArray content = "still being written";
        const QString shard = QFileInfo(ana.pathFor(hashBytes(content))).path();
        writing->storeBytes(content);
        const QStringList inFlight = entriesIn(shard);
        QCOMPARE(inFlight.size(), 1);
        QVERIFY(inFlight[0].startsWith(QStringLiteral(".tmp-ANA.")));
        const QStringList others{QStringLiteral("0123456789abcdef"), QStringLiteral("ANA.partial"),
                                 QStringLiteral("ANA.0123456789abcdef.0123456789abcdef.x"),
                                 QStringLiteral("BEN.0123456789abcdef.0123456789abcdef")};
        for (const QString& name : others + QStringList{QStringLiteral("ANA.0123456789abcdef.0123456789abcdef")})
            writeFile(tmp + u'/' + name, "partial");
        // The same client opened a second time in this process.
        QCOMPARE(ContentStore(m_storeFolder, QStringLiteral("ANA")).removeOwnTemporaries(), 1);
        QCOMPARE(namesIn(), QSet<QString>(others.cbegin(), others.cend()));
        QCOMPARE(entriesIn(shard), inFlight);

        // The share is gone when the batch is given up, and comes back.
        QVERIFY(QDir().rename(shard, shard + QStringLiteral("-away")));
        writing.reset();
        QVERIFY(QDir().rename(shard + QStringLiteral("-away"), shard));
        QCOMPARE(entriesIn(shard), inFlight);
        QCOMPARE(ana.removeOwnTemporaries(), 1);
        QCOMPARE(entriesIn(shard), QStringList());
        QCOMPARE(namesIn(), QSet<QString>(others.cbegin(), others.cend()));
    }

    // A change that fails before its record removes the objects it installed new, but none it
    // found stored, none another client touched or renamed a copy of its own over meanwhile,
    // and none this process relied on since; a change that keeps them keeps them all.
    void aFailedChangeRemovesOnlyWhatNobodyReliesOn()
    {
        ContentStore ana(m_storeFolder, QStringLiteral("ANA"));
        ContentStore ben(m_storeFolder, QStringLiteral("BEN"));
        const QByteArray before = "stored before";
        ana.storeBytes(before);
        const auto content = [](int i) { return contentNumbered(i, 3000); };
        const QStringList stored = objectsIn(m_storeFolder);
        {
            ContentStore::Written written(ana);
            ContentStore::Batch batch(ana, &written);
            for (int i = 0; i < 5; ++i)
                batch.storeBytes(content(i));
            batch.storeBytes(before);
            batch.finish();
            // Relied on by this process at once: within the tick of the clock that stamped it,
            // so that the touch is not seen in its times.
            ana.storeBytes(content(3));
            for (int i = 1; i < 3; ++i)
                waitForClockPast(ana.pathFor(hashBytes(content(i))));
            ben.storeBytes(content(1)); // found stored: touched
            // Stored by a client that did not find it: its own copy renamed over.
            const QString copy = path(QStringLiteral("copy"));
            writeFile(copy, content(2));
            QVERIFY(::rename(QFile::encodeName(copy).constData(),
                             QFile::encodeName(ana.pathFor(hashBytes(content(2)))).constData())
                    == 0);
        }
        QStringList expected = stored;
        for (int i = 1; i < 4; ++i)
            expected << hashBytes(content(i)).toHex();
        QStringList left = objectsIn(m_storeFolder);
        left.sort();
        expected.sort();
        QCOMPARE(left, expected);
        for (int i = 1; i < 4; ++i)
            QCOMPARE(ana.readBytes(hashBytes(content(i))), content(i));
        QVERIFY(entriesIn(m_storeFolder + QStringLiteral("/tmp")).isEmpty());

        {
            ContentStore::Written written(ana);
            ContentStore::Batch batch(ana, &written);
            batch.storeBytes(content(7));
            batch.finish();
            written.keep();
        }
        QVERIFY(ana.contains(hashBytes(content(7))));
    }

    // A chunk a version names already, which the share lost and a change stored again from its
    // bytes, stays when that change fails; what only the failed change named goes.
    void aFailedChangeKeepsTheChunksItStoredAgain()
    {
        ContentStore store(m_storeFolder, QStringLiteral("ANA"));
        store.setChunkedContents(true);
        QByteArray bytes(12 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 7919 + (i >> 13) * 104729) >> 5);
        const QString file = path(QStringLiteral("large"));
        writeFile(file, bytes);
        ContentStore::Stored base;
        {
            ContentStore::Batch batch(store);
            base = batch.storeChunked(file);
            batch.finish();
        }
        const ChunkList list = ChunkList::read(store, *base.chunks, base.size);
        QVERIFY(list.chunks.size() > 2);
        const ContentHash lost = list.chunks.front().hash;
        QVERIFY(QFile::remove(store.pathFor(lost)));
        bytes[bytes.size() - 10] = char(~bytes[bytes.size() - 10]); // an edit in the last chunk
        writeFile(file, bytes);
        ContentStore::Stored edited;
        {
            ContentStore::Written written(store);
            ContentStore::Batch batch(store, &written);
            ContentStore::KnownChunks known;
            for (const ChunkList::Chunk& chunk : list.chunks)
                known.chunks.insert(chunk.hash);
            known.list = base.chunks;
            edited = batch.storeChunked(file, known);
            batch.finish();
        }
        QVERIFY(store.contains(lost));
        QVERIFY(!store.contains(*edited.chunks));
    }

    // finish() opens every content it wrote by name: one the share lost (gone, or shorter than
    // written) fails it, before anything may name it.
    void finishFailsWhenAWrittenContentIsNotThere()
    {
        for (const bool truncated : {false, true}) {
            ContentStore::Batch batch(*m_store);
            // The first group is moved to its place as soon as it is full.
            for (int i = 0; i < 64; ++i)
                batch.storeBytes(contentNumbered(i + (truncated ? 100 : 0), 100));
            const QString lost = m_store->pathFor(hashBytes(contentNumbered(truncated ? 107 : 7, 100)));
            QVERIFY(QFileInfo::exists(lost));
            if (truncated)
                QVERIFY(QFile::resize(lost, 50));
            else
                QVERIFY(QFile::remove(lost));
            batch.storeBytes("one more");
            QVERIFY(failureKind([&] { batch.finish(); }) == StorageError::Kind::io);
        }
    }

    // Many threads storing through one batch, often the same contents.
    void threadsShareOneBatch()
    {
        for (int i = 0; i < 40; ++i)
            writeFile(path(QStringLiteral("in/%1.bin").arg(i)), contentNumbered(i % 10, 50'000));
        ContentStore::Batch batch(*m_store);
        std::atomic<int> failures = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                try {
                    for (int i = t; i < 40; i += 8) {
                        const auto stored = batch.storeFile(path(QStringLiteral("in/%1.bin").arg(i)));
                        if (stored.hash != hashBytes(contentNumbered(i % 10, 50'000)))
                            ++failures;
                        batch.storeBytes(contentNumbered(100 + i % 5, 64));
                    }
                } catch (...) {
                    ++failures;
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        batch.finish();
        QCOMPARE(failures.load(), 0);
        QCOMPARE(objectsIn(m_storeFolder).size(), 15);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(m_store->readBytes(hashBytes(contentNumbered(i, 50'000)), 1 << 20), contentNumbered(i, 50'000));
        QVERIFY(entriesIn(m_storeFolder + QStringLiteral("/tmp")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(ContentBatchTest)
#include "content_batch_test.moc"
