#pragma once

// What the content store's files share: the temporary file a content is written to before it is
// moved to its place, and small helpers.

#include "engine/storage/atomic_file.h"
#include "engine/storage/content_store.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <functional>
#include <mutex>
#include <semaphore>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vantrel {

namespace content_store {

inline QString temporaryFolder(const QString& storeFolder)
{
    return storeFolder + QStringLiteral("/tmp");
}

// Contents whose hash is known before they are written go to a temporary file in their own shard
// folder, named with this prefix, so that moving it to its place is a rename within one folder.
inline const QString shardTemporaryPrefix = QStringLiteral(".tmp-");

inline qint64 nanoseconds(const timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// Opens the regular file `path` for reading (a symbolic link is refused) and notes its state.
// O_NONBLOCK keeps a FIFO put in place of the file from blocking the open; regular files ignore it.
posix::UniqueFd openSource(const QString& path, struct stat& before);
// Fails when the file read as `source`, `size` bytes in all, changed since `before`.
void checkUnchanged(int source, const QString& path, const struct stat& before, qint64 size);
// Creates the file `destination`, which must not exist, and has `write` fill it; then flushes it
// to disk (`synchronize`) or starts its write-out. On any failure it is removed and the error
// is rethrown.
void writeDestination(const QString& destination, bool executable, bool synchronize,
                      const std::function<void(int fd)>& write);

} // namespace content_store

// Bounds on the chunks one store holds in memory, each team bundle's its own: a share that hangs
// holds only its own slots. A process with several bundles open holds at most these for each
// bundle storing or copying out at once.
struct ContentStore::ChunkBounds {
    // Chunks held by every file being stored at once (Batch::storeChunked()): a package of many
    // large files, read in parallel, holds at most this many (some 4 MiB, 32 MiB at the very
    // most), besides the block each file is read in (4 MiB) and the part of a chunk it carries.
    static constexpr std::ptrdiff_t storing = 8;
    // Chunked copy-outs running at once: each holds what it fetched ahead (at most 9 chunks, or
    // in format 4 five spans of 1 MiB or of one larger chunk: some 5 MiB, 20 MiB at the very
    // most), so that writing a tree of many large files in parallel still holds a bounded number.
    // Two: the other threads of a tree's copy-out copy its small files meanwhile.
    static constexpr std::ptrdiff_t copies = 2;
    // Files cut into chunks at once (Batch::storeChunkedInTurn()): each holds its read block and
    // hashes its chunks on threads of its own, so one keeps the disk busy, read front to back,
    // while the other threads store the small files; a package of many large files read in
    // parallel would otherwise hold a block and a set of threads for each.
    static constexpr std::ptrdiff_t cutting = 1;

    std::counting_semaphore<> heldChunks{storing};
    std::counting_semaphore<> runningCopies{copies};
    std::counting_semaphore<> cuttingFiles{cutting};
};

// An object of a failed change to remove, and where it stands: renamed aside already (`aside`),
// found relied on there, so that it goes back to its name (`putBack`), or removed.
struct ContentStore::NotedObject {
    OwnObject object;
    QString aside;
    bool putBack = false;
    bool removed = false;
};

// The temporary files of this process that could not be removed (the share was gone): removed
// again by removeOwnTemporaries(), at the next poll that reaches the share. So are the objects
// of failed changes (see Written) whose removal could not be decided, up to a bound.
struct ContentStore::Leftovers {
    std::mutex mutex;
    QStringList paths;
    bool earlierRunsRemoved = false;

    std::vector<NotedObject> objects;
    // The objects a failed change may remove, by how many changes of this process hold each,
    // and those of them this process found stored and relied on since: they stay. A touch in
    // the same second as the install is not seen in the times of a share that keeps them to
    // the second (sshfs), this is.
    QHash<ContentHash, int> removable;
    QSet<ContentHash> reused;
    std::atomic<int> removableCount = 0;

    void noteReused(const ContentHash& hash) noexcept
    {
        if (removableCount.load(std::memory_order_relaxed) == 0)
            return;
        try {
            std::lock_guard lock(mutex);
            if (removable.contains(hash))
                reused.insert(hash);
        } catch (...) {
            // Only allocation can fail.
        }
    }
    // Settles an object of a failed change (kept, removed or put back); called with `mutex` held.
    void settle(const ContentHash& hash)
    {
        const auto found = removable.find(hash);
        if (found == removable.end())
            return;
        if (--found.value() <= 0) {
            removable.erase(found);
            reused.remove(hash);
            removableCount.fetch_sub(1, std::memory_order_relaxed);
        }
    }

    void note(QString path) noexcept
    {
        try {
            std::lock_guard lock(mutex);
            paths.append(std::move(path));
        } catch (...) {
            // Only allocation can fail: the file is removed at the next start instead.
        }
    }
};

struct ContentStore::Temporary {
    QString path;
    posix::UniqueFd fd;
    Leftovers* leftovers = nullptr;

    Temporary() = default;
    Temporary(QString path, posix::UniqueFd fd, Leftovers* leftovers)
        : path(std::move(path)),
          fd(std::move(fd)),
          leftovers(leftovers)
    {
    }
    Temporary(Temporary&&) = default;
    Temporary& operator=(Temporary&& other) noexcept
    {
        if (this != &other) {
            discard();
            path = std::exchange(other.path, QString());
            fd = std::move(other.fd);
            leftovers = other.leftovers;
        }
        return *this;
    }
    ~Temporary() { discard(); }
    void discard() noexcept
    {
        fd = posix::UniqueFd();
        if (path.isEmpty())
            return;
        QString removed = std::exchange(path, QString());
        int result;
        do {
            result = ::unlink(posix::nativePath(removed).constData());
        } while (result != 0 && errno == EINTR);
        // Also "not there": an unmounted share shows its empty mount point.
        if (result != 0 && leftovers)
            leftovers->note(std::move(removed));
    }
    // The file is now somewhere else (or was dropped on purpose): don't remove it.
    void release() { path.clear(); }
};

} // namespace vantrel
