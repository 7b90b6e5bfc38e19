#pragma once

#include "engine/engine_errors.h"
#include "engine/id_for.h"
#include "engine/locks/checkout_registry.h"
#include "engine/locks/lock_table.h"
#include "engine/locks/pending_releases.h"
#include "engine/logger.h"
#include "engine/share/share_probe.h"
#include "engine/storage/content_store.h"
#include "engine/storage/held_open.h"
#include "engine/team_state.h"
#include "desktop/user_identity.h"
#include "engine/version_bundle.h"
#include "foundation/publisher.h"

#include <QCoroTask>
#include <QSet>
#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vantrel {

class ChangeWatcher;
class ClientLease;
class SharedFolder;
class FileManaging;
class WorkspaceInterfacing;
class VersionBundles;
class StatCache;
class ReachabilityProbe;

// Who this installation is: its client id and the person using it.
struct ClientIdentity {
    QString clientId;
    UserIdentity user;
    static ClientIdentity current();
};

// The bundles that changed, as the team bundle publishes them.
struct TeamBundleChange {
    QSet<IdFor<VersionBundle>> bundles;
    // Bundles this installation had checked out whose lock somebody took, with who took it.
    QHash<IdFor<VersionBundle>, QString> forceUnlockedBy;
};

// An open team bundle. See engine/README.md for its layout. Reads are served from memory;
// changes made by other clients arrive through a poll on a background thread.
class TeamBundle : public std::enable_shared_from_this<TeamBundle> {
public:
    static const QString fileExtension;  // "vantrelteam"
    static const QString contentType;    // the content type of team bundles
    static const QString pathStorageKey; // the settings key of the last opened bundle's path
    // 2: a version's tree is a tree of folder trees stored by hash (format 1 stored one list).
    // 3: as 2, and files larger than chunking::threshold are stored in chunks.
    // 4: as 3, the chunks written into packs, and a chunked file's identity its chunk list's.
    // New bundles are made in the current format; a bundle of format 2 keeps storing every file
    // whole and one of format 3 every chunk as an object, so that older clients go on using them.
    static constexpr int currentFormat = 4;
    static constexpr int oldestFormat = 2;

    // Opens the team bundle at `path`. Throws TeamBundleError (clientInUse when another process of
    // this machine acts as the same client: see ClientLease; olderFormat for a bundle of a format
    // this version no longer reads).
    static std::shared_ptr<TeamBundle> open(const QString& path, std::shared_ptr<FileManaging> fileManager,
                                            std::shared_ptr<WorkspaceInterfacing> workspace,
                                            const ClientIdentity& identity = ClientIdentity::current());
    // Creates an empty team bundle at `path` (which must not exist) and opens it. In a folder
    // that is writable by its group or setgid, the bundle is shared with that group (its
    // description says so, and every client then makes what it adds to it usable by the group:
    // see shared_folders.h).
    static std::shared_ptr<TeamBundle> create(const QString& path, std::shared_ptr<FileManaging> fileManager,
                                              std::shared_ptr<WorkspaceInterfacing> workspace,
                                              const ClientIdentity& identity = ClientIdentity::current());
    ~TeamBundle();

    TeamBundle(const TeamBundle&) = delete;
    TeamBundle& operator=(const TeamBundle&) = delete;

    QString name() const { return m_name; }
    // Why this user can only read the team bundle (TeamBundleError readOnly: which folder, whose
    // it is and what to ask for), none when they may write it. Judged when it was opened.
    const std::optional<TeamBundleError>& writeProblem() const { return m_writeProblem; }
    // What the share answered when a file this client held open was replaced, moved aside and
    // removed, as found at open (nothing refused when the bundle opened for reading only): on
    // SMB those steps must be retried until the other client lets go.
    const OpenFileHandling& shareOpenFiles() const { return m_shareOpenFiles; }
    const QString& rootPath() const { return m_root; }
    QUrl rootURL() const { return QUrl::fromLocalFile(m_root); }
    const UserIdentity& user() const { return m_identity.user; }
    const QString& clientId() const { return m_identity.clientId; }
    Logger& log() const { return *m_log; }
    VersionBundles& versionBundles() const { return *m_versionBundles; }
    ContentStore& contents() const { return *m_contents; }
    LockTable& locks() const { return *m_locks; }
    CheckoutRegistry& checkouts() const { return *m_checkouts; }
    // The watch of working copies on the local disk (shared by the process); the working
    // copies this team bundle watches are given up with it.
    ChangeWatcher& changeWatcher() const { return *m_changeWatcher; }
    FileManaging& fileManager() const { return *m_fileManager; }
    WorkspaceInterfacing& workspace() const { return *m_workspace; }
    // The services the bundle was opened with, for the services made for its items.
    const std::shared_ptr<FileManaging>& sharedFileManager() const { return m_fileManager; }
    const std::shared_ptr<WorkspaceInterfacing>& sharedWorkspace() const { return m_workspace; }

