// Taking locks: the exclusive create of a record, reading it back before it counts, and a force
// unlock that replaces somebody else's record in one step.

#include "engine/locks/lock_files.h"
#include "engine/locks/lock_table.h"

#include "engine/engine_errors.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/storage_error.h"

#include <QFile>

#include <algorithm>

namespace vantrel {

namespace {

// How many times a lock is tried again when its record vanishes between the exclusive create
// that found it and the read of it (it was being given up).
constexpr int publishAttempts = 3;

} // namespace

using namespace lock_files;

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

bool LockTable::confirmPublished(const IdFor<VersionBundle>& id, const LockRecord& record,
                                 std::optional<LockRecord>& existing)
{
    // Where a share has no hard links the record is created exclusively and then written, and
    // through smbnetfs that create is not exclusive between two computers (it is a mknod that
    // opens what is there): two clients may both write the record, the later over the earlier,
    // leaving the tail of a longer one. Read back by name, the record tells who holds the lock;
    // one that reads as nobody's was made so by a race the reader just lost, and goes, so that
    // it holds up nobody.
    std::optional<LockRecord> now;
    try {
        now = readLock(id);
    } catch (const StorageError&) {
        return true; // published, as far as anybody can tell now: it is given up like any other
    }
    if (now && *now == record)
        return true;
    if (now && now->clientId != QStringLiteral("?")) {
        existing = now;
        return false;
    }
    const QString path = pathFor(id);
    if (now) {
        const QString aside = asideName(path);
        if (moveAside(path, aside, heldOpenBound::beforePublishing))
            removeAside(aside);
    }
    return false;
}

} // namespace vantrel
