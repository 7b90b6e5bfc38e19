// The lock table as it is read: the listing of `locks/`, a record read by name (for a decision or
// for the watch of the poll), release notes, and what the table holds in memory.

#include "engine/locks/lock_table.h"

#include "engine/engine_errors.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/change_watcher.h"
#include "engine/storage/fixed_length_files.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>

namespace vantrel {

namespace {

const QString lockSuffix = QStringLiteral(".lock");

// Whether the file system holding `folder` keeps the inode number of a file that does not
// change. Local file systems do; FUSE (sshfs numbers files anew as it looks them up again),
// NFS and SMB need not, so only the ones known to be local are trusted.
bool keepsInodes(const QString& folder)
{
    return !whyNotLocalFileSystem(folder);
}

// What tells that a record file may have changed since it was read. Only a hint that saves
// reading unchanged records: whether a lock changed is decided by the record read.
QString fileStamp(const QString& path, bool withInode)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return QStringLiteral("%1:%2:%3.%4")
        .arg(status.st_size)
        .arg(withInode ? status.st_ino : 0)
        .arg(status.st_mtim.tv_sec)
        .arg(status.st_mtim.tv_nsec);
}

// Whether `bytes` decode as a `Record`: what tells a whole record from one a share clipped.
template<typename Record>
bool decodes(QByteArrayView bytes)
{
    try {
        Record::fromJson(bytes.toByteArray());
        return true;
    } catch (const DecodingError&) {
        return false;
    }
}

// The names of the lock records in `folder` (folders left out: a claim is one), and in `aside`
// those of the records moved aside under names of `owner`'s (see lock_files::asideName()). Throws
// StorageError when the folder can't be listed: a share that went away answers with an error, or
// with no folder at all (an unmounted share), and neither says that any lock was given up.
QStringList lockFileNames(const QString& folder, const QString& owner, QStringList& aside)
{
    const QString ownAside = lockSuffix + QStringLiteral(".tmp-") + owner + QLatin1Char('-');
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        throw StorageError::fromErrno(errno, folder, QStringLiteral("opendir"));
    QStringList names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (entry->d_type != DT_DIR && name.endsWith(lockSuffix) && !name.startsWith(QLatin1Char('.')))
            names << name;
        else if (entry->d_type != DT_DIR && name.contains(ownAside))
            aside << name;
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0)
        throw StorageError::fromErrno(error, folder, QStringLiteral("readdir"));
    return names;
}

} // namespace

LockTable::LockTable(QString folder, QString clientId, UserIdentity user)
    : m_folder(std::move(folder)),
      m_clientId(std::move(clientId)),
      m_asideOwner(lock_files::asideOwner(m_clientId)),
      m_user(std::move(user))
{
}

QString LockTable::pathFor(const IdFor<VersionBundle>& id) const
{
    return m_folder + QLatin1Char('/') + id.toString() + lockSuffix;
}

QString LockTable::notePathFor(const IdFor<VersionBundle>& id) const
{
    return m_folder + QLatin1Char('/') + id.toString() + QStringLiteral(".released");
}

void LockTable::setReachabilityCheck(std::function<bool()> check)
{
    std::lock_guard lock(m_mutex);
    m_reachable = std::move(check);
}

bool LockTable::isReachable() const
{
    const auto check = [this] {
        std::lock_guard lock(m_mutex);
        return m_reachable;
    }();
    return !check || check();
}

void LockTable::setBeforeAcquireForTesting(std::function<void()> hook)
{
    std::lock_guard lock(m_mutex);
    m_beforeAcquire = std::move(hook);
}

void LockTable::setAfterReleaseForTesting(std::function<void()> hook)
{
    std::lock_guard lock(m_mutex);
    m_afterRelease = std::move(hook);
}

void LockTable::setAsideMovedForTesting(std::function<void(const QString&)> hook)
{
    std::lock_guard lock(m_mutex);
    m_asideMoved = std::move(hook);
}

void LockTable::leaveReleaseNote(const QList<IdFor<VersionBundle>>& ids, const ReleaseNote& note,
                                 std::chrono::milliseconds heldOpen)
{
    for (const auto& id : ids)
        writeFileAtomically(notePathFor(id), note.toJson(), Durability::durable, heldOpen);
}

