#pragma once

#include "engine/id_for.h"
#include "engine/user_identity.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

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
    bool forced = false;         // taken from somebody else
    QString previousClientId;    // whom it was taken from
    QString previousUserName;

    QByteArray toJson() const;
    static LockRecord fromJson(const QByteArray& json); // throws DecodingError
    QString holderDescription() const;                  // "Ana Editor on studio-a"
};

// The locks of a team bundle: one exclusively created record per locked bundle in `locks/`.
// Reads come from memory; refresh() rereads what changed on the share.
class LockTable {
public:
    LockTable(QString folder, QString clientId, UserIdentity user);

    // Rereads the lock records; returns the bundles whose lock changed.
    QSet<IdFor<VersionBundle>> refresh();

    std::optional<LockRecord> holder(const IdFor<VersionBundle>& id) const;
    // Whether this installation holds the lock through the check-out of `initiator`.
    bool isMine(const IdFor<VersionBundle>& id, const IdFor<VersionBundle>& initiator) const;
    bool isMine(const IdFor<VersionBundle>& id) const;

    // Takes the locks of `ids` for `initiator`, all or none. Locks this installation already
    // holds for the same initiator count as taken. Without `force`, a lock held by anybody
    // else makes it throw VersioningError (itemLocked) naming the holder; with `force`, such
    // locks are taken over. Blocking; throws StorageError.
    void acquire(const QList<IdFor<VersionBundle>>& ids, const IdFor<VersionBundle>& initiator, bool force,
                 const QHash<IdFor<VersionBundle>, QString>& names = {});
    // Gives up the locks of `ids` that this installation holds for `initiator`.
    void release(const QList<IdFor<VersionBundle>>& ids, const IdFor<VersionBundle>& initiator);

private:
    QString pathFor(const IdFor<VersionBundle>& id) const;
    std::optional<LockRecord> readLock(const IdFor<VersionBundle>& id) const;
    LockRecord newRecord(const IdFor<VersionBundle>& initiator) const;
    bool releaseOne(const IdFor<VersionBundle>& id, const IdFor<VersionBundle>& initiator);

    QString m_folder;
    QString m_clientId;
    UserIdentity m_user;
    mutable std::mutex m_mutex;
    struct Known {
        QString stamp; // size, inode and modification time of the record file when read
        LockRecord record;
    };
    QHash<IdFor<VersionBundle>, Known> m_locks;
};

} // namespace vantrel
