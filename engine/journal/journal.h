#pragma once

#include "desktop/user_identity.h"
#include "engine/id_for.h"
#include "engine/journal/client_register.h"
#include "engine/journal/record_fields.h"
#include "engine/journal/record_kind.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <compare>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vantrel {

class StorageError;

// Orders records of all clients the same way everywhere: Lamport number, then writer, then
// the writer's own sequence.
struct JournalStamp {
    qint64 lamport = 0;
    QString client;
    qint64 seq = 0;
    int sub = 0; // the position of the change within its record

    friend std::strong_ordering operator<=>(const JournalStamp& a, const JournalStamp& b)
    {
        if (auto order = a.lamport <=> b.lamport; order != 0)
            return order;
        if (auto order = QString::compare(a.client, b.client); order != 0)
            return order < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
        if (auto order = a.seq <=> b.seq; order != 0)
            return order;
        return a.sub <=> b.sub;
    }
    friend bool operator==(const JournalStamp& a, const JournalStamp& b) = default;
};

// One change to one bundle. A record file holds one or more changes that take effect
// together (an import creates a library, its events and their nesting at once).
struct JournalRecord {
    // A team's history holds hundreds of thousands of records: the kind goes in the stamp's
    // padding.
    [[no_unique_address]] JournalStamp stamp;
    RecordKind kind = RecordKind::unknown;
    IdFor<VersionBundle> bundle = IdFor<VersionBundle>(QUuid());
    QDateTime date;
    // Who wrote it, as the record names them: one object shared by the changes of a record, and
    // by all the records of one person once folded.
    std::shared_ptr<const UserIdentity> author;
    RecordFields fields; // what the kind of change carries

    const QString& userName() const { return author ? author->userName : noName(); }
    const QString& fullName() const { return author ? author->fullName : noName(); }
    const QString& hostName() const { return author ? author->hostName : noName(); }

private:
    static const QString& noName();
};

// A change to write: its bundle, kind and fields.
struct JournalChange {
    IdFor<VersionBundle> bundle;
    RecordKind kind;
    QJsonObject fields;
};

// Where one record of one client stands for this journal.
enum class RecordState {
    read,    // read and returned by readAll() or readNew(), or written here by append()
    notYet,  // not seen yet: it may still arrive
    damaged, // found damaged, unreadable, in a newer format, or missing among later records; it
             // is reported once and never folded (until the team bundle is opened again)
};

// The change records of one team bundle: every client appends to its own folder only, and
// reads the others'. Every record carries a checksum; see engine/README.md.
class Journal {
public:
    Journal(QString folder, QString writerId);

    // Reads every record now on the share, forgetting what was read before. Records and files
    // that cannot be read are skipped and described in `problems`, each naming the client
    // folder and the record; a damaged record is never folded and does not keep the records
    // after it from being read. A client whose `head` names records that are not there (for
    // longer than a share's listings may lag) is reported too. Each problem is reported once
    // from one readAll() to the next.
    std::vector<JournalRecord> readAll(QStringList& problems);
    // The same, handing the records to `fold` one client at a time, so that the records of the
    // whole team are never held at once besides what `fold` keeps of them.
    void readAll(QStringList& problems, const std::function<void(std::vector<JournalRecord>&&)>& fold);
    // Reads the records other clients wrote since the last read, with the same checks. Each
    // client's `head` is read by name, and the records up to it are opened by name: a share's
    // listings may lag far behind its files. Folders are listed to find new clients, packs, and
    // records no head names yet.
    std::vector<JournalRecord> readNew(QStringList& problems);
    // Makes readNew() read the folder of `client` from now on, also while a listing of the journal
    // does not show it yet (a new client named by a release note). Ignored unless it is one plain
    // folder name.
    void lookFor(const QString& client);
    // Problems reported before that no longer hold (records reported missing that have been read
    // since), each once; they may be reported again should they come back.
    QStringList withdrawnProblems();