std::optional<ReleaseNote> LockTable::releaseNote(const IdFor<VersionBundle>& id) const
{
    try {
        return ReleaseNote::fromJson(fixed_length::readSettled(notePathFor(id), readLimits::lockRecord,
                                                               fixed_length::releaseNote, decodes<ReleaseNote>));
    } catch (const StorageError& error) {
        if (error.kind() == StorageError::Kind::notFound)
            return std::nullopt;
        throw;
    } catch (const DecodingError&) {
        // A damaged note tells nothing; a check-in still refuses to replace a version it did not start from.
        return std::nullopt;
    }
}

std::optional<LockRecord> LockTable::readLock(const IdFor<VersionBundle>& id) const
{
    // Only "not there" says that nobody holds the lock (and only while the bundle can be
    // reached: see isReachable()). Any other failure to read it (a share that went away answers
    // EIO or ENOTCONN) tells nothing of the lock and is thrown, so that the table keeps what it
    // knew and a change then fails as one that can't reach the share.
    try {
        // A record a share clipped to the size of the one it replaced reads whole a moment later.
        return LockRecord::fromJson(fixed_length::readSettled(pathFor(id), readLimits::lockRecord,
                                                              fixed_length::lockRecord, decodes<LockRecord>));
    } catch (const StorageError& error) {
        if (error.kind() == StorageError::Kind::notFound)
            return std::nullopt;
        if (error.kind() != StorageError::Kind::corrupt)
            throw;
    } catch (const DecodingError&) {
    }
    // A lock record that does not read (not JSON, too large, not even a file) still locks the
    // bundle: nobody may take it silently, and a force unlock replaces it.
    LockRecord unknown;
    unknown.clientId = QStringLiteral("?");
    unknown.userName = QStringLiteral("?");
    return unknown;
}

std::optional<LockRecord> LockTable::readByName(const IdFor<VersionBundle>& id, ByName use,
                                                std::optional<bool>& reachable, bool& changed)
{
    changed = false;
    // Stamped before it is read: a record replaced in between is read again at the next refresh.
    const QString stamp = fileStamp(pathFor(id), keepsInodes(m_folder));
    auto record = readLock(id);
    // Not found counts as given up only while the bundle can be reached. Asked where it matters:
    // a decision rests on it, or there is a lock to give up (asked once for a batch of reads).
    if (!record && (use == ByName::deciding || holder(id))) {
        if (!reachable)
            reachable = isReachable();
        if (!*reachable)
            throw TeamBundleError(TeamBundleError::Case::unreachable, QFileInfo(m_folder).path());
    }
    std::lock_guard lock(m_mutex);
    const auto known = m_locks.constFind(id);
    const bool wasKnown = known != m_locks.cend();
    // A record that does not read may be one replaced as it was read (a share may clip it to the
    // size it had). A decision takes it as it is (it still locks); a watch leaves a lock it knew
    // to the listing, as for any lock.
    if (use == ByName::watching && record && record->clientId == QStringLiteral("?") && wasKnown)
        return record;
    changed = wasKnown != record.has_value() || (record && known->record != *record);
    // What a decision changed is reported by the next refresh(); reread() returns what it changed.
    if (changed && use == ByName::deciding)
        m_changedSinceRefresh.insert(id);
    if (record)
        m_locks.insert(id, Known{stamp, *record});
    else
        m_locks.remove(id);
    return record;
}

std::optional<LockRecord> LockTable::readNow(const IdFor<VersionBundle>& id)
{
    std::optional<bool> reachable;
    bool changed = false;
    return readByName(id, ByName::deciding, reachable, changed);
}

bool LockTable::isMineNow(const IdFor<VersionBundle>& id, const IdFor<VersionBundle>& initiator)
{
    const auto record = readNow(id);
    return record && record->clientId == m_clientId && record->initiator == initiator;
}

