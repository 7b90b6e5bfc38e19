// The local cache of chunks: what it gives back, what it drops, and what it holds at most.

#include "engine/storage/chunks/chunk_cache.h"

#include "engine/support/engine_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <sys/stat.h>
#include <thread>

using namespace vantrel;
using testing::noise;
using testing::setAge;
using testing::writeFile;

namespace {

QString entryOf(const QString& folder, const ContentHash& hash)
{
    return folder + u'/' + hash.toHex().left(2) + u'/' + hash.toHex();
}

bool present(const QString& path)
{
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

qint64 heldBytes(const QString& folder)
{
    qint64 total = 0;
    for (const QFileInfo& shard : QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (shard.fileName() != QLatin1String("tmp"))
            for (const QFileInfo& entry : QDir(shard.filePath()).entryInfoList(QDir::Files))
                total += entry.size();
    return total;
}

} // namespace

class ChunkCacheTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void givesBackWhatItKeptAndNothingElse()
    {
        QTemporaryDir dir;
        const QString folder = ChunkCache::folderFor(dir.path(), QStringLiteral("team-1"));
        QCOMPARE(folder, dir.path() + QStringLiteral("/chunks/team-1"));
        // A team id read from the share never becomes a path.
        QVERIFY(!ChunkCache::folderFor(dir.path(), QStringLiteral("../../x")).contains(QStringLiteral("..")));
        QVERIFY(ChunkCache::defaultBound(folder) >= 256 * 1024 * 1024);

        ChunkCache cache(folder, 1 << 30);
        const QByteArray bytes = noise(1, 300000);
        const ContentHash hash = hashBytes(bytes);
        QVERIFY(!cache.take(hash, bytes.size()));
        cache.keep(hash, bytes);
        cache.waitUntilIdle();
        QCOMPARE(cache.take(hash, bytes.size()), bytes);
        QCOMPARE(cache.take(hash, bytes.size()), bytes);
        QVERIFY(QDir(folder + QStringLiteral("/tmp")).isEmpty());
        // Asked for at another size (a chunk list that does not match): absent, and dropped.
        QVERIFY(!cache.take(hash, bytes.size() - 1));
        QVERIFY(!present(entryOf(folder, hash)));
        QVERIFY(!cache.take(hash, ChunkCache::largestEntry + 1));

        // More than may wait to be written: keep() waits for room, and every chunk is served,
        // from memory or from its entry, then written.
        std::vector<QByteArray> many;
        for (int index = 0; index < 70; ++index) {
            many.push_back(noise(900 + index, 1 << 20));
            cache.keep(hashBytes(many.back()), many.back());
            QVERIFY(cache.take(hashBytes(many.front()), 1 << 20) == many.front());
        }
        cache.waitUntilIdle();
        for (const QByteArray& bytes : many)
            QVERIFY(present(entryOf(folder, hashBytes(bytes))));
    }

    void damagedEntriesAreAbsentAndDropped()
    {
        QTemporaryDir dir;
        ChunkCache cache(dir.path(), 1 << 30);
        const QByteArray bytes = noise(2, 70000);
        const ContentHash hash = hashBytes(bytes);
        const QString entry = entryOf(dir.path(), hash);
        const QString elsewhere = dir.path() + QStringLiteral("/elsewhere");
        writeFile(elsewhere, bytes);

        QByteArray flipped = bytes;
        flipped[35000] = char(flipped[35000] ^ 0x01);
        const std::vector<std::pair<const char*, std::function<void()>>> damages{
            {"flipped byte", [&] { writeFile(entry, flipped); }},
            {"truncated", [&] { QFile(entry).resize(bytes.size() / 2); }},
            {"grown", [&] { writeFile(entry, bytes + "x"); }},
            // A link to a good copy is not followed: the cache holds only its own files.
            {"link", [&] { testing::plantLink(entry, elsewhere); }},
            {"folder",
             [&] {
                 QFile::remove(entry);
                 QDir().mkpath(entry + QStringLiteral("/inner"));
             }},
        };
        for (const auto& [what, damage] : damages) {
            cache.keep(hash, bytes);
            cache.waitUntilIdle();
            QCOMPARE(cache.take(hash, bytes.size()), bytes);
            damage();
            QVERIFY2(!cache.take(hash, bytes.size()), what);
            QVERIFY2(!present(entry), what);
            cache.keep(hash, bytes);
            cache.waitUntilIdle();
            QVERIFY2(cache.take(hash, bytes.size()) == bytes, what);
            QFile::remove(entry);
        }
        QCOMPARE(testing::contentOf(elsewhere), bytes);
    }

    void survivesItsFolderDeleted()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + QStringLiteral("/chunks/team");
        ChunkCache cache(folder, 1 << 30);
        const QByteArray bytes = noise(3, 5000);
        const ContentHash hash = hashBytes(bytes);
        cache.keep(hash, bytes);
        cache.waitUntilIdle();
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(!cache.take(hash, bytes.size()));
        cache.keep(hash, bytes);
        cache.waitUntilIdle();
        QCOMPARE(cache.take(hash, bytes.size()), bytes);
        // A folder that can't be made: kept nowhere, nothing thrown.
        writeFile(dir.path() + QStringLiteral("/file"), "x");
        ChunkCache blocked(dir.path() + QStringLiteral("/file/chunks"), 1 << 30);
        blocked.keep(hash, bytes);
        blocked.waitUntilIdle();
        QVERIFY(!blocked.take(hash, bytes.size()));
    }

