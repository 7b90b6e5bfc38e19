// Snapshots of a tree: walking it (snapshot_walk.cpp), reading its files
// (snapshot_reading.cpp), then assembling and storing its folder trees, here.

#include "engine/storage/tree_snapshot.h"

#include "engine/storage/snapshot.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/change_watcher.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_cache.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <sys/stat.h>

namespace vantrel {

using namespace posix;

namespace snapshot {

qint64 wallClockNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Every folder's tree and hash, deepest first.
void Snapshot::computeHashes()
{
    for (qsizetype index = m_folders.size() - 1; index >= 0; --index) {
        WalkedFolder& folder = m_folders[index];
        if (folder.taken)
            continue;
        FolderTree tree;
        tree.isFile = folder.isFile;
        tree.entries.reserve(folder.nodes.size());
        for (Node& node : folder.nodes) {
            if (node.folder >= 0) {
                node.entry.hash = m_folders.at(node.folder).hash;
            } else if (node.file >= 0) {
                node.entry.hash = m_files.at(node.file).hash;
                node.entry.size = m_files.at(node.file).size;
                node.entry.chunks = m_files.at(node.file).chunks;
            }
            tree.entries.append(node.entry);
        }
        folder.json = tree.toJson();
        folder.hash = hashBytes(folder.json);
        folder.tree = std::make_shared<const FolderTree>(std::move(tree));
    }
}

// Finds the trees the base does not use, which are to be stored, and the files taken from the
// cache whose contents the base does not use, which must be kept from garbage collection.
void Snapshot::cover(int index, const std::optional<ContentHash>& baseHash, QList<int>& unprotected,
                     QList<int>& toStore)
{
    const WalkedFolder& folder = m_folders.at(index);
    if (folder.taken || (baseHash && folder.hash == *baseHash) || m_base.usesTree(folder.hash))
        return;
    toStore.append(index);
    const FolderTree* before = m_base.folder(folder.relativePath);
    for (const Node& node : folder.nodes) {
        if (node.folder >= 0) {
            const FolderEntry* entry = before && !before->isFile ? findEntry(*before, node.entry.name) : nullptr;
            cover(node.folder,
                  entry && entry->kind == FolderEntry::Kind::directory ? std::optional(entry->hash) : std::nullopt,
                  unprotected, toStore);
        } else if (node.file >= 0) {
            const WalkedFile& file = m_files.at(node.file);
            if (file.state == WalkedFile::State::cached && !m_base.usesContent(file.hash))
                unprotected.append(node.file);
        }
    }
}

// Touches the stored contents of `unprotected` files; those that are not stored (any more) are
// read and stored again. Whether any of them turned out to hold something else.
bool Snapshot::keepCachedFiles(const QList<int>& unprotected)
{
    std::atomic<bool> changed = false;
    WalkedFile* const files = m_files.data();
    runInParallel(unprotected.size(),
                  [&](qsizetype job) {
                      WalkedFile& file = files[unprotected.at(job)];
                      if (!m_store.refresh(file.hash)) {
                          const ContentStore::Stored stored = m_batch.storeFile(file.path);
                          if (stored.hash != file.hash || stored.size != file.size)
                              changed = true;
                          file.hash = stored.hash;
                          file.size = stored.size;
                          record(file);
                      }
                      file.state = WalkedFile::State::stored;
                      return qint64(0);
                  },
                  0, {});
    return changed;
}

ContentHash Snapshot::take(const QString& source)
{
    const QByteArray nativeSource = nativePath(source);
    struct stat status {};
    if (::lstat(nativeSource.constData(), &status) != 0)
        throw StorageError::fromErrno(errno, source, QStringLiteral("lstat"));
    if (S_ISLNK(status.st_mode))
        throw StorageError(
            StorageError::Kind::io, source,
            QCoreApplication::translate("Engine", "“%1” is a symbolic link, not a file or folder.").arg(source),
            std::nullopt, QCoreApplication::translate("Engine", "Choose the file or folder that the link points to."));

    const QString cacheKey = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
    m_local = !whyNotLocalFileSystem(source);
    m_trustCache = m_options.cache && m_local;
    if (S_ISREG(status.st_mode)) {
        m_folders.append(WalkedFolder{QString(), true});
        addFile(0, FolderEntry(), source, cacheKey, status);
    } else if (S_ISDIR(status.st_mode)) {
        // Without the folders that changed, every folder is walked.
        if (!m_options.changedFolders)
            m_listed = listing::listTreeAhead(source, m_options.excludeDirectory, this->source());
        walk(source, cacheKey, QString(), 0);
    } else {
        throw listing::unsupportedKind(source);
    }

    readFiles();
    QList<int> toStore;
    for (;;) {
        computeHashes();
        QList<int> unprotected;
        toStore.clear();
        cover(0, m_base.rootHash(), unprotected, toStore);
        // A file stored again that turned out to hold something else changes its folders.
        if (unprotected.isEmpty() || !keepCachedFiles(unprotected))
            break;
    }
    WalkedFolder* const folders = m_folders.data();
    runInParallel(toStore.size(),
                  [&](qsizetype job) {
                      m_batch.storeBytes(folders[toStore.at(job)].json);
                      return qint64(0);
                  },
                  0, {});
    // Before the cache (or anyone given the hash) relies on what was stored.
    m_batch.finish();
    // The next version made from this one starts from these.
    for (const int index : std::as_const(toStore))
        m_store.recentTrees().insert(m_folders.at(index).hash, m_folders.at(index).tree);

    if (m_options.cache && m_options.saveCache && !m_files.isEmpty()) {
        try {
            m_options.cache->save();
        } catch (const StorageError&) {
            // Only a cache: the next snapshot reads the files again.
        }
    }
    return m_folders.first().hash;
}

} // namespace snapshot

ContentHash snapshotTree(const QString& source, ContentStore& store, const SnapshotOptions& options)
{
    snapshot::Snapshot snapshot(store, options);
    return snapshot.take(source);
}

void waitForFileLookups()
{
    listing::waitForLookups();
}

} // namespace vantrel
