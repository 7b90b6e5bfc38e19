#pragma once

#include "desktop/user_identity.h"
#include "engine/check_out_options.h"
#include "engine/id_for.h"
#include "engine/locks/lock_files.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

namespace vantrel {

// Who holds a bundle's lock, as written in its lock record.
struct LockRecord {
    QString clientId; // the installation that holds it
    QString userName;
    QString fullName;
    QString hostName;
    IdFor<VersionBundle> initiator; // the bundle whose check-out took this lock
    QDateTime date;
    bool forced = false;      // taken from somebody else
    QString previousClientId; // whom it was taken from
    QString previousUserName;

    QByteArray toJson() const;
    static LockRecord fromJson(const QByteArray& json); // throws DecodingError
    QString holderDescription() const;                  // "Ana Editor on studio-a"
    bool operator==(const LockRecord&) const = default;
};

// What the last holder of a lock published before giving it up: the record a new holder must
// have read before it builds on the bundle's current versions. Kept in `locks/<bundle>.released`,
// replaced at every release that published something.
struct ReleaseNote {
    QString clientId;
    qint64 seq = 0;

    QByteArray toJson() const;
    static ReleaseNote fromJson(const QByteArray& json); // throws DecodingError
};

// The locks of a team bundle: one exclusively created record per locked bundle in `locks/`,
// written only by the client holding that bundle's claim (`locks/<bundle>.claim`).
// Reads come from memory; refresh() rereads what changed on the share. What decides (a
// check-in, a discard, a revert, acquire() and release()) reads the records by name instead:
// a share may serve a stale listing and stale file attributes for many seconds.
class LockTable {
public:
    LockTable(QString folder, QString clientId, UserIdentity user);

    // Rereads the lock records whose file looks changed; returns the bundles whose record
    // changed (or that readNow() found changed since the last refresh).
    QSet<IdFor<VersionBundle>> refresh();
    // The lock record of `id` as the share holds it now, read by name, and kept in the table.
    // Blocking; throws StorageError, or TeamBundleError unreachable when no record is found and
    // the team bundle can't be reached (see setReachabilityCheck()).
    std::optional<LockRecord> readNow(const IdFor<VersionBundle>& id);
    // Whether this installation holds the lock of `id` for `initiator`, by readNow().
    bool isMineNow(const IdFor<VersionBundle>& id, const IdFor<VersionBundle>& initiator);
    // Rereads the lock records of `ids` by name, which a share answers from the files where it
    // may answer a listing from a cache; returns the bundles whose lock changed. Read as readNow()
    // reads, except that what tells nothing for sure leaves a lock as it was known: a record that
    // can't be read now, one not found while the bundle can't be reached, one that does not read.
    QSet<IdFor<VersionBundle>> reread(const QSet<IdFor<VersionBundle>>& ids);

    std::optional<LockRecord> holder(const IdFor<VersionBundle>& id) const;
    // Whether this installation holds the lock through the check-out of `initiator`.
    bool isMine(const IdFor<VersionBundle>& id, const IdFor<VersionBundle>& initiator) const;
    bool isMine(const IdFor<VersionBundle>& id) const;

    // Takes the locks of `ids` for `initiator`, all or none. Locks this installation already
    // holds for the same initiator count as taken. With LockTakeover::none, a lock held by
    // anybody else makes it throw VersioningError (itemLocked) naming the holder; with
    // LockTakeover::forceUnlock, such locks are taken over. Blocking; throws StorageError.
    void acquire(const QList<IdFor<VersionBundle>>& ids, const IdFor<VersionBundle>& initiator, LockTakeover takeover,
                 const QHash<IdFor<VersionBundle>, QString>& names = {});
    // Gives up the locks of `ids` that this installation holds for `initiator`. Each is tried,
    // also after one failed; the first failure is then thrown (TeamBundleError unreachable for a
    // record not found while the bundle can't be reached: it may still be there).
    void release(const QList<IdFor<VersionBundle>>& ids, const IdFor<VersionBundle>& initiator);
    // The same, never throwing: returns the locks it could not give up now (the share refused,
    // for longer than `heldOpen` when another client held the record open, or can't be reached),
    // with the first reason in `failure`.
    QList<IdFor<VersionBundle>> tryRelease(const QList<IdFor<VersionBundle>>& ids,
                                           const IdFor<VersionBundle>& initiator, std::chrono::milliseconds heldOpen,
                                           QString& failure);

    // Leaves `note` for whoever takes the locks of `ids` next. Call it before release().
    // Blocking; throws StorageError.
    void leaveReleaseNote(const QList<IdFor<VersionBundle>>& ids, const ReleaseNote& note,
                          std::chrono::milliseconds heldOpen);
    // The note the last holder of `id` left; absent when there is none or it does not read.
    // Blocking; throws StorageError when the share can't be read.
    std::optional<ReleaseNote> releaseNote(const IdFor<VersionBundle>& id) const;