    // Which chunks a user holds is theirs to know: the folders are open to them alone, also those
    // an earlier release made open to everyone.
    void foldersArePrivate()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + QStringLiteral("/chunks/team");
        const auto mode = [](const QString& path) {
            struct stat status {};
            return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 0777 : 0;
        };
        const QByteArray bytes = noise(5, 5000);
        const ContentHash hash = hashBytes(bytes);
        {
            ChunkCache cache(folder, 1 << 30);
            cache.keep(hash, bytes);
            cache.waitUntilIdle();
        }
        const QString shard = QFileInfo(entryOf(folder, hash)).path();
        for (const QString& made : {folder, folder + QStringLiteral("/tmp"), shard}) {
            QCOMPARE(mode(made), 0700u);
            QVERIFY(QFile::setPermissions(made, QFile::permissions(made) | QFile::ReadOther | QFile::ExeOther));
        }
        ChunkCache cache(folder, 1 << 30);
        cache.waitUntilIdle(); // the first trim lists the folder
        for (const QString& made : {folder, folder + QStringLiteral("/tmp"), shard})
            QCOMPARE(mode(made), 0700u);
    }

    void dropsTheLeastRecentlyUsedOverItsBound()
    {
        QTemporaryDir dir;
        constexpr qint64 chunk = 100000;
        constexpr qint64 bound = 10 * chunk;
        std::vector<QByteArray> chunks;
        std::vector<ContentHash> hashes;
        {
            ChunkCache cache(dir.path(), bound);
            cache.waitUntilIdle();
            for (int index = 0; index < 8; ++index) {
                chunks.push_back(noise(100 + index, chunk));
                hashes.push_back(hashBytes(chunks.back()));
                cache.keep(hashes.back(), chunks.back());
                cache.waitUntilIdle();
                setAge(entryOf(dir.path(), hashes.back()), 1000 - index); // the first kept is the oldest
            }
            QVERIFY(cache.take(hashes[0], chunk)); // used now: the last to go
            for (int index = 8; index < 14; ++index) {
                chunks.push_back(noise(100 + index, chunk));
                hashes.push_back(hashBytes(chunks.back()));
                cache.keep(hashes.back(), chunks.back());
                cache.waitUntilIdle();
            }
            cache.waitUntilIdle();
            QVERIFY(heldBytes(dir.path()) <= bound);
            QCOMPARE(cache.take(hashes[0], chunk), chunks[0]);
            QVERIFY(!present(entryOf(dir.path(), hashes[1])));
            QVERIFY(!present(entryOf(dir.path(), hashes[2])));
            QCOMPARE(cache.take(hashes[13], chunk), chunks[13]);
        }
        // A smaller bound given later: the folder is brought under it when opened.
        ChunkCache smaller(dir.path(), 3 * chunk);
        smaller.waitUntilIdle();
        QVERIFY(heldBytes(dir.path()) <= 3 * chunk);
        QCOMPARE(smaller.take(hashes[13], chunk), chunks[13]);
    }

    void keepsAndTakesTheSameChunksFromTwoThreads()
    {
        QTemporaryDir dir;
        // Two caches over one folder, as two processes of this user: each writes every chunk
        // afresh while the other may be renaming its own copy into place.
        ChunkCache one(dir.path(), 1 << 30);
        ChunkCache two(dir.path(), 1 << 30);
        std::vector<QByteArray> chunks;
        for (int index = 0; index < 200; ++index)
            chunks.push_back(noise(500 + index, 20000 + index));
        std::atomic<int> wrong{0};
        const auto work = [&](ChunkCache& cache) {
            for (const QByteArray& bytes : chunks) {
                const ContentHash hash = hashBytes(bytes);
                cache.keep(hash, bytes);
                if (cache.take(hash, bytes.size()) != bytes)
                    ++wrong;
            }
        };
        std::thread first(work, std::ref(one));
        std::thread second(work, std::ref(two));
        first.join();
        second.join();
        one.waitUntilIdle();
        two.waitUntilIdle();
        QCOMPARE(wrong.load(), 0);
        QVERIFY(QDir(dir.path() + QStringLiteral("/tmp")).isEmpty());
        // What they wrote, read by a third.
        ChunkCache three(dir.path(), 1 << 30);
        for (const QByteArray& bytes : chunks)
            QVERIFY(three.take(hashBytes(bytes), bytes.size()) == bytes);
    }
};

QTEST_GUILESS_MAIN(ChunkCacheTest)
#include "chunk_cache_test.moc"
