// Walking a tree for a snapshot: listing folders, or taking them from the base version.

#include "engine/storage/snapshot.h"

#include "engine/storage/storage_error.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <sys/stat.h>

namespace vantrel::snapshot {

namespace {

StorageError tooLarge(const QString& path, const QString& reason)
{
    return StorageError(StorageError::Kind::io, path,
                        QCoreApplication::translate("Engine", "“%1” can’t be kept in a version.").arg(path), reason,
                        QCoreApplication::translate("Engine", "Move some of its folders elsewhere, then try again."));
}

} // namespace

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

} // namespace vantrel::snapshot
