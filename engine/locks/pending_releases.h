#pragma once

#include "engine/id_for.h"
#include "engine/locks/lock_table.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>

namespace vantrel {

// What a check-out that ended still has to do on the share: leave the note naming its last
// record, then give its locks up. A change that is published is done, whatever becomes of these
// steps; a share may refuse them for a while (SMB, while another client reads a record), and the
// process may end first. So they are noted on the local disk (`releases/<bundle>.json`) before
// they are tried, and whatever is left is done again by the poll, in this run or the next: no
// lock outlives the change that took it. A lock that is no longer ours is left alone.
struct PendingRelease {
    IdFor<VersionBundle> initiator; // the bundle whose check-out took the locks
    QList<IdFor<VersionBundle>> locks;
    std::optional<ReleaseNote> note; // left for each of `locks` before any is given up

    QByteArray toJson() const;
    static PendingRelease fromJson(const QByteArray& json); // throws DecodingError
};

class PendingReleases {
public:
    PendingReleases(QString folder, LockTable& locks);

    // Notes `release` (merged with what is noted for its initiator already) and does it, trying
    // a record another client holds open for `heldOpen`. Never throws: returns why something is
    // left for later, empty when all is done.
    QString run(const PendingRelease& release, std::chrono::milliseconds heldOpen);
    // Does everything noted; returns a text for each release that failed differently than the
    // last time (for the log).
    QStringList finish(std::chrono::milliseconds heldOpen);
    // The locks of `ids` are ours again through a new check-out: they are no longer given up.
    void keep(const QList<IdFor<VersionBundle>>& ids);
    bool isEmpty() const;

private:
    QString runLocked(PendingRelease& release, std::chrono::milliseconds heldOpen);
    void save(const PendingRelease& release) noexcept;
    QString pathFor(const IdFor<VersionBundle>& initiator) const;

    QString m_folder;
    LockTable& m_locks;
    std::mutex m_mutex;                 // held while a release runs: one at a time
    std::atomic<qsizetype> m_count = 0; // of m_pending, read without the mutex
    QHash<IdFor<VersionBundle>, PendingRelease> m_pending;
    QHash<IdFor<VersionBundle>, QString> m_lastFailure;
};

} // namespace vantrel
