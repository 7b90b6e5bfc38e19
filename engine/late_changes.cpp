#include "engine/late_changes.h"

#include "desktop/folder_users.h"
#include "engine/logger.h"
#include "engine/storage/content_store.h"
#include "engine/storage/statcache.h"
#include "engine/team_bundle.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <sys/stat.h>

namespace vantrel {

namespace {

bool fileChanged(const QString& path, const struct stat& status, const StatCache& cache, const ContentStore& store)
{
    const auto recorded = cache.lookup(path);
    if (!recorded)
        return true;
    // Size and times only: a network file system may number a file anew at each look (sshfs
    // does), and reading every file of a network home again for that would double the check-in.
    const StatCache::Entry now = StatCache::Entry::fromStat(status);
    if (now.size == recorded->size && now.modifiedNs == recorded->modifiedNs && now.changedNs == recorded->changedNs)
        return false;
    // Touched, or saved again as it was (an editor that writes a new file and renames it).
    try {
        return store.hashFile(path).hash != recorded->hash;
    } catch (const Error&) {
        return true;
    }
}

} // namespace

bool changedSinceStored(const QString& workingCopy, const StatCache& cache, const ContentStore& store,
                        const QStringList& skipped)
{
    // Named as the check-in named its files when it recorded them.
    const QString root = QDir::cleanPath(QFileInfo(workingCopy).absoluteFilePath());
    struct stat status {};
    if (::lstat(QFile::encodeName(root).constData(), &status) != 0)
        return false; // nothing left to lose
    if (S_ISREG(status.st_mode))
        return fileChanged(root, status, cache, store);
    if (!S_ISDIR(status.st_mode))
        return false;
    QDirIterator files(root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        const QString relative = path.mid(root.size() + 1);
        if (std::any_of(skipped.begin(), skipped.end(),
                        [&](const QString& folder) { return relative.startsWith(folder + u'/'); }))
            continue;
        if (::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode)
            && fileChanged(path, status, cache, store))
            return true;
    }
    return false;
}

LateChanges keepLateChanges(TeamBundle& team, const IdFor<VersionBundle>& id, const QString& workingCopy,
                            bool lookForUsers, const QStringList& skipped)
{
    try {
        if (!QFileInfo::exists(workingCopy))
            return LateChanges::none;
        const bool inUse = lookForUsers && !processesUsingFolder(QFileInfo(workingCopy).path()).isEmpty();
        if (!inUse && !changedSinceStored(workingCopy, *team.statCache(id), team.contents(), skipped))
            return LateChanges::none;
        team.keepInAttic(id, workingCopy,
                         inUse ? QStringLiteral("in use after it was checked in")
                               : QStringLiteral("changed after it was checked in"));
        return LateChanges::kept;
    } catch (const Error& error) {
        team.log().event(QStringLiteral("A working copy changed or in use after it was checked in could not be "
                                        "kept; it is left in its folder: ")
                             + escapedForLog(error.debugDescription()),
                         QStringLiteral("checkIn"), Logger::Level::error);
        return LateChanges::notKept;
    }
}

} // namespace vantrel
