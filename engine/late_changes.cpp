#include "engine/late_changes.h"

#include "desktop/folder_users.h"
#include "engine/logger.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/content_store.h"
#include "engine/storage/statcache.h"
#include "engine/team_bundle.h"
#include "engine/versioning_support.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>

namespace vantrel {

namespace {

// Whether the file at `path`, recorded as `name`, changed since it was stored.
bool fileChanged(const QString& path, const QString& name, const struct stat& status, const StatCache& cache,
                 const ContentStore& store)
{
    const auto recorded = cache.lookup(name);
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

std::mutex removalObserverMutex;
std::function<void(const QString&)> removalObserver;

void beforeRemoval(const QString& workingCopy)
{
    std::function<void(const QString&)> observe;
    {
        std::lock_guard lock(removalObserverMutex);
        observe = removalObserver;
    }
    if (observe)
        observe(workingCopy);
}

// Puts the working folder moved aside to `aside` back at `folder`, unless something took that
// place meanwhile (a folder an application made to save into): nothing there is replaced. Where
// it is then.
QString putBack(const QString& aside, const QString& folder)
{
    const QByteArray from = QFile::encodeName(aside);
    const QByteArray to = QFile::encodeName(folder);
    int result = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    // A file system without that rename (a network home): a look first. A rename can't replace
    // a folder that holds anything.
    struct stat status {};
    if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
        && ::lstat(to.constData(), &status) != 0 && errno == ENOENT)
        result = std::rename(from.constData(), to.constData());
    return result == 0 ? folder : aside;
}

// The copy kept of each working copy left aside while a process held it, by the folder it is in:
// kept again only when it changed.
std::mutex leftAsideMutex;
QHash<QString, ContentHash> keptOfLeftAside;

// The working folders of `id` that earlier check-ins left aside in `working` (named `prefix` and
// random letters) while a process held them, or because they could not be kept: once nothing
// holds one, what it holds is kept in the attic and it is removed. One still held, or that can't
// be kept, stays for the next time.
void keepLeftAside(TeamBundle& team, const IdFor<VersionBundle>& id, const QString& working, const QString& prefix,
                   const QString& name)
{
    for (const QFileInfo& left :
         QDir(working).entryInfoList({prefix + u'*'}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString aside = left.absoluteFilePath();
        if (left.isSymLink() || !processesUsingFolder(aside).isEmpty())
            continue;
        std::optional<ContentHash> keptLast;
        {
            std::lock_guard lock(leftAsideMutex);
            if (const auto kept = keptOfLeftAside.constFind(aside); kept != keptOfLeftAside.cend())
                keptLast = *kept;
        }
        try {
            if (QFileInfo::exists(aside + u'/' + name))
                team.keepInAttic(id, aside + u'/' + name, QStringLiteral("left behind"), nullptr, keptLast);
            versioning::keepWorkingFolderEntries(team, id, aside, name, QStringLiteral("left beside"));
            posix::removeTreeQuietly(aside);
            std::lock_guard lock(leftAsideMutex);
            keptOfLeftAside.remove(aside);
        } catch (const Error& error) {
            team.log().event(QStringLiteral("A working copy left aside after its check-in could not be kept; it "
                                            "stays in %1: %2")
                                 .arg(escapedForLog(aside), escapedForLog(error.debugDescription())),
                             QStringLiteral("checkIn"), Logger::Level::error);
        }
    }
}

} // namespace

bool changedSinceStored(const QString& workingCopy, const StatCache& cache, const ContentStore& store,
                        const QStringList& skipped, const QString& recordedAs)
{
    // Named as the check-in named its files when it recorded them.
    const QString root = QDir::cleanPath(QFileInfo(workingCopy).absoluteFilePath());
    const QString recordedRoot =
        recordedAs.isEmpty() ? root : QDir::cleanPath(QFileInfo(recordedAs).absoluteFilePath());
    struct stat status {};
    if (::lstat(QFile::encodeName(root).constData(), &status) != 0)
        return false; // nothing left to lose
    if (S_ISREG(status.st_mode))
        return fileChanged(root, recordedRoot, status, cache, store);
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
            && fileChanged(path, recordedRoot + u'/' + relative, status, cache, store))
            return true;
    }
    return false;
}