    // The folder in which the engine keeps what it must not lose of one bundle; created when
    // missing. Throws StorageError.
    QString atticPath(const IdFor<VersionBundle>& id) const;
    // A local folder holding, as ordinary files, every copy the attic keeps of one bundle: one
    // entry per copy, named by when and why it was kept. Copies written before are not written
    // again. Blocking; throws StorageError.
    QString materializeAttic(const IdFor<VersionBundle>& id) const;
    // Fails with LaunchError when nothing can show it.
    QCoro::Task<> showInFileManager() const;

    // The state of every bundle now, from memory.
    std::shared_ptr<const TeamSnapshot> snapshot() const { return m_model.snapshot(); }
    // Records and files that could not be read, each described in one line.
    QStringList problems() const;

    // Every change, made here or by another client.
    AnyPublisher<TeamBundleChange> changes() const { return m_changes.publisher(); }

    // Whether the team bundle's marker read by name at the last look (each poll, and at least
    // every second while polls are due every few seconds): false while its share is unmounted,
    // disconnected or hung, or the folder is gone. A read that does not answer within a bound
    // counts as "can't be reached" (see ReachabilityProbe).
    bool isReachable() const { return m_reachable; }
    // Each change of isReachable(), from the poll thread or the heartbeat's.
    AnyPublisher<bool> reachabilityChanges() const { return m_reachabilityChanges.publisher(); }
    // Looks for the marker by name now and publishes a change of reachability. Blocks for at
    // most the probe's bound (a few seconds) however the share hangs.
    bool checkReachable();
    // How many looks for the marker have failed since the bundle was opened.
    unsigned long long failedLooks() const { return m_failedLooks; }
    // How long the look under way has gone unanswered (zero when none is under way). From memory.
    std::chrono::steady_clock::duration lookUnansweredFor() const;
    // The changes running on workers (see bounded_change.h), and those of them no longer waited
    // for because the share stopped answering, changed by `running` and `givenUp`. While a change
    // runs, the heartbeat looks for the marker whatever the poll interval.
    void countChange(int running, int givenUp);
    int changesGivenUp() const { return m_changesGivenUp; }

    // Writes changes as one record, all or nothing, reads it back by name and folds it in at
    // once. Blocking; throws StorageError, or TeamBundleError (replacedUnderChange) when the
    // bundle was replaced by an older copy of itself meanwhile. A record published is never
    // reported as failed because the share went away just after: it is read back at a later poll.
    // The contents the change stored (`written`) are kept from the moment its record is written:
    // before that, a failure leaves them to be removed.
    std::vector<JournalRecord> commit(const std::vector<JournalChange>& changes,
                                      ContentStore::Written* written = nullptr);
    std::vector<JournalRecord> commit(RecordKind kind, const IdFor<VersionBundle>& bundle, const QJsonObject& fields);
    // Whether the bundle as it is now holds record `record` (of this client) and, read by name,
    // every tree and content below the root trees `trees`. Throws TeamBundleError
    // (unreachable) when it can't be read now. Blocking.
    bool holdsWhole(const JournalStamp& record, const QSet<ContentHash>& trees) const;
    // Reads what other clients wrote since the last poll. Blocking.
    void poll();
    void setPollInterval(std::chrono::milliseconds interval);
    // Makes the journal read other clients' records as through a share whose listings lag by
    // `lag` (see Journal::setListingLagForTesting). For tests.
    void setJournalListingLagForTesting(std::chrono::milliseconds lag);
    // See Journal::setPackThresholdForTesting and Journal::setPackObserverForTesting. For tests.
    void setJournalPackThresholdForTesting(int threshold);
    void setJournalPackObserverForTesting(std::function<void(int removed)> observe);
    // Where a commit is when it calls the observer: before it reads the trees it names back
    // (checking), after that and just before its record is written (publishing), just after
    // (published).
    enum class CommitStep { checking, publishing, published };
    // Called by each commit at each of its steps. For tests.
    void setCommitObserverForTesting(std::function<void(CommitStep)> observe);

    // Keeps a copy of the file or package at `path` in the bundle's attic, stored like a
    // version (only contents the team bundle does not have yet take space), and returns its root
    // tree. No entry is written when that tree is `keptLast` (the copy kept last is the same).
    // Blocking.
    ContentHash keepInAttic(const IdFor<VersionBundle>& id, const QString& path, const QString& reason,
                            StatCache* cache = nullptr, const std::optional<ContentHash>& keptLast = std::nullopt);
    // Polls until this client has read every record the notes name (the last check-ins of the
    // bundles whose locks were just taken), so that work builds on them. A share whose listings
    // lag shows them late; after the wait limit, throws VersioningError (changesNotArrived)
    // naming `itemName`. A named record found damaged is not waited for (it is reported as a
    // problem of the bundle). Blocking.
    void awaitRecords(const QList<ReleaseNote>& notes, const QString& itemName);
    void setRecordWaitLimit(std::chrono::milliseconds limit);

