#include "engine/storage/content_store.h"

#include "engine/support/engine_test_support.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <thread>

using namespace vantrel;
using testing::contentOf;
using testing::writeFile;

namespace {

// A chunk source that answers nothing until it is released, as a share that hangs: every chunk
// a copy-out asks of it and every chunk stored and handed to it holds its thread there.
struct HangingSource : ChunkSource {
    std::mutex mutex;
    std::condition_variable changed;
    int waiting = 0;
    bool released = false;

    void hang()
    {
        std::unique_lock lock(mutex);
        ++waiting;
        changed.wait(lock, [&] { return released; });
        --waiting;
    }
    std::optional<QByteArray> take(const ContentHash&, qint64) override
    {
        hang();
        return std::nullopt;
    }
    void keep(const ContentHash&, const QByteArray&) override { hang(); }
    int waitingNow()
    {
        const std::lock_guard lock(mutex);
        return waiting;
    }
    void release()
    {
        const std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
};

} // namespace

class ChunkBoundsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A team bundle whose share hangs under its check-ins and copy-outs, with every slot of its
    // store taken and more waiting for one, holds up no other bundle's.
    void aHungStoreHoldsUpNoOtherStore()
    {
        QTemporaryDir dir;
        const auto file = [&](const QString& name, const QByteArray& bytes) {
            writeFile(dir.filePath(name), bytes);
            return dir.filePath(name);
        };
        ContentStore hung(dir.filePath(QStringLiteral("hung/objects")));
        ContentStore other(dir.filePath(QStringLiteral("other/objects")));
        QList<ContentStore::Stored> stored;
        {
            ContentStore::Batch batch(hung);
            for (int i = 0; i < 6; ++i)
                stored << batch.storeChunked(file(QStringLiteral("out%1").arg(i), QByteArray(1000, char('a' + i))));
            batch.finish();
        }
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("copies"))));
        const auto source = std::make_shared<HangingSource>();
        hung.setChunkSource(source);

        // More than its bounds (8 chunks held by what it stores, 2 copy-outs, 1 file cut in turn):
        // those over them wait for a slot of the hung store.
        std::atomic<int> failed = 0;
        const auto counted = [&failed](const std::function<void()>& work) {
            try {
                work();
            } catch (const StorageError&) {
                ++failed;
            }
        };
        std::vector<std::thread> threads;
        ContentStore::Batch hungBatch(hung);
        const auto release = [&] {
            source->release();
            for (std::thread& thread : threads) {
                if (thread.joinable())
                    thread.join();
            }
        };
        const auto releaseOnFailure = qScopeGuard(release);
        for (int i = 0; i < 40; ++i) {
            const QString path = file(QStringLiteral("in%1").arg(i), QByteArray::number(i).repeated(100));
            threads.emplace_back([&, path] { counted([&] { hungBatch.storeChunked(path); }); });
        }
        for (const ContentStore::Stored& content : stored) {
            const QString destination = dir.filePath(QStringLiteral("copies/") + content.hash.toHex());
            threads.emplace_back(
                [&, content, destination] { counted([&] { hung.copyOut(content, destination, false); }); });
        }
        QTRY_COMPARE_WITH_TIMEOUT(source->waitingNow(), 8 + 2, 60000);
        for (int i = 0; i < 3; ++i) {
            const QString path = file(QStringLiteral("turn%1").arg(i), QByteArray::number(i).repeated(200));
            threads.emplace_back([&, path] { counted([&] { hungBatch.storeChunkedInTurn(path); }); });
        }

        std::atomic<bool> done = false;
        threads.emplace_back([&] {
            counted([&] {
                ContentStore::Batch batch(other);
                const ContentStore::Stored content = batch.storeChunkedInTurn(file(QStringLiteral("free"), "free"));
                batch.finish();
                other.copyOut(content, dir.filePath(QStringLiteral("free.out")), false);
                done = true;
            });
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 60000);
        QCOMPARE(contentOf(dir.filePath(QStringLiteral("free.out"))), QByteArray("free"));
        release();
        QCOMPARE(failed.load(), 0);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("copies"))).entryList(QDir::Files).size(), 6);
    }
};

QTEST_GUILESS_MAIN(ChunkBoundsTest)
#include "chunk_bounds_test.moc"
