#include "engine/lock_table.h"

#include "engine/engine_errors.h"
#include "engine/lock_files.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/change_watcher.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <utility>

namespace vantrel {

namespace {

const QString lockSuffix = QStringLiteral(".lock");

// How many times a lock is tried again when its record vanishes between the exclusive create
// that found it and the read of it (it was being given up).
constexpr int publishAttempts = 3;

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

} // namespace

QByteArray LockRecord::toJson() const
{
    QJsonObject object{{QStringLiteral("client"), clientId},
                       {QStringLiteral("user"), userName},
                       {QStringLiteral("fullName"), fullName},
                       {QStringLiteral("host"), hostName},
                       {QStringLiteral("initiator"), initiator.toString()},
                       {QStringLiteral("date"), date.toUTC().toString(Qt::ISODateWithMs)},
                       {QStringLiteral("forced"), forced}};
    if (forced) {
        object.insert(QStringLiteral("previousClient"), previousClientId);
        object.insert(QStringLiteral("previousUser"), previousUserName);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

LockRecord LockRecord::fromJson(const QByteArray& json)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    LockRecord record;
    record.clientId = object.value(QStringLiteral("client")).toString();
    if (record.clientId.isEmpty())
        throw DecodingError(QStringLiteral("The lock record names no client."));
    record.userName = object.value(QStringLiteral("user")).toString();
    record.fullName = object.value(QStringLiteral("fullName")).toString();
    record.hostName = object.value(QStringLiteral("host")).toString();
    record.initiator = IdFor<VersionBundle>::fromJson(object.value(QStringLiteral("initiator")));
    record.date = QDateTime::fromString(object.value(QStringLiteral("date")).toString(), Qt::ISODateWithMs);
    record.forced = object.value(QStringLiteral("forced")).toBool();
    record.previousClientId = object.value(QStringLiteral("previousClient")).toString();
    record.previousUserName = object.value(QStringLiteral("previousUser")).toString();
    return record;
}

QByteArray ReleaseNote::toJson() const
{
    return QJsonDocument(QJsonObject{{QStringLiteral("client"), clientId}, {QStringLiteral("seq"), seq}})
        .toJson(QJsonDocument::Compact);
}

ReleaseNote ReleaseNote::fromJson(const QByteArray& json)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    ReleaseNote note;
    note.clientId = object.value(QStringLiteral("client")).toString();
    const double seq = object.value(QStringLiteral("seq")).toDouble(-1);
    if (note.clientId.isEmpty() || seq < 1 || seq > 9e15 || seq != static_cast<double>(static_cast<qint64>(seq)))
        throw DecodingError(QStringLiteral("The release note names no record."));
    note.seq = static_cast<qint64>(seq);
    return note;
}

QString LockRecord::holderDescription() const
{
    const QString who = displayName(fullName, userName);
    return hostName.isEmpty() ? who : QStringLiteral("%1 on %2").arg(who, hostName);
}

LockTable::LockTable(QString folder, QString clientId, UserIdentity user)
    : m_folder(std::move(folder)),
      m_clientId(std::move(clientId)),
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

void LockTable::leaveReleaseNote(const QList<IdFor<VersionBundle>>& ids, const ReleaseNote& note,
                                 std::chrono::milliseconds heldOpen)
{
    for (const auto& id : ids)
        writeFileAtomically(notePathFor(id), note.toJson(), Durability::durable, heldOpen);
}

std::optional<ReleaseNote> LockTable::releaseNote(const IdFor<VersionBundle>& id) const
{
    try {
        return ReleaseNote::fromJson(readWholeFile(notePathFor(id), readLimits::lockRecord));
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
    try {
        return LockRecord::fromJson(readWholeFile(pathFor(id), readLimits::lockRecord));
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

std::optional<LockRecord> LockTable::readNow(const IdFor<VersionBundle>& id)
{
    // Stamped before it is read: a record replaced in between is read again at the next refresh.
    const QString stamp = fileStamp(pathFor(id), keepsInodes(m_folder));
    auto record = readLock(id);
    std::lock_guard lock(m_mutex);
    const auto known = m_locks.constFind(id);
    const bool wasKnown = known != m_locks.cend();
    if (wasKnown != record.has_value() || (record && known->record != *record))
        m_changedSinceRefresh.insert(id);
    if (record)
        m_locks.insert(id, Known{stamp, *record});
    else
        m_locks.remove(id);
    return record;
}

bool LockTable::isMineNow(const IdFor<VersionBundle>& id, const IdFor<VersionBundle>& initiator)
{
    const auto record = readNow(id);
    return record && record->clientId == m_clientId && record->initiator == initiator;
}

QSet<IdFor<VersionBundle>> LockTable::refresh()
{
    const bool withInode = keepsInodes(m_folder);
    QHash<IdFor<VersionBundle>, Known> found;
    for (const QString& name : QDir(m_folder).entryList({QStringLiteral("*") + lockSuffix}, QDir::Files)) {
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
            if (auto record = readLock(*id))
                found.insert(*id, Known{stamp, *record});
        } catch (const StorageError&) {
            // Unreadable for now: keep what we knew.
            std::lock_guard lock(m_mutex);
            if (m_locks.contains(*id))
                found.insert(*id, m_locks.value(*id));
        }
    }

    std::lock_guard lock(m_mutex);
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
    for (const auto& id : ids) {
        const QString stamp = fileStamp(pathFor(id), keepsInodes(m_folder));
        std::optional<LockRecord> record;
        try {
            record = readLock(id);
        } catch (const StorageError&) {
            continue; // unreadable for now: keep what we knew
        }
        std::lock_guard lock(m_mutex);
        const auto known = m_locks.find(id);
        // A record that does not read may be one replaced as it was read (a share may clip it to
        // the size it had): the listing decides, as for any lock.
        if (record && record->clientId == QStringLiteral("?") && known != m_locks.end())
            continue;
        if (!record) {
            if (known != m_locks.end()) {
                m_locks.erase(known);
                changed.insert(id);
            }
            continue;
        }
        if (known == m_locks.end() || known->record != *record)
            changed.insert(id);
        m_locks.insert(id, Known{stamp, *record});
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

LockRecord LockTable::newRecord(const IdFor<VersionBundle>& initiator) const
{
    LockRecord record;
    record.clientId = m_clientId;
    record.userName = m_user.userName;
    record.fullName = m_user.fullName;
    record.hostName = m_user.hostName;
    record.initiator = initiator;
    record.date = QDateTime::currentDateTimeUtc();
    return record;
}

void LockTable::acquire(const QList<IdFor<VersionBundle>>& ids, const IdFor<VersionBundle>& initiator,
                        LockTakeover takeover, const QHash<IdFor<VersionBundle>, QString>& names)
{
    if (const auto hook = [this] {
            std::lock_guard lock(m_mutex);
            return m_beforeAcquire;
        }())
        hook();
    ensureDirectory(m_folder);
    // Always in the same order, so that two clients taking overlapping sets cannot both end
    // up holding part of what they asked for.
    QList<IdFor<VersionBundle>> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());

    QList<IdFor<VersionBundle>> taken;
    const auto giveBack = [&] {
        for (const auto& id : std::as_const(taken)) {
            try {
                releaseOne(id, initiator, heldOpenBound::beforePublishing);
            } catch (const Error&) {
                // Left for a force unlock: never fail the report of the first problem.
            }
        }
    };
    try {
        for (const auto& id : std::as_const(sorted)) {
            const QString path = pathFor(id);
            LockRecord record = newRecord(initiator);
            bool published = false;
            std::optional<LockRecord> existing;
            for (int attempt = 0; attempt < publishAttempts && !published && !existing; ++attempt) {
                published = publishFileExclusively(path, record.toJson());
                if (published)
                    published = confirmPublished(id, record, existing);
                else
                    existing = readLock(id);
            }
            if (published) {
                taken << id;
                continue;
            }
            if (existing && existing->clientId == m_clientId && existing->initiator == initiator)
                continue; // ours already
            if (takeover != LockTakeover::forceUnlock) {
                const auto holder = existing ? existing->holderDescription() : QString();
                giveBack();
                throw VersioningError(VersioningError::Case::itemLocked, names.value(id, id.toString()), holder);
            }
            // Taken over in one step: the new record replaces the old one atomically, so there
            // is never a moment without a lock for a poll to see, or for a third client to take.
            if (existing) {
                record.forced = true;
                record.previousClientId = existing->clientId;
                record.previousUserName = displayName(existing->fullName, existing->userName);
            }
            const QString temporary = lock_files::asideName(path);
            try {
                writeFileAtomically(temporary, record.toJson());
                posix::renameFile(temporary, path, path, heldOpenBound::beforePublishing);
            } catch (...) {
                QFile::remove(temporary);
                throw;
            }
            // Two clients forcing at once both replace the record; the last one holds it.
            const auto winner = readLock(id);
            if (!winner || winner->clientId != m_clientId || winner->initiator != initiator) {
                giveBack();
                throw VersioningError(VersioningError::Case::itemLocked, names.value(id, id.toString()),
                                      winner ? winner->holderDescription() : QString());
            }
            taken << id;
        }
    } catch (const VersioningError&) {
        throw;
    } catch (...) {
        giveBack();
        throw;
    }
    refresh();
}

} // namespace vantrel