    // Publishes a change of the given bundles without a record (locks taken or given up here).
    void announce(const QSet<IdFor<VersionBundle>>& changed);
    // Ends this client's check-out of `bundle`: leaves `note` (the record that ended it) for the
    // next holders of `locked`, gives up the locks of `locked` it holds, then removes its record.
    // Meanwhile no poll takes the lock given up for one somebody took. Called once the change
    // that ends it is published (or nothing is to be published), so it never throws: a step the
    // share refuses now is finished later (see giveUpLocks()). Blocking.
    void endCheckout(const IdFor<VersionBundle>& bundle, const QList<IdFor<VersionBundle>>& locked,
                     const std::optional<ReleaseNote>& note = std::nullopt);
    // Leaves `note` for the next holders of `locked` and gives up their locks taken for
    // `initiator`. Never throws: what the share refuses now is noted on the local disk and done
    // by the poll, in this run or the next (see PendingReleases). Blocking.
    void giveUpLocks(const IdFor<VersionBundle>& initiator, const QList<IdFor<VersionBundle>>& locked,
                     const std::optional<ReleaseNote>& note = std::nullopt);
    // Before a check-out of `initiator` takes the locks of `ids`: what is left to give up is tried
    // once more, and locks of `ids` still ours for `initiator` are no longer given up (the
    // check-out holds them again); those taken for another initiator still are.
    void settleReleases(const QList<IdFor<VersionBundle>>& ids, const IdFor<VersionBundle>& initiator);
    // How long giving up a lock after a published change waits while the share refuses (a test
    // that makes the share refuse need not wait the whole bound).
    void setReleaseWaitForTesting(std::chrono::milliseconds wait);

    // Removes stored contents and trees that no version of any bundle (nor the attic) uses any
    // more and that were neither stored nor refreshed within `gracePeriod` by the share's clock (a
    // client may be storing a version that will use them; see engine/README.md, "What a
    // collection may remove"). Removes nothing, and logs why, when the share can't be reached or
    // its time can't be measured, when this client's view of the journal is not complete
    // (Journal::incompleteView()), or when the attic, an attic entry or a version's tree cannot
    // be read. Temporary files writers left in the journal and the locks go as well. Blocking;
    // returns how many stored files it removed.
    int collectGarbage(std::chrono::seconds gracePeriod = std::chrono::hours(24));

    // Where working copies and temporary copies of this team bundle live on the local disk.
    QString localFolder(const QString& kind) const;
    // The stat cache of bundle `id` on the local disk, `<cache folder>/<id>.statcache`; the folder
    // is made when missing. Blocking; throws StorageError.
    QString statCacheFile(const IdFor<VersionBundle>& id) const;
    // The stat cache of bundle `id`, read from its file on first use and then kept in memory, so
    // that a check-in right after its check-out does not read the records of the whole library
    // again. The caches of the bundles used last are kept, up to a total number of records.
    // Blocking; throws StorageError when the cache folder cannot be made.
    std::shared_ptr<StatCache> statCache(const IdFor<VersionBundle>& id);

private:
    TeamBundle(QString root, std::shared_ptr<FileManaging> fileManager, std::shared_ptr<WorkspaceInterfacing> workspace,
               ClientIdentity identity, QString teamId);
    void start();
    void publish(const QSet<IdFor<VersionBundle>>& changed, QHash<IdFor<VersionBundle>, QString> forceUnlockedBy = {});
    void autoSave();
    // Gives up what PendingReleases holds, logging what the share still refuses.
    void finishReleases();
    // Writes the attic entry of a copy of `name` whose tree (stored) is `tree`.
    void writeAtticEntry(const IdFor<VersionBundle>& id, const QString& name, const ContentHash& tree,
                         const QString& reason, const QStringList& skipped);
    // Makes the folder `path` of the team bundle, or checks the one there: anything but a folder
    // (a link) is refused, so that nothing written into the bundle lands outside it.
    static void ensureOwnFolder(const QString& path);
    // What reading a published record back by name found.
    enum class Readback {
        held,            // the record and what was checked of its contents are there
        recordMissing,   // the marker reads, the record doesn't: an older copy of the bundle
        contentsMissing, // the record reads, a tree or content it names doesn't
        unreachable,     // the bundle can't be read now (its share went away)
    };
    // Reads back by name record `record` and the root trees `trees` (with `everyContent`, every
    // tree below them and every content they name, each opened by name).
    Readback readBack(const JournalStamp& record, const QSet<ContentHash>& trees, bool everyContent) const;
    // Withdraws the versions of `records` (folded, published, their contents missing) that are
    // still current, with a record of this client's: every client then keeps the version before.
    void withdraw(const std::vector<JournalRecord>& records);
    // Reads back the records published while the share could not be reached.
    void confirmUnconfirmed();
    // Adds `problem` to problems() and the log, once.
    void reportProblem(const QString& problem);
    // Reads each of `trees` by name; throws TeamBundleError (replacedUnderChange) for one missing.
    void confirmTrees(const QSet<ContentHash>& trees) const;
    // Rereads the lock table: the listing of the locks, and by name the locks of `named` (the
    // bundles new records of other clients took, checked in or gave up) and of those named
    // lately whose lock files the listing may not show as they are yet.
    QSet<IdFor<VersionBundle>> refreshLocks(QHash<IdFor<VersionBundle>, QString>& forceUnlockedBy,
                                            const QSet<IdFor<VersionBundle>>& named);
    QSet<IdFor<VersionBundle>> rereadLocks(const QSet<IdFor<VersionBundle>>& named);
    void pollLoop(std::weak_ptr<TeamBundle> weakSelf);
    void heartbeatLoop();
    // Asks the background thread to pack this client's journal now rather than at its next poll.
    void requestPack();
    void packJournal();