LateChangesOutcome removeCheckedInWorkingCopy(TeamBundle& team, const IdFor<VersionBundle>& id,
                                              const QString& workingCopy, bool lookForUsers, const QStringList& skipped,
                                              std::function<void()> first, const std::optional<ContentHash>& keptLast)
{
    const QString folder = QFileInfo(workingCopy).path();
    const QString prefix = QStringLiteral(".checked-in-") + id.toString() + u'-';
    keepLeftAside(team, id, QFileInfo(folder).path(), prefix, QFileInfo(workingCopy).fileName());
    const QString aside = QFileInfo(folder).path() + u'/' + prefix + IdFor<Versions>::make().toString().left(8);
    const QString moved = aside + u'/' + QFileInfo(workingCopy).fileName();
    // From here on no program opens it by its path: what it saves before it is looked at below is
    // seen, and what it saves later goes to a new working folder or fails, never into this one.
    if (std::rename(QFile::encodeName(folder).constData(), QFile::encodeName(aside).constData()) != 0) {
        const int error = errno;
        if (error != ENOENT)
            team.log().event(QStringLiteral("A working copy checked in could not be moved aside; it is left in its "
                                            "folder: ")
                                 + escapedForLog(QString::fromLocal8Bit(std::strerror(error))),
                             QStringLiteral("checkIn"), Logger::Level::error);
        return {};
    }
    LateChangesOutcome outcome;
    bool held = false;
    std::optional<ContentHash> kept;
    try {
        if (QFileInfo::exists(moved)) {
            // A process that opened it before it was moved holds it still (a file open, its working
            // directory, a mapping, found by the files themselves); one started on its path names
            // the path it had. Both are found by one look into each process, and whether a file
            // changed is read meanwhile: all of it only reads.
            std::future<bool> changed = std::async(std::launch::async, [&] {
                return changedSinceStored(moved, *team.statCache(id), team.contents(), skipped, workingCopy);
            });
            const QList<QList<FolderUser>> users =
                processesUsingFolders(lookForUsers ? QStringList{aside, folder} : QStringList{aside});
            held = !users.constFirst().isEmpty();
            const bool inUse = held || (lookForUsers && !users.constLast().isEmpty());
            if (inUse || changed.get()) {
                kept = team.keepInAttic(id, moved,
                                        inUse ? QStringLiteral("in use after it was checked in")
                                              : QStringLiteral("changed after it was checked in"),
                                        nullptr, keptLast);
                outcome.late = LateChanges::kept;
            }
        }
    } catch (const Error& error) {
        outcome = {LateChanges::notKept, putBack(aside, folder)};
        team.log().event(QStringLiteral("A working copy changed or in use after it was checked in could not be "
                                        "kept; it is left in %1: %2")
                             .arg(escapedForLog(outcome.leftIn), escapedForLog(error.debugDescription())),
                         QStringLiteral("checkIn"), Logger::Level::error);
        return outcome;
    }
    beforeRemoval(workingCopy);
    if (held) {
        std::lock_guard lock(leftAsideMutex);
        keptOfLeftAside.insert(aside, *kept);
        team.log().event(QStringLiteral("A working copy checked in is still held by a process; it is left in %1")
                             .arg(escapedForLog(aside)),
                         QStringLiteral("checkIn"), Logger::Level::warning);
        return outcome;
    }
    versioning::discardWorkingFolder(aside, std::move(first));
    return outcome;
}

void setBeforeWorkingCopyRemovalForTesting(std::function<void(const QString& workingCopy)> observe)
{
    std::lock_guard lock(removalObserverMutex);
    removalObserver = std::move(observe);
}

} // namespace vantrel
