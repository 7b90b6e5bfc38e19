#include "engine/versioning_support.h"

#include "engine/engine_errors.h"
#include "engine/file_names.h"
#include "desktop/folder_users.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/content_store.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/manifest.h"
#include "engine/storage/statcache.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"
#include "engine/team_bundle.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace vantrel {

namespace versioning {

const QString eventFolderExtension = QStringLiteral("videoevent");

QJsonObject versionFields(const IdFor<Versions>& version, const ContentHash& manifest, const QString& message,
                          const QJsonObject& application, VersionOrigin origin)
{
    return QJsonObject{{QStringLiteral("version"), version.toString()},
                       {QStringLiteral("manifest"), manifest.toHex()},
                       {QStringLiteral("message"), message},
                       {QStringLiteral("application"), application},
                       {QStringLiteral("origin"), toText(origin)}};
}

// The fields of the record that created the bundle.
QJsonObject creationFields(const BundleState& state)
{
    for (const auto& record : state.history) {
        if (record.kind == RecordKind::create)
            return record.fields;
    }
    return {};
}

QString storedManifest(ContentStore& store, const Manifest& manifest)
{
    return storeTree(store, manifest).toHex();
}

std::optional<ContentHash> baseTree(const VersionInfo* version)
{
    return version ? std::optional(version->manifest) : std::nullopt;
}

void renameInto(const QString& from, const QString& to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw StorageError::fromErrno(errno, to, QStringLiteral("rename"));
}

QString nameForNewBundle(const QString& name, const QString& what)
{
    if (name.trimmed().isEmpty())
        throw VersioningError(VersioningError::Case::invalidName, what);
    return name;
}

// The event folders of a library package: its direct sub-folders with the event extension.
QStringList eventFolderNames(const QString& package)
{
    QStringList names;
    for (const QFileInfo& child :
         QDir(package).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name)) {
        if (!child.isSymLink() && child.suffix().compare(eventFolderExtension, Qt::CaseInsensitive) == 0)
            names << child.fileName();
    }
    return names;
}

// Records the files of a freshly written working copy in the stat cache, so that a check-in
// reads only what the user changed. Each file's modification time is set a few seconds back,
// which lets the cache trust the record at once: any later edit gives the file a new time.
void recordWrittenTree(StatCache& cache, const Manifest& manifest, const QString& root)
{
    const qint64 recorded = QDateTime::currentMSecsSinceEpoch() * 1'000'000;
    const struct timespec back[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(recorded / 1'000'000'000 - 5), 0}};
    for (const auto& entry : manifest.entries) {
        if (entry.kind != ManifestEntry::Kind::file)
            continue;
        const QString path = entry.path.isEmpty() ? root : root + QLatin1Char('/') + entry.path;
        const QByteArray native = QFile::encodeName(path);
        struct stat status {};
        if (::utimensat(AT_FDCWD, native.constData(), back, AT_SYMLINK_NOFOLLOW) != 0
            || ::lstat(native.constData(), &status) != 0)
            continue;
        StatCache::Entry recordedEntry = StatCache::Entry::fromStat(status);
        recordedEntry.hash = entry.hash;
        recordedEntry.recordedNs = recorded;
        cache.record(path, recordedEntry);
    }
}

// Removes a working copy that is no longer needed without making the caller wait: it is moved
// aside at once and deleted in the background.
void discardWorkingFolder(const QString& folder, std::function<void()> first)
{
    const QString aside = QFileInfo(folder).path() + QStringLiteral("/.removed-") + IdFor<Versions>::make().toString();
    const QString doomed =
        std::rename(QFile::encodeName(folder).constData(), QFile::encodeName(aside).constData()) == 0 ? aside : folder;
    QThreadPool::globalInstance()->start([doomed, first = std::move(first)] {
        if (first)
            first();
        posix::removeTreeQuietly(doomed);
    });
}

// Keeps in the attic every file and folder in the working folder `folder` but the one named
// `except` (the working copy, when it is kept otherwise): what an earlier check-out left there, or what the
// editing application wrote beside the working copy. Links and sockets hold no work.
void keepWorkingFolderEntries(TeamBundle& team, const IdFor<VersionBundle>& id, const QString& folder,
                              const QString& except, const QString& reason)
{
    const QFileInfo info(folder);
    if (!info.exists() && !info.isSymLink())
        return;
    if (info.isSymLink() || !info.isDir())
        throw StorageError::fromErrno(ENOTDIR, folder, QStringLiteral("open"));
    for (const QFileInfo& entry :
         QDir(folder).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (entry.isSymLink() || (!entry.isDir() && !entry.isFile()) || entry.fileName() == except)
            continue;
        team.keepInAttic(id, entry.absoluteFilePath(), reason);
    }
}

// A working copy an application still uses is not taken away from it: whatever the application
// saves afterwards would have nowhere to go. Unless told to go on, the check-in, discard or
// check-out that would replace it is refused before anything is stored or recorded, naming the
// applications. `folder` is the working folder.
void refuseWhileFolderInUse(const QString& name, const QString& folder, WorkingCopyInUse inUse)
{
    if (inUse != WorkingCopyInUse::refuse || !QFileInfo::exists(folder))
        return;
    auto users = processesUsingFolder(folder);
    if (!users.isEmpty())
        throw WorkingCopyInUseError(name, std::move(users));
}

void refuseWhileInUse(const QString& name, const QString& workingCopy, WorkingCopyInUse inUse)
{
    refuseWhileFolderInUse(name, QFileInfo(workingCopy).path(), inUse);
}

// Writes events into `package`, which already holds the library's own tree. Each keeps the
// folder name it was imported with while its name is unchanged; otherwise its name, made safe
// and unique. Returns the folder of each event, in order; their trees go to `written` when given.
QStringList writeEvents(const ContentStore& store, const Manifest& library, const QString& package,
                        const QList<EventToWrite>& events, QList<Manifest>* written)
{
    QSet<QString> taken;
    for (const auto& entry : library.entries) {
        if (!entry.path.contains(u'/'))
            taken.insert(entry.path.toCaseFolded());
    }
    QStringList folders;
    for (const auto& [event, version] : events) {
        // The recorded folder name is data from the share: it is used only when it is one plain
        // event folder name, never as a path.
        const QString original = creationFields(*event).value(QStringLiteral("folder")).toString();
        const QString base = safeFileName(event->name);
        const bool plainName = !original.isEmpty() && original == safeFileName(original)
                               && QFileInfo(original).suffix().compare(eventFolderExtension, Qt::CaseInsensitive) == 0;
        QString folder;
        if (plainName && QFileInfo(original).completeBaseName() == base && !taken.contains(original.toCaseFolded())) {
            folder = original;
            taken.insert(original.toCaseFolded());
        } else {
            folder = uniqueFileName(QString(), base, eventFolderExtension, &taken);
        }
        Manifest tree = readTree(store, version->manifest);
        writeTree(tree, store, package + QLatin1Char('/') + folder);
        if (written)
            written->append(std::move(tree));
        folders << folder;
    }
    return folders;
}

std::optional<JournalStamp> stampOfVersion(const BundleState& state, const IdFor<Versions>& version)
{
    if (const VersionInfo* found = state.version(version))
        return found->stamp;
    return std::nullopt;
}

} // namespace versioning

} // namespace vantrel
