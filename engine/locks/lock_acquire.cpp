// Taking locks: the claim, the exclusive create of a record, reading it back before it counts,
// and a force unlock that replaces somebody else's record in one step.

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
    const auto refuse = [&](const IdFor<VersionBundle>& id, const std::optional<LockRecord>& holder) {
        giveBack();
        throw VersioningError(VersioningError::Case::itemLocked, names.value(id, id.toString()),
                              holder ? holder->holderDescription() : QString());
    };
    {
        const Operation operation(*this);
        try {
            for (const auto& id : std::as_const(sorted)) {
                std::optional<LockRecord> existing;
                // Only the client holding the claim writes the record: with it, the record read
                // by name tells whether the lock is free, also where an exclusive create is not
                // exclusive between two computers (smbnetfs).
                const Claim claimed = claim(id, takeover, existing);
                const bool ours = existing && existing->clientId == m_clientId && existing->initiator == initiator;
                if (!claimed.isHeld() && ours)
                    continue;
                const Taken outcome = claimed.isHeld() ? takeLock(id, initiator, takeover, existing) : Taken::refused;
                if (outcome == Taken::refused)
                    refuse(id, existing);
                if (outcome == Taken::now)
                    taken << id;
            }
        } catch (const VersioningError&) {
            throw;
        } catch (...) {
            giveBack();
            throw;
        }
    }
    refresh();
}

LockTable::Taken LockTable::takeLock(const IdFor<VersionBundle>& id, const IdFor<VersionBundle>& initiator,
                                     LockTakeover takeover, std::optional<LockRecord>& existing)
{
    const QString path = pathFor(id);
    LockRecord record = newRecord(initiator);
    // Read by name first, the claim held; the exclusive create stays, for clients of older
    // versions, which write records without a claim.
    for (int attempt = 0; attempt < publishAttempts; ++attempt) {
        existing = readClaimed(id);
        if (existing)
            break;
        if (publishFileExclusively(path, record.toJson())) {
            if (confirmPublished(id, record, existing))
                return Taken::now;
            if (existing)
                break;
        }
    }
    if (existing && existing->clientId == m_clientId && existing->initiator == initiator)
        return Taken::already;
    if (takeover != LockTakeover::forceUnlock)
        return Taken::refused;
    // Taken over in one step: the new record replaces the old one atomically, so there is never
    // a moment without a lock for a poll to see, or for a third client to take.
    if (existing) {
        record.forced = true;
        record.previousClientId = existing->clientId;
        record.previousUserName = displayName(existing->fullName, existing->userName);
    }
    const QString temporary = asideName(path, m_asideOwner);
    try {
        writeFileAtomically(temporary, record.toJson());
        posix::renameFile(temporary, path, path, heldOpenBound::beforePublishing);
    } catch (...) {
        QFile::remove(temporary);
        throw;
    }
    // A client of an older version forcing at the same time replaces the record too; the last
    // one holds it.
    existing = readLock(id);
    return existing && existing->clientId == m_clientId && existing->initiator == initiator ? Taken::now
                                                                                            : Taken::refused;
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
        const QString aside = asideName(path, m_asideOwner);
        if (moveAside(path, aside, heldOpenBound::beforePublishing))
            removeAside(aside);
    }
    return false;
}

} // namespace vantrel
