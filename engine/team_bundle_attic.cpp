// What the bundle keeps aside and what it may drop: copies of working copies in the attic
// (auto-saved, displaced, discarded), and the stored contents that nothing uses any more.

#include "engine/team_bundle.h"

#include "engine/engine_errors.h"
#include "engine/file_names.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/statcache.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

// The entries of the attic, `<attic>/<bundle>/<entry>.json`, listed without following a link;
// nothing, with the folder in `unlisted`, when a folder of it can't be listed (a listing that
// fails part way must not pass for one that found less).
std::optional<QStringList> atticEntries(const QString& attic, QString& unlisted)
{
    const auto list = [&](const QString& path, bool folders, QStringList& found) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        DIR* listing = fd >= 0 ? ::fdopendir(fd) : nullptr;
        if (!listing) {
            const int error = errno;
            if (fd >= 0)
                ::close(fd);
            if (error == ENOENT)
                return true;
            unlisted = path;
            return false;
        }
        bool complete = true;
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(listing);
            if (!entry) {
                complete = errno == 0;
                break;
            }
            const QString name = QFile::decodeName(entry->d_name);
            if (name == u"." || name == u"..")
                continue;
            struct stat status {};
            if (folders) {
                if (::fstatat(::dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode))
                    found << path + u'/' + name;
            } else if (name.endsWith(u".json")) {
                found << path + u'/' + name;
            }
        }
        ::closedir(listing);
        if (!complete)
            unlisted = path;
        return complete;
    };
    QStringList folders;
    if (!list(attic, true, folders))
        return std::nullopt;
    QStringList entries;
    for (const QString& folder : std::as_const(folders)) {
        if (!list(folder, false, entries))
            return std::nullopt;
    }
    return entries;
}

} // namespace

void TeamBundle::autoSave()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (Checkout checkout : m_checkouts->all()) {
        if (!checkout.autoSave || checkout.displaced || checkout.autoSaveInterval <= 0
            || checkout.lastAutoSave.secsTo(now) < checkout.autoSaveInterval
            || !m_locks->isMine(checkout.bundle, checkout.bundle) || !QFileInfo::exists(checkout.workingCopy))
            continue;
        try {
            // Only a working copy that changed since the last save is kept, and only its new
            // contents take space; the team sees who is working on what.
            const auto cache = statCache(checkout.bundle);
            QStringList eventFolders;
            for (const auto& event : checkout.events)
                eventFolders << event.folder;
            QStringList skipped;
            SnapshotOptions options;
            options.cache = cache.get();
            options.skippedSpecialFiles = &skipped;
            options.excludeDirectory = [eventFolders](const QString& path) { return eventFolders.contains(path); };
            // Built on the last copy kept: only what changed since is read and stored.
            options.base = ContentHash::fromHex(checkout.lastSavedManifest);
            ContentStore::Written written(*m_contents);
            options.written = &written;
            const ContentHash tree = snapshotTree(checkout.workingCopy, *m_contents, options);
            written.keep(); // the entry that names them may be on the share from here on
            checkout.lastAutoSave = now;
            if (tree.toHex() != checkout.lastSavedManifest) {
                writeAtticEntry(checkout.bundle, QFileInfo(checkout.workingCopy).fileName(), tree,
                                QStringLiteral("auto-saved"), skipped);
                commit(RecordKind::editing, checkout.bundle,
                       {{QStringLiteral("message"), QStringLiteral("is editing this document")}});
                checkout.lastSavedManifest = tree.toHex();
            }
            // Only what the auto-save keeps: a check-in may be writing the check-out meanwhile,
            // or may have ended it.
            m_checkouts->update(checkout.bundle, [&checkout](Checkout& saved) {
                saved.lastAutoSave = checkout.lastAutoSave;
                saved.lastSavedManifest = checkout.lastSavedManifest;
            });
        } catch (const Error& error) {
            m_log->event(escapedForLog(error.localizedDescription()), QStringLiteral("autoSave"),
                         Logger::Level::warning);
        }
    }
}

ContentHash TeamBundle::keepInAttic(const IdFor<VersionBundle>& id, const QString& path, const QString& reason,
                                    StatCache* cache, const std::optional<ContentHash>& keptLast)
{
    // Sockets and pipes an application left in a working copy can't be kept; they are listed in
    // the entry and never a reason to lose the rest.
    QStringList skipped;
    SnapshotOptions options;
    options.cache = cache;
    options.skippedSpecialFiles = &skipped;
    // Most of a working copy is what its bundle's current version holds.
    if (const auto state = snapshot()->find(id); state && state->currentVersion())
        options.base = state->currentVersion()->manifest;
    // What was stored new goes again when it can't be kept; the entry is its record.
    ContentStore::Written written(*m_contents);
    options.written = &written;
    const ContentHash tree = snapshotTree(path, *m_contents, options);
    written.keep();
    if (tree != keptLast)
        writeAtticEntry(id, QFileInfo(path).fileName(), tree, reason, skipped);
    return tree;
}