    // Writes one record holding `changes` as this client, all or nothing, and returns them
    // stamped. It never packs: once enough records were written since the last pack it only
    // notes that a pack is due (packDue()). Throws StorageError.
    std::vector<JournalRecord> append(const std::vector<JournalChange>& changes, const UserIdentity& author);

    // Whether this client wrote enough records since its last pack to pack them.
    bool packDue() const;
    // Packs this client's records written since its last pack when a pack is due; does nothing
    // otherwise. Meant for a background thread: appends go on meanwhile (they stay single
    // records for the next pack), and readers may read the folder as it is packed. The pack is
    // complete on the share before any record it holds is removed. A pack that can't be made
    // (an unreadable record, a share that refuses the write) is tried again after the next
    // append. Blocking; throws StorageError.
    void packIfDue();
    // Makes a pack being written stop as soon as it safely can (before its pack is written, or
    // between two records it removes) and keeps any other from starting: for closing. What it
    // leaves is read as before and packed by a later run.
    void stopPacking();

    // Whether record `seq` of `client` has been read, is not seen yet, or was found damaged.
    // Lets a caller that learnt of a record elsewhere (a lock naming it) tell "wait for the
    // next poll" from "it will not come". Records a head names beyond the newest one listed
    // stay notYet: they may still appear, and are read when they do.
    RecordState recordState(const QString& client, qint64 seq) const;
    // Why this client's view of the journal, as the last read left it, may lack records that are
    // on the share, one sentence each naming the client folder and the record: records left out
    // (damaged, unreadable, missing among later ones), a record still failing to read or not
    // whole yet, a head naming records not found, a head or a folder of the journal that can't be
    // read, a client folder not read at all. Empty when every client's records were read through
    // to its head. What removes stored contents goes on only then.
    QStringList incompleteView() const;

    // Simulates a share whose listings lag: while `lag` is not zero, the record files and packs
    // of other clients modified less than `lag` ago are not listed, nor anything after them,
    // and the head check counts them as present. Files opened by name are read as they are,
    // as on a real share. For tests.
    void setListingLagForTesting(std::chrono::milliseconds lag);
    // Packs this client's records once `threshold` were written since the last pack. For tests.
    void setPackThresholdForTesting(int threshold);
    // Stops this process right after the next pack is written and before the records it holds
    // are removed, as a crash would. For tests (a child process).
    void setCrashAfterPackForTesting(bool crash);
    // Calls `observe` on the packing thread once a pack is written (with 0), then after each
    // record file it removes (with how many it removed), so that a test can act in between.
    // For tests.
    void setPackObserverForTesting(std::function<void(int removed)> observe);
    // Makes reading a record file or pack of another client fail with the errno `fault` returns
    // for its path (0: read it), as a share that went away in the middle of a poll. For tests.
    void setReadFaultForTesting(std::function<int(const QString& path)> fault);

    const QString& writerId() const { return m_writerId; }
    // Records written by this client before it packs them into one file (a segment holding
    // only those: packing never rewrites what was packed before).
    static constexpr int packThreshold = 512;

private:
    struct Cursor {
        qint64 lastSeq = 0;                   // every record up to here was read, or is in `skipped`
        QString folderStamp;                  // the client folder's modification time when last looked at
        QList<QPair<qint64, qint64>> skipped; // ranges of records up to lastSeq that were not folded
        qint64 shortfallHead = 0;             // a head naming records not found, and since when
        std::chrono::steady_clock::time_point shortfallSince;
        QString shortfallReported; // what was reported of it, withdrawn once they are read
        // A record (or pack) that could not be read for a reason other than damage, how many
        // polls in a row, and since when: it is waited for, within a bound.
        qint64 failingSeq = 0;
        int failingReads = 0;
        std::chrono::steady_clock::time_point failingSince;
        qint64 stoppedAt = 0;      // the record the last read stopped before (not whole yet, failing), 0 when none
        bool headUnreadable = false; // the last read of the head failed for a reason other than its absence
    };
    // One record as read: its changes, and its bytes for a pack.
    struct ReadRecord {
        std::vector<JournalRecord> changes;
        QByteArray bytes;
        int format = 0;
    };

