#include "engine/storage/tree_snapshot.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/base_tree.h"
#include "engine/storage/change_watcher.h"
#include "engine/storage/folder_listing.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_cache.h"
#include "engine/storage/tree_listing.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

using namespace posix;

namespace {

qint64 wallClockNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A FUSE file system (sshfs) may answer fstat from attributes cached before a change made
// through another mount, and refresh them only once the file is read: the file would then seem
// to change while it is read. Reading its first byte brings them up to date.
void refreshAttributes(const QString& path)
{
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return; // the read that follows reports it
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::pread(fd, &byte, 1, 0);
    ::close(fd);
}

StorageError tooLarge(const QString& path, const QString& reason)
{
    return StorageError(StorageError::Kind::io, path,
                        QCoreApplication::translate("Engine", "“%1” can’t be kept in a version.").arg(path), reason,
                        QCoreApplication::translate("Engine", "Move some of its folders elsewhere, then try again."));
}

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
};

class Snapshot {
public:
    Snapshot(ContentStore& store, const SnapshotOptions& options)
        : m_store(store),
          m_options(options),
          m_base(store, options.base),
          m_batch(store),
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
    void readFile(WalkedFile& file);
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

int Snapshot::walk(const QString& path, const QString& cacheKey, const QString& relativePath, int depth)
{
    if (depth > treeLimits::maxDepth)
        throw tooLarge(path, QCoreApplication::translate("Engine", "Its folders are nested more than %1 deep.")
                                 .arg(treeLimits::maxDepth));
    const int index = int(m_folders.size());
    m_folders.append(WalkedFolder{relativePath});
    // A folder in which nothing changed is the base's, listed or not.
    if (m_options.changedFolders && !m_options.changedFolders->contains(relativePath)) {
        // A subfolder's hash names a folder; the base's root may be a single file's.
        const auto hash = m_base.folderHash(relativePath);
        const FolderTree* root = relativePath.isEmpty() ? m_base.folder(relativePath) : nullptr;
        if (hash && (!relativePath.isEmpty() || (root && !root->isFile))) {
            if (!changedBelow(relativePath)) {
                m_folders[index].taken = true;
                m_folders[index].hash = *hash;
                return index;
            }
            if (const FolderTree* tree = m_base.folder(relativePath)) {
                takeFromBase(index, *tree, path, cacheKey, depth);
                return index;
            }
        }
    }
    list(index, path, cacheKey, depth);
    return index;
}

bool Snapshot::changedBelow(const QString& relativePath) const
{
    for (const QString& changed : *m_options.changedFolders) {
        if (relativePath.isEmpty() ? !changed.isEmpty()
                                   : changed.size() > relativePath.size() && changed.startsWith(relativePath)
                                         && changed.at(relativePath.size()) == u'/')
            return true;
    }
    return false;
}

// The folder's own entries are the base's; its subfolders are walked, since something below
// changed.
void Snapshot::takeFromBase(int index, const FolderTree& tree, const QString& path, const QString& cacheKey, int depth)
{
    countEntries(tree.entries.size(), path);
    const QString relativePath = m_folders[index].relativePath;
    for (const FolderEntry& entry : tree.entries) {
        Node node{entry};
        if (entry.kind == FolderEntry::Kind::directory) {
            const QString child = relativePath.isEmpty() ? entry.name : relativePath + u'/' + entry.name;
            if (m_options.excludeDirectory && m_options.excludeDirectory(child))
                continue;
            node.folder = walk(path + u'/' + entry.name, cacheKey + u'/' + entry.name, child, depth + 1);
        }
        m_folders[index].nodes.append(std::move(node));
    }
}

void Snapshot::list(int index, const QString& path, const QString& cacheKey, int depth)
{
    QList<QByteArray> rawNames;
    std::vector<listing::Looked> looked;
    if (const auto listed = m_listed.find(path); listed != m_listed.end()) {
        rawNames = std::move(listed->names);
        looked = std::move(listed->looked);
        m_listed.erase(listed);
    } else {
        rawNames = listing::listFolder(path, source());
        looked = listing::lookAll(path, rawNames, source());
    }
    // By name, as the folder's tree holds them.
    QList<std::pair<QString, qsizetype>> names;
    names.reserve(rawNames.size());
    for (qsizetype i = 0; i < rawNames.size(); ++i) {
        const QString name = QFile::decodeName(rawNames.at(i));
        if (QFile::encodeName(name) != rawNames.at(i) || !isValidManifestName(name))
            throw listing::unsupportedName(path + u'/' + name);
        names.append({name, i});
    }
    std::sort(names.begin(), names.end());
    countEntries(names.size(), path);

    const QString relativeFolder = m_folders[index].relativePath;
    for (const auto& [name, rawIndex] : std::as_const(names)) {
        const QString itemPath = path + u'/' + name;
        const QString relativePath = relativeFolder.isEmpty() ? name : relativeFolder + u'/' + name;
        const listing::Looked& item = looked[size_t(rawIndex)];
        if (item.error)
            throw StorageError::fromErrno(item.error, itemPath, QStringLiteral("lstat"));
        const struct stat& status = item.status;
        FolderEntry entry{name};
        if (S_ISDIR(status.st_mode)) {
            if (m_options.excludeDirectory && m_options.excludeDirectory(relativePath))
                continue;
            entry.kind = FolderEntry::Kind::directory;
            const int folder = walk(itemPath, cacheKey + u'/' + name, relativePath, depth + 1);
            m_folders[index].nodes.append(Node{std::move(entry), folder});
        } else if (S_ISLNK(status.st_mode)) {
            entry.kind = FolderEntry::Kind::symlink;
            entry.target = listing::readLinkText(itemPath, status);
            m_folders[index].nodes.append(Node{std::move(entry)});
        } else if (S_ISREG(status.st_mode)) {
            addFile(index, std::move(entry), itemPath, cacheKey + u'/' + name, status);
        } else if (m_options.skippedSpecialFiles) {
            m_options.skippedSpecialFiles->append(relativePath);
        } else {
            throw listing::unsupportedKind(itemPath);
        }
    }
}

void Snapshot::addFile(int folder, FolderEntry entry, const QString& path, const QString& cacheKey,
                       const struct stat& status)
{
    entry.kind = FolderEntry::Kind::file;
    entry.size = status.st_size;
    entry.executable = (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
    WalkedFile file;
    file.path = path;
    file.cacheKey = cacheKey;
    file.observed = StatCache::Entry::fromStat(status);
    file.folder = folder;
    file.node = m_folders[folder].nodes.size();
    file.size = status.st_size;
    m_folders[folder].nodes.append(Node{std::move(entry), -1, int(m_files.size())});
    m_files.append(std::move(file));
}

void Snapshot::countEntries(qsizetype count, const QString& path)
{
    m_entryCount += count;
    if (m_entryCount > treeLimits::maxEntries)
        throw tooLarge(
            path, QCoreApplication::translate("Engine", "It holds more than %1 items.").arg(treeLimits::maxEntries));
}

// Files the cache knows are taken as it has them; the others are read, those the base has with
// the same size hashed first, so that nothing is written when they turn out unchanged.
void Snapshot::readFiles()
{
    qint64 totalBytes = 0;
    qint64 cachedBytes = 0;
    QList<int> toRead;
    for (int index = 0; index < m_files.size(); ++index) {
        WalkedFile& file = m_files[index];
        totalBytes += file.observed.size;
        if (m_trustCache) {
            if (const auto hash = m_options.cache->unchangedHash(file.cacheKey, file.observed)) {
                file.state = WalkedFile::State::cached;
                file.hash = *hash;
                cachedBytes += file.observed.size;
                continue;
            }
        }
        const WalkedFolder& folder = m_folders[file.folder];
        const FolderEntry* before = nullptr;
        if (folder.isFile) {
            const FolderTree* root = m_base.folder(QString());
            before = root && root->isFile ? &root->entries.first() : nullptr;
        } else {
            before = m_base.entry(folder.relativePath, folder.nodes.at(file.node).entry.name);
        }
        if (before && before->kind == FolderEntry::Kind::file && before->size == file.observed.size)
            file.expected = before->hash;
        toRead.append(index);
    }
    WalkedFile* const files = m_files.data(); // workers must not touch the list itself
    runInParallel(
        toRead.size(),
        [&](qsizetype job) {
            WalkedFile& file = files[toRead.at(job)];
            readFile(file);
            return file.size;
        },
        totalBytes, m_options.progress, cachedBytes);
}

void Snapshot::readFile(WalkedFile& file)
{
    if (!m_local)
        refreshAttributes(file.path);
    ContentStore::Stored stored;
    if (file.expected) {
        stored = m_store.hashFile(file.path);
        if (stored.hash == *file.expected)
            file.state = WalkedFile::State::fromBase;
        else if (m_store.reuseIntact(stored.hash, stored.size))
            file.state = WalkedFile::State::stored;
        else
            stored = m_batch.storeFile(file.path);
    } else {
        stored = m_batch.storeFile(file.path);
    }
    if (file.state != WalkedFile::State::fromBase)
        file.state = WalkedFile::State::stored;
    file.hash = stored.hash;
    file.size = stored.size;
    record(file);
}

void Snapshot::record(const WalkedFile& file)
{
    if (!m_options.cache)
        return;
    if (file.size == file.observed.size) {
        StatCache::Entry entry = file.observed;
        entry.hash = file.hash;
        // When the listing began, so before the file was looked at: a write after that moves
        // its modification time past this.
        entry.recordedNs = m_startedNs;
        m_options.cache->record(file.cacheKey, entry);
    } else {
        m_options.cache->forget(file.cacheKey);
    }
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

} // namespace

ContentHash snapshotTree(const QString& source, ContentStore& store, const SnapshotOptions& options)
{
    Snapshot snapshot(store, options);
    return snapshot.take(source);
}

void waitForFileLookups()
{
    listing::waitForLookups();
}

} // namespace vantrel