QSet<IdFor<VersionBundle>> LockTable::refresh()
{
    const bool withInode = keepsInodes(m_folder);
    QStringList names;
    QStringList aside;
    try {
        names = lockFileNames(m_folder, m_asideOwner, aside);
    } catch (const StorageError&) {
        // A listing that fails tells nothing: every lock stays as it was known.
        std::lock_guard lock(m_mutex);
        return std::exchange(m_changedSinceRefresh, {});
    }
    if (!aside.isEmpty())
        sweepAside(aside);
    QHash<IdFor<VersionBundle>, Known> found;
    for (const QString& name : std::as_const(names)) {
        const auto id = IdFor<VersionBundle>::fromString(QStringView(name).chopped(lockSuffix.size()));
        if (!id)
            continue;
        const QString path = m_folder + QLatin1Char('/') + name;
        const QString stamp = fileStamp(path, withInode);
        {
            std::lock_guard lock(m_mutex);
            const auto known = m_locks.constFind(*id);
            if (known != m_locks.cend() && known->stamp == stamp) {
                found.insert(*id, *known);
                continue;
            }
        }
        try {
            auto record = readLock(*id);
            std::lock_guard lock(m_mutex);
            const auto known = m_locks.constFind(*id);
            // A record that does not read may be one the share clipped as it was replaced: a
            // lock known before stays as it was (read again at the next refresh) until its
            // record reads; decisions read it by name.
            if (record && record->clientId == QStringLiteral("?") && known != m_locks.cend())
                found.insert(*id, *known);
            else if (record)
                found.insert(*id, Known{stamp, *record});
        } catch (const Error&) {
            // Unreadable for now: keep what we knew.
            std::lock_guard lock(m_mutex);
            if (m_locks.contains(*id))
                found.insert(*id, m_locks.value(*id));
        }
    }
    // Locks the listing no longer shows are given up only if the bundle is there to say so: a
    // share that went away may list an empty folder.
    const bool anyGone = [&] {
        std::lock_guard lock(m_mutex);
        return std::any_of(m_locks.keyBegin(), m_locks.keyEnd(), [&](const auto& id) { return !found.contains(id); });
    }();
    const bool keepUnlisted = anyGone && !isReachable();

    std::lock_guard lock(m_mutex);
    if (keepUnlisted) {
        for (auto it = m_locks.cbegin(); it != m_locks.cend(); ++it) {
            if (!found.contains(it.key()))
                found.insert(it.key(), *it);
        }
    }
    QSet<IdFor<VersionBundle>> changed = std::exchange(m_changedSinceRefresh, {});
    // What readNow() read by name is at least as new as what the listing showed.
    for (const auto& id : std::as_const(changed)) {
        if (const auto known = m_locks.constFind(id); known != m_locks.cend())
            found.insert(id, *known);
        else
            found.remove(id);
    }
    for (auto it = m_locks.cbegin(); it != m_locks.cend(); ++it) {
        const auto now = found.constFind(it.key());
        if (now == found.cend() || now->record != it->record)
            changed.insert(it.key());
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        if (!m_locks.contains(it.key()))
            changed.insert(it.key());
    }
    m_locks = std::move(found);
    return changed;
}
QSet<IdFor<VersionBundle>> LockTable::reread(const QSet<IdFor<VersionBundle>>& ids)
{
    QSet<IdFor<VersionBundle>> changed;
    std::optional<bool> reachable;
    for (const auto& id : ids) {
        bool readChanged = false;
        try {
            readByName(id, ByName::watching, reachable, readChanged);
        } catch (const Error&) {
            // Unreadable for now, or not found while the bundle can't be reached: the lock stays
            // as it was known.
            continue;
        }
        if (readChanged)
            changed.insert(id);
    }
    return changed;
}

std::optional<LockRecord> LockTable::holder(const IdFor<VersionBundle>& id) const
{
    std::lock_guard lock(m_mutex);
    const auto known = m_locks.constFind(id);
    if (known == m_locks.cend())
        return std::nullopt;
    return known->record;
}

bool LockTable::isMine(const IdFor<VersionBundle>& id, const IdFor<VersionBundle>& initiator) const
{
    const auto record = holder(id);
    return record && record->clientId == m_clientId && record->initiator == initiator;
}

bool LockTable::isMine(const IdFor<VersionBundle>& id) const
{
    const auto record = holder(id);
    return record && record->clientId == m_clientId;
}

} // namespace vantrel
