#pragma once

#include "engine/id_for.h"
#include "engine/locks/lock_table.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

namespace vantrel {

// What a check-out that ended still has to do on the share: leave the note naming its last
// record, then give its locks up. A change that is published is done, whatever becomes of these
// steps; a share may refuse them for a while (SMB, while another client reads a record), and the
// process may end first. So they are noted on the local disk (`releases/<bundle>.json`) before
// they are tried, and whatever is left is done again by the poll, in this run or the next: no
// lock outlives the change that took it. A lock that is no longer this check-out's (its record,
// read by name, names another client or initiator, or nobody) is left alone, and so is its note:
// whoever took the lock leaves the note its next holder waits for.
struct PendingRelease {
    IdFor<VersionBundle> initiator; // the bundle whose check-out took the locks
    QList<IdFor<VersionBundle>> locks;
    std::optional<ReleaseNote> note; // left for each of `locks` before any is given up

    QByteArray toJson() const;
    static PendingRelease fromJson(const QByteArray& json); // throws DecodingError
};

class PendingReleases {
public:
    // `dropped` is told (for the log) of each lock left to another holder, its note not left.
    PendingReleases(QString folder, LockTable& locks, std::function<void(const QString&)> dropped = {});

    // Notes `release` (merged with what is noted for its initiator already) and does it, trying
    // a record another client holds open for `heldOpen`. Never throws: returns why something is
    // left for later, empty when all is done.
    QString run(const PendingRelease& release, std::chrono::milliseconds heldOpen);
    // Does everything noted; returns a text for each release that failed differently than the
    // last time (for the log).
    QStringList finish(std::chrono::milliseconds heldOpen);
    // The locks of `ids` are ours again through a new check-out of `initiator`: those it takes as
    // its own (taken for the same initiator) are no longer given up. One taken for another
    // initiator (a library's check-out, for an event another library holds too) is still given
    // up: the new check-out can't take it before.
    void keep(const QList<IdFor<VersionBundle>>& ids, const IdFor<VersionBundle>& initiator);
    bool isEmpty() const;

private:
    QString runLocked(PendingRelease& release, std::chrono::milliseconds heldOpen);
    // Drops from `release` the locks that are no longer its check-out's; returns false when one
    // can't be read now (`failure` then says why), and that lock stays.
    bool keepOnlyOurs(PendingRelease& release, QString& failure);
    void save(const PendingRelease& release) noexcept;
    QString pathFor(const IdFor<VersionBundle>& initiator) const;

    QString m_folder;
    LockTable& m_locks;
    std::function<void(const QString&)> m_dropped;
    std::mutex m_mutex;                 // held while a release runs: one at a time
    std::atomic<qsizetype> m_count = 0; // of m_pending, read without the mutex
    QHash<IdFor<VersionBundle>, PendingRelease> m_pending;
    QHash<IdFor<VersionBundle>, QString> m_lastFailure;
};

} // namespace vantrel