    // Reads the records of `client` after the cursor: by name up to `head`, listing the folder
    // first when `listFirst` (packs, records no head names) or when a record is not found by
    // name (packed meanwhile). With `lookPastHead`, the records after those are looked for by
    // name too, until one is not there: a head may be read short.
    std::vector<ReadRecord> readClient(const QString& client, Cursor& cursor, std::optional<qint64> head,
                                       QStringList& problems, bool* relistLater, bool keepBytes, bool listFirst,
                                       bool lookPastHead = false);
    void withdraw(const QString& problem);
    // The newest record the head of `client` names; `whole` tells whether it was read at the
    // length heads are written at (a shorter one may be an older client's, or clipped).
    // `unreadable` tells a head that failed to read from one that is absent or not a number.
    std::optional<qint64> readHead(const QString& client, bool* whole = nullptr, bool* unreadable = nullptr) const;
    void report(const QStringList& found, QStringList& problems);
    void noteSeen(const JournalRecord& record);
    // Why no record can be stamped any more, naming the record in the way and its writer.
    StorageError noNumberLeft(const QString& folder) const;
    void writeHead();
    // Enters this client in the register of clients at its first write.
    void enterRegister();
    // When record `seq` has a number that another process writing as this client used before and
    // packed since (its file gone), the number to go on from. Asked before publishing it
    // (`published` null) and again once it is published with `published`.
    std::optional<qint64> packedBefore(const QString& folder, qint64 seq, const QByteArray* published) const;
    // What one pack is made of, taken under m_mutex.
    struct PackPlan {
        qint64 upTo = 0;                   // the newest record this pack may hold
        std::map<qint64, QByteArray> kept; // the bytes this process kept of its unpacked records
        bool crashAfterWriting = false;
        std::function<void(int)> observe;
    };
    // Writes the pack and removes the records it holds, without m_mutex; returns the newest
    // record it holds, or 0 when it packed nothing.
    qint64 writePack(const PackPlan& plan);

    QString m_folder;
    QString m_writerId;
    mutable std::mutex m_mutex;
    QHash<QString, Cursor> m_cursors;
    QSet<QString> m_reported; // problems reported since the last readAll()
    QStringList m_withdrawn;  // reported problems that stopped holding, not yet taken
    // Also raised by a pack reading this client's records back, outside m_mutex.
    std::atomic<qint64> m_highestLamport{0};
    // The record with the lowest Lamport number above what writers stamp (see
    // journal_files::maxStampedLamport): the one that carried the numbers out of reach, named
    // when this client can stamp no more.
    struct OutOfReach {
        qint64 lamport = 0;
        QString client;
        qint64 seq = 0;
        std::shared_ptr<const UserIdentity> author;
    };
    std::optional<OutOfReach> m_outOfReach;
    qint64 m_nextOwnSeq = 1;
    int m_unpackedOwnRecords = 0;
    bool m_packDue = false;
    std::mutex m_packMutex; // one pack at a time; taken before m_mutex, never inside it
    std::function<void(int)> m_packObserver;
    std::atomic<bool> m_packingStopped{false};
    // The bytes of the records this process wrote since the last pack, by sequence, so that
    // packing does not read them back; dropped when they grow large.
    std::map<qint64, QByteArray> m_unpackedBytes;
    qint64 m_unpackedByteCount = 0;
    bool m_crashAfterPack = false;
    int m_packThreshold = packThreshold;
    bool m_headPending = false;
    ClientRegister m_register;
    QSet<QString> m_registered; // clients the register named, also for readAll()
    bool m_registerPending = false;
    std::chrono::milliseconds m_listingLag{0};
    std::function<int(const QString&)> m_readFault;
};

} // namespace vantrel