    // Tells whether the team bundle can be reached now. A share that went away (unmounted, its
    // server stopped, the bundle's folder gone) shows no lock records at all, or answers with
    // errors: a lock whose record is not found, or that a listing no longer shows, counts as
    // given up only while the bundle can be reached; otherwise the table keeps what it knew.
    // Called without the table's mutex, possibly from several threads. By default it can.
    void setReachabilityCheck(std::function<bool()> check);

    // Called at the start of every acquire(), on its thread: lets a test hold a client there.
    void setBeforeAcquireForTesting(std::function<void()> hook);
    // Called at the end of every release(), on its thread: lets a test act right after it.
    void setAfterReleaseForTesting(std::function<void()> hook);
    // Called in a release right after a record was moved aside as `aside`, before it is read
    // back: lets a test stand for a teammate or a share acting then (a StorageError thrown counts
    // as a read that failed).
    void setAsideMovedForTesting(std::function<void(const QString& aside)> hook);

private:
    QString pathFor(const IdFor<VersionBundle>& id) const;
    QString notePathFor(const IdFor<VersionBundle>& id) const;
    std::optional<LockRecord> readLock(const IdFor<VersionBundle>& id) const;
    // Who reads a lock by name, which decides what is made of a record that tells nothing for sure.
    enum class ByName {
        deciding, // a decision rests on it: it is thrown, or taken as it reads
        watching, // the table keeps what it knew
    };
    // The one read of a lock record by name, for readNow() and reread(): reads the record of `id`,
    // takes it into the table and returns it; `changed` tells whether the table changed. Whether
    // the bundle can be reached is asked only for a record not found, and once for all reads
    // sharing `reachable`. Throws as readNow() does, the table then left as it was.
    std::optional<LockRecord> readByName(const IdFor<VersionBundle>& id, ByName use, std::optional<bool>& reachable,
                                         bool& changed);
    bool isReachable() const;
    LockRecord newRecord(const IdFor<VersionBundle>& initiator) const;
    // Whether the record just published for `id` is `record` as read back by name; otherwise
    // `existing` gets the holder it names, if any.
    bool confirmPublished(const IdFor<VersionBundle>& id, const LockRecord& record,
                          std::optional<LockRecord>& existing);
    bool releaseOne(const IdFor<VersionBundle>& id, const IdFor<VersionBundle>& initiator,
                    std::chrono::milliseconds heldOpen);
    enum class Taken {
        now,     // published by this call
        already, // this installation held it for the same initiator
        refused, // `existing` names the holder, if any
    };
    // Takes the lock of `id`, its claim held: by exclusive create where it is free, else by
    // replacing the record with LockTakeover::forceUnlock. Throws StorageError.
    Taken takeLock(const IdFor<VersionBundle>& id, const IdFor<VersionBundle>& initiator, LockTakeover takeover,
                   std::optional<LockRecord>& existing);
    QString claimPathFor(const IdFor<VersionBundle>& id) const;
    // Claims the right to write the lock record of `id`, waiting a few seconds for another
    // client's claim to go. Not held when a whole record appears meanwhile (`holder` names it;
    // with LockTakeover::forceUnlock it is still waited for), or when a claim stays with no
    // record (`holder` is "?"); a force unlock clears such a claim and takes it. Throws StorageError.
    lock_files::Claim claim(const IdFor<VersionBundle>& id, LockTakeover takeover,
                            std::optional<LockRecord>& holder);
    // The lock record of `id` read by name, the claim held: one that reads as nobody's is read
    // again for a moment first.
    std::optional<LockRecord> readClaimed(const IdFor<VersionBundle>& id);
    // Puts the record moved aside as `aside` (whose bytes are `bytes`, when they could be read)
    // back as the lock of `id`, holding the claim, only where no lock is held; `wait` waits for
    // the claim as claim() does. Whether it was put back.
    bool putBack(const IdFor<VersionBundle>& id, const QString& aside, const std::optional<QByteArray>& bytes,
                 bool wait);
    // Puts back or removes the records this installation moved aside and could not remove,
    // `names` in the lock folder; only while no lock operation of this process runs.
    void sweepAside(const QStringList& names);
    // Counts as a lock operation of this process while it lives: no sweep runs meanwhile.
    class Operation {
    public:
        explicit Operation(LockTable& table);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

    private:
        LockTable& m_table;
    };
    void afterRelease();

    QString m_folder;
    QString m_clientId;
    QString m_asideOwner; // in the names of the records this installation moves aside
    UserIdentity m_user;
    mutable std::mutex m_mutex;
    std::mutex m_operationsMutex; // held by a sweep, and to count lock operations
    int m_lockOperations = 0;
    struct Known {
        QString stamp; // size, modification time (and inode, where stable) of the record file when read
        LockRecord record;
    };
    QHash<IdFor<VersionBundle>, Known> m_locks;
    QSet<IdFor<VersionBundle>> m_changedSinceRefresh; // by readNow()
    std::function<bool()> m_reachable;
    std::function<void()> m_beforeAcquire;
    std::function<void()> m_afterRelease;
    std::function<void(const QString&)> m_asideMoved;
};

} // namespace vantrel
