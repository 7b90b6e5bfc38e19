#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vantrel {

// Whether every change to files of a file system of this type (statfs's f_type) goes through
// this kernel: local disks and memory. A network or FUSE file system can be changed through
// another mount (another machine logged into the same home) without inotify seeing it, and may
// answer lstat from a cache that lags such a change by seconds.
bool isLocalFileSystemType(quint64 type);
// Nullopt when `path` is on a local file system; otherwise why it isn't, for the log.
std::optional<QString> whyNotLocalFileSystem(const QString& path);

// Watches working copies on the local disk with inotify and records, for each, the folders in
// which something changed since the version it was written from: a check-in then lists only
// those and takes every other folder from that version.
//
// A watch is continuous from watch() on: it stops counting as such (the working copy is
// forgotten and queries answer nullopt, meaning "walk everything") when the queue of changes
// overflows, a folder can't be watched (the system's limit of watches, permissions, a name
// that isn't valid text), the working copy is moved, removed or replaced, or its watch ends
// for any other reason. A working copy that is not on a local file system, or that has another
// file system mounted inside it, is never watched. Nothing is persisted: a new process knows of no working copy.
//
// Changed folder: something directly inside it was added, removed, renamed, written or had
// its attributes changed. A folder that appears (created, or moved in) counts as changed with
// every folder below it, since the version knows nothing of it.
//
// Thread-safe. Every query first reads what the kernel has queued, so a change made before the
// query began is always in its answer.
class ChangeWatcher {
public:
    // The watcher of this process (one inotify instance), made on first use and kept while
    // anybody holds it.
    static std::shared_ptr<ChangeWatcher> shared();

    ChangeWatcher();
    ~ChangeWatcher();
    ChangeWatcher(const ChangeWatcher&) = delete;
    ChangeWatcher& operator=(const ChangeWatcher&) = delete;

    // Starts watching the folder `root`, whose contents are now exactly those of the version
    // `base` (an id the caller chooses), for `owner`. A watch of the same folder is replaced.
    // Returns whether the watch is in place; when it isn't, the reason is whyNotWatched().
    bool watch(const QString& root, const QString& base, const void* owner);
    void unwatch(const QString& root);
    // Stops watching `root` at once, as unwatch() does, but leaves the kernel's watches (one per
    // folder, each a system call to remove) to the job returned, which may run on any thread,
    // even after the watcher is gone. It must run before anything in `root` is removed, or the
    // kernel queues a change for every item removed.
    std::function<void()> release(const QString& root);
    // Stops every watch that `owner` started.
    void unwatchAll(const void* owner);

    // The folders changed since the base version (relative paths, "" for the root), or nullopt
    // when the watch of `root` is not continuous.
    std::optional<QSet<QString>> changedFolders(const QString& root);
    // Why `root` is not watched any more, when its watch was lost.
    std::optional<QString> whyNotWatched(const QString& root) const;

    // What a check-in takes from the watch: the base version and the folders changed since.
    struct Taken {
        QString base;
        QSet<QString> folders;
        quint64 generation = 0; // of the watch it was taken from
    };
    // Atomically the changes recorded so far, leaving an empty set that goes on recording what
    // comes next (a change made while the caller walks is thus never lost). Nullopt when the
    // watch is not continuous.
    std::optional<Taken> take(const QString& root);
    // After a check-in that failed: the taken folders count as changed again.
    void putBack(const QString& root, const Taken& taken);
    // After a check-in that stored the working copy as version `newBase`: the watch now counts
    // from it. What arrived since the take stays recorded (it may or may not be in `newBase`).
    void settle(const QString& root, const Taken& taken, const QString& newBase);

    // For tests: acts as if the kernel's queue of changes had overflowed.
    void simulateOverflowForTesting();
    // For tests: how many watches the kernel holds for this watcher.
    int kernelWatchesForTesting() const;
    // For tests: at most `limit` folders are watched (below zero: no limit of its own); more
    // fail as when the system's limit of watches is reached.
    void setWatchLimitForTesting(int limit);

private:
    struct Root {
        QString base;
        quint64 generation = 0;
        const void* owner = nullptr;
        quint64 device = 0;
        quint64 inode = 0;
        QSet<QString> changed;
        QSet<int> watches;
    };
    struct Folder {
        QString root;
        QString path; // relative to the root
    };

    void readLoop();
    void drainLocked();
    void handleLocked(int wd, quint32 mask, const QByteArray& name);
    bool addTreeLocked(const QString& rootKey, const QString& relative, bool markChanged);
    void removeTreeLocked(const QString& rootKey, const QString& relative);
    void loseLocked(const QString& rootKey, const QString& reason);
    void forgetLocked(const QString& rootKey);
    Root* continuousLocked(const QString& rootKey);

    int m_fd = -1;
    int m_stopFd = -1;
    int m_initError = 0;
    mutable std::mutex m_mutex;
    QHash<QString, Root> m_roots;
    QHash<int, Folder> m_folders;
    QHash<QString, QString> m_lost; // root -> why its watch was lost
    quint64 m_nextGeneration = 1;
    int m_watchLimit = -1;
    std::thread m_reader;
};

} // namespace vantrel