    // First, so that what is made in the bundle is made as it is shared until the very end.
    std::unique_ptr<SharedFolder> m_sharedFolder;
    // Then, so that the client id is given back only after everything that uses it is gone.
    std::unique_ptr<ClientLease> m_clientLease;
    std::optional<TeamBundleError> m_writeProblem;
    OpenFileHandling m_shareOpenFiles;
    QString m_root;
    QString m_name;
    QString m_teamId;
    ClientIdentity m_identity;
    std::shared_ptr<FileManaging> m_fileManager;
    std::shared_ptr<WorkspaceInterfacing> m_workspace;
    std::unique_ptr<Logger> m_log;
    std::unique_ptr<ContentStore> m_contents;
    std::unique_ptr<Journal> m_journal;
    std::unique_ptr<LockTable> m_locks;
    std::unique_ptr<CheckoutRegistry> m_checkouts;
    std::unique_ptr<PendingReleases> m_releases;
    std::atomic<qint64> m_releaseWaitMs{heldOpenBound::afterPublishing.count()};
    std::shared_ptr<ChangeWatcher> m_changeWatcher;
    std::unique_ptr<VersionBundles> m_versionBundles;
    std::mutex m_statCachesMutex;
    std::vector<std::pair<IdFor<VersionBundle>, std::shared_ptr<StatCache>>> m_statCaches; // last used first
    TeamModel m_model;
    PassthroughSubject<TeamBundleChange> m_changes;
    std::function<void(CommitStep)> m_commitObserver;
    // Records published while the share could not be read back, to confirm at a later poll.
    std::mutex m_unconfirmedMutex;
    std::vector<std::vector<JournalRecord>> m_unconfirmed;
    std::unique_ptr<ReachabilityProbe> m_markerProbe;
    std::mutex m_reachabilityMutex;
    std::atomic<bool> m_reachable{true};
    std::atomic<std::chrono::steady_clock::rep> m_lastLook{0}; // when checkReachable() last answered
    std::atomic<unsigned long long> m_failedLooks{0};
    std::atomic<int> m_changesRunning{0};
    std::atomic<int> m_changesGivenUp{0};
    PassthroughSubject<bool> m_reachabilityChanges;

    mutable std::mutex m_problemsMutex;
    QStringList m_problems;

    // The check-outs endCheckout() is ending. The poll looks at each check-out with the mutex
    // held, so that none begins to end while it decides whether its lock was taken.
    std::mutex m_endingMutex;
    QSet<IdFor<VersionBundle>> m_ending;

    // Bundles whose lock files are read by name at every poll, and until when at least.
    std::mutex m_lockWatchMutex;
    QHash<IdFor<VersionBundle>, std::chrono::steady_clock::time_point> m_lockWatch;

    std::mutex m_pollMutex;
    std::condition_variable m_pollWake;
    bool m_stopping = false;
    bool m_pollIntervalChanged = false;
    bool m_packRequested = false;
    std::chrono::milliseconds m_pollInterval{2000};
    std::atomic<qint64> m_recordWaitLimitMs{60000};
    std::thread m_poller;
    std::thread m_heartbeat; // looks for the marker while a poll is held up by a share that hangs
};

} // namespace vantrel