void TeamBundle::writeAtticEntry(const IdFor<VersionBundle>& id, const QString& name, const ContentHash& tree,
                                 const QString& reason, const QStringList& skipped)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QJsonObject entry{{QStringLiteral("reason"), reason},
                      {QStringLiteral("name"), name},
                      {QStringLiteral("manifest"), tree.toHex()},
                      {QStringLiteral("user"), m_identity.user.userName},
                      {QStringLiteral("host"), m_identity.user.hostName},
                      {QStringLiteral("date"), now.toString(Qt::ISODateWithMs)}};
    if (!skipped.isEmpty())
        entry.insert(QStringLiteral("skipped"), QJsonArray::fromStringList(skipped));
    const QString folder = m_root + QStringLiteral("/attic/") + id.toString();
    ensureOwnFolder(folder);
    writeFileAtomically(folder + QLatin1Char('/') + now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"))
                            + QLatin1Char('-') + IdFor<Versions>::make().toString().left(8) + QStringLiteral(".json"),
                        QJsonDocument(entry).toJson());
}

QString TeamBundle::atticPath(const IdFor<VersionBundle>& id) const
{
    const QString path = m_root + QStringLiteral("/attic/") + id.toString();
    ensureOwnFolder(path);
    return path;
}

QString TeamBundle::materializeAttic(const IdFor<VersionBundle>& id) const
{
    const QString folder = localFolder(QStringLiteral("attic")) + QLatin1Char('/') + id.toString();
    ensureDirectory(folder);
    const QDir entries(m_root + QStringLiteral("/attic/") + id.toString());
    for (const QString& entryName : entries.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        const QString entryPath = entries.filePath(entryName);
        QJsonObject entry;
        try {
            entry = QJsonDocument::fromJson(readWholeFile(entryPath, readLimits::atticEntry)).object();
        } catch (const StorageError& error) {
            // Damaged (not a file, far too large) like one that is not JSON: the others are kept.
            // A file that can't be read at all right now fails the whole operation.
            if (error.kind() != StorageError::Kind::corrupt)
                throw;
        }
        const auto manifest = ContentHash::fromHex(entry.value(QStringLiteral("manifest")).toString());
        const QString name = safeFileName(entry.value(QStringLiteral("name")).toString());
        if (!manifest || name.isEmpty()) {
            m_log->event(QStringLiteral("Unreadable attic entry ") + escapedForLog(entryPath),
                         QStringLiteral("materializeAttic"), Logger::Level::warning);
            continue;
        }
        // "20261208-101500-123-ABCDEF12 force unlocked/Cut.kdenlive": one folder per kept copy.
        const QString copyFolder = folder + QLatin1Char('/') + QFileInfo(entryName).completeBaseName()
                                   + QLatin1Char(' ') + safeFileName(entry.value(QStringLiteral("reason")).toString());
        const QString destination = copyFolder + QLatin1Char('/') + name;
        if (QFileInfo::exists(destination))
            continue;
        ensureDirectory(copyFolder);
        writeStoredTreeAtomically(*m_contents, *manifest, destination);
    }
    return folder;
}

int TeamBundle::collectGarbage(std::chrono::seconds gracePeriod)
{
    const auto notCollected = [&](const QString& why) {
        m_log->event(QStringLiteral("Stored contents were not collected: ") + why, QStringLiteral("collectGarbage"),
                     Logger::Level::warning);
        return std::optional<QSet<ContentHash>>();
    };
    // Asked once the share's time is measured: every change published before it is read here.
    return m_contents->collectGarbage(
        [&]() -> std::optional<QSet<ContentHash>> {
            // Only a complete view may tell what nothing uses: a record this client left out (read
            // damaged once, or not read yet) may name versions nobody else could read back.
            poll();
            if (!isReachable())
                return notCollected(QStringLiteral("the team bundle can't be reached."));
            if (const QStringList gaps = m_journal->incompleteView(); !gaps.isEmpty())
                return notCollected(escapedForLog(gaps.front()));
            QSet<ContentHash> manifests;
            for (const auto& state : std::as_const(snapshot()->bundles)) {
                for (const auto& version : state->versions)
                    manifests.insert(version.manifest);
            }
            // What the attic keeps is never collected, whatever became of its bundle.
            QString unlisted;
            const auto entries = atticEntries(m_root + QStringLiteral("/attic"), unlisted);
            if (!entries)
                return notCollected(QStringLiteral("the attic could not be listed: ") + escapedForLog(unlisted));
            for (const QString& entry : *entries) {
                std::optional<ContentHash> hash;
                try {
                    hash = ContentHash::fromHex(QJsonDocument::fromJson(readWholeFile(entry, readLimits::atticEntry))
                                                    .object()
                                                    .value(QStringLiteral("manifest"))
                                                    .toString());
                } catch (const Error&) {
                }
                if (!hash)
                    return notCollected(QStringLiteral("unreadable attic entry ") + escapedForLog(entry));
                manifests.insert(*hash);
            }
            // Trees that versions share are read once; whatever they name is kept.
            TreeReader reader(*m_contents, false);
            QSet<ContentHash> visited;
            QSet<ContentHash> referenced;
            for (const auto& hash : std::as_const(manifests)) {
                try {
                    collectTreeReferences(reader, hash, visited, referenced);
                } catch (const Error& error) {
                    return notCollected(escapedForLog(error.localizedDescription()));
                }
            }
            return referenced;
        },
        gracePeriod, {m_root + QStringLiteral("/journal"), m_root + QStringLiteral("/locks")});
}

} // namespace vantrel
