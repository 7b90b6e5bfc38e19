#pragma once

#include "engine/id_for.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <compare>
#include <mutex>
#include <vector>

namespace vantrel {

struct UserIdentity;

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
    JournalStamp stamp;
    IdFor<VersionBundle> bundle = IdFor<VersionBundle>(QUuid());
    QString kind;
    QDateTime date;
    QString userName;
    QString fullName;
    QString hostName;
    QJsonObject fields; // what the kind of change carries
};

// A change to write: its bundle, kind and fields.
struct JournalChange {
    IdFor<VersionBundle> bundle;
    QString kind;
    QJsonObject fields;
};

enum class RecordState { read, notYet, damaged };

// The change records of one team bundle: every client appends to its own folder only, and
// reads the others'. See engine/README.md.
class Journal {
public:
    Journal(QString folder, QString writerId);

    // Reads every record now on the share, forgetting what was read before. Records and
    // files that cannot be read are skipped and described in `problems`.
    std::vector<JournalRecord> readAll(QStringList& problems);
    // Reads the records other clients wrote since the last read.
    std::vector<JournalRecord> readNew(QStringList& problems);

    // Writes one record holding `changes` as this client, all or nothing, and returns them
    // stamped. Throws StorageError.
    std::vector<JournalRecord> append(const std::vector<JournalChange>& changes, const UserIdentity& author);

    // The JSON of a record file, and back (throws DecodingError when malformed).
    static QJsonObject encodeRecord(const std::vector<JournalRecord>& changes);
    static std::vector<JournalRecord> decodeRecord(const QJsonObject& object);

    RecordState recordState(const QString& client, qint64 seq);
    void setListingLagForTesting(std::chrono::milliseconds) {}

    const QString& writerId() const { return m_writerId; }
    // Records written by this client before it packs them into one file.
    static constexpr int packThreshold = 512;

private:
    struct Cursor {
        qint64 lastSeq = 0;
        QString folderStamp; // the client folder's modification time when last listed
    };

    std::vector<JournalRecord> readClient(const QString& client, qint64 afterSeq, qint64* lastSeq,
                                          QStringList& problems);
    void noteSeen(const JournalRecord& record);
    void packOwnRecords();
    void writeHead();

    QString m_folder;
    QString m_writerId;
    std::mutex m_mutex;
    QHash<QString, Cursor> m_cursors;
    qint64 m_highestLamport = 0;
    qint64 m_nextOwnSeq = 1;
    int m_unpackedOwnRecords = 0;
    bool m_headPending = false;
};

} // namespace vantrel
