// The state of one snapshot of a tree: the folders walked and the files found, shared by the
// walk, the reading of files and the assembly of trees (tree_snapshot.cpp).
#pragma once

#include "engine/storage/base_tree.h"
#include "engine/storage/content_store.h"
#include "engine/storage/folder_listing.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/tree_listing.h"
#include "engine/storage/tree_snapshot.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <sys/stat.h>

namespace vantrel::snapshot {

// The time now, in nanoseconds since the epoch.
qint64 wallClockNs();

// One item of a walked folder.
struct Node {
    FolderEntry entry;
    int folder = -1; // a subfolder: its index among the walked folders
    int file = -1;   // a file that was listed: its index among the walked files
};

struct WalkedFolder {
    QString relativePath;
    bool isFile = false; // the root of a single-file source
    // Taken whole from the base: `hash` is its tree there and nothing below it was walked.
    bool taken = false;
    QList<Node> nodes; // sorted by name
    ContentHash hash;
    QByteArray json;
    std::shared_ptr<const FolderTree> tree;
};

struct WalkedFile {
    enum class State {
        unread,
        cached,   // the stat cache gave its hash: stored, but perhaps not kept for long
        fromBase, // read, and found as the base has it
        stored,   // read, and stored or found stored (and touched)
    };
    QString path;
    QString cacheKey;
    StatCache::Entry observed;
    int folder = 0;
    qsizetype node = 0;
    State state = State::unread;
    ContentHash hash;
    qint64 size = 0;
    // What the base has at this path when it is a file of the same size: hashed before storing.
    std::optional<ContentHash> expected;
    // Stored in chunks: its chunk list.
    std::optional<ContentHash> chunks;
    // The base's file at this path, when stored in chunks: its chunk list and size. Its chunks
    // are not written again nor looked for in the store.
    std::optional<ContentHash> baseChunks;
    qint64 baseSize = 0;
};

class Snapshot {
public:
    Snapshot(ContentStore& store, const SnapshotOptions& options)
        : m_store(store),
          m_options(options),
          m_base(store, options.base),
          m_batch(store, options.written),
          m_startedNs(wallClockNs())
    {
    }

    ContentHash take(const QString& source);

private:
    int walk(const QString& path, const QString& cacheKey, const QString& relativePath, int depth);
    bool changedBelow(const QString& relativePath) const;
    void takeFromBase(int index, const FolderTree& tree, const QString& path, const QString& cacheKey, int depth);
    void list(int index, const QString& path, const QString& cacheKey, int depth);
    void addFile(int folder, FolderEntry entry, const QString& path, const QString& cacheKey,
                 const struct stat& status);
    void countEntries(qsizetype count, const QString& path);

    void readFiles();
    const FolderEntry* baseEntry(const WalkedFile& file);
    bool storedInChunks(const WalkedFile& file) const;
    void readFile(WalkedFile& file);
    void readChunked(WalkedFile& file);
    void record(const WalkedFile& file);
    void computeHashes();
    void cover(int index, const std::optional<ContentHash>& baseHash, QList<int>& unprotected, QList<int>& toStore);
    bool keepCachedFiles(const QList<int>& unprotected);

    ContentStore& m_store;
    const SnapshotOptions& m_options;
    BaseTree m_base;
    // Everything is stored through it: the snapshot waits for the disk once, at its end.
    ContentStore::Batch m_batch;
    const qint64 m_startedNs;
    // Whether a file may be taken as unchanged from the stat cache. Not on a network or FUSE
    // file system: what lstat says there may lag a change made through another mount (sshfs
    // keeps attributes for 20 s), so every file is read, and hashed before anything is written.
    bool m_trustCache = false;
    bool m_local = true; // whether the source is on a local file system
    listing::Source source() const { return m_local ? listing::Source::local : listing::Source::network; }
    QList<WalkedFolder> m_folders; // each folder before the folders below it
    QList<WalkedFile> m_files;
    qint64 m_entryCount = 0;
    QHash<QString, listing::Listed> m_listed; // by path; taken by the walk
};

} // namespace vantrel::snapshot
