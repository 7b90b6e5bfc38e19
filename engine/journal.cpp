#include "engine/journal.h"

#include "engine/journal_files.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"
#include "engine/user_identity.h"

#include <QDir>
#include <QJsonDocument>

#include <algorithm>

namespace vantrel {

namespace {

using namespace journal_files;
using Outcome = DecodedRecord::Outcome;

// A record written less than this long ago that does not read may still be on its way (where
// files cannot be published atomically), and a head naming records not listed yet may be ahead
// of a lagging listing: both are looked at again before they are reported.
constexpr qint64 incompleteRecordGraceSeconds = 60;
// Reads are bounded: whatever a file on the share holds, it is not read past these sizes.
constexpr qint64 maxLostRecords = 1'000'000;

// Messages are built in one pass: folder and client names come from the share and may hold "%1".
QString missingText(const QString& folder, qint64 from, qint64 to)
{
    if (from == to)
        return QStringLiteral("%1: record %2 is missing.").arg(folder, QString::number(from));
    return QStringLiteral("%1: records %2 to %3 are missing.").arg(folder, QString::number(from), QString::number(to));
}

// A record, or the records between two that were read, that could not be folded.
QString leftOutText(const QString& where, const QString& client, qint64 from, qint64 to, const QString& detail)
{
    if (from == to)
        return QStringLiteral("%1: record %2 of client %3 was left out. %4")
            .arg(where, QString::number(from), client, detail);
    if (from < to)
        return QStringLiteral("%1: records %2 to %3 of client %4 were left out. %5")
            .arg(where, QString::number(from), QString::number(to), client, detail);
    return QStringLiteral("%1: a damaged line, holding no record of client %2 that the pack lacks. %3")
        .arg(where, client, detail);
}

} // namespace

Journal::Journal(QString folder, QString writerId) : m_folder(std::move(folder)), m_writerId(std::move(writerId))
{
    const Listing own = listFolder(m_folder + QLatin1Char('/') + m_writerId);
    qint64 highest = own.pack;
    if (!own.files.empty())
        highest = std::max(highest, own.files.rbegin()->first);
    m_unpackedOwnRecords = static_cast<int>(
        std::count_if(own.files.begin(), own.files.end(), [&](const auto& file) { return file.first > own.pack; }));
    // Numbers the head names were published once, even when their records are gone since:
    // other clients may have read them, so they are never given to another record. A head far
    // beyond the records is taken for a damaged head rather than for lost records.
    const auto head = readHead(m_writerId);
    m_nextOwnSeq = (head && *head > highest && *head - highest <= maxLostRecords ? *head : highest) + 1;
    // A head left behind by a crash right after a record was published is brought up to date.
    if (highest > 0 && (!head || *head < highest)) {
        m_headPending = true;
        writeHead();
    }
}

std::optional<qint64> Journal::readHead(const QString& client) const
{
    const QString path = m_folder + QLatin1Char('/') + client + QStringLiteral("/head");
    try {
        bool valid = false;
        const qint64 seq = readWholeFile(path, readLimits::journalHead).trimmed().toLongLong(&valid);
        if (valid && seq >= 0 && seq <= maxSeq)
            return seq;
    } catch (const Error&) {
        // No head yet (a client that crashed before writing it), or not a number: the folder
        // is listed instead.
    }
    return std::nullopt;
}

void Journal::noteSeen(const JournalRecord& record)
{
    m_highestLamport = std::max(m_highestLamport, record.stamp.lamport);
}

void Journal::report(const QStringList& found, QStringList& problems)
{
    for (const QString& problem : found) {
        if (!m_reported.contains(problem)) {
            m_reported.insert(problem);
            problems << problem;
        }
    }
}

std::vector<Journal::ReadRecord> Journal::readClient(const QString& client, Cursor& cursor, std::optional<qint64> head,
                                                     QStringList& problems, bool* relistLater)
{
    const QString folder = m_folder + QLatin1Char('/') + client;
    const qint64 afterSeq = cursor.lastSeq;
    // The owner may pack its records while we read them; a vanished file means: list again.
    for (int attempt = 0;; ++attempt) {
        std::vector<ReadRecord> records;
        QStringList found;
        Cursor next = cursor;
        qint64 highest = afterSeq;
        bool vanished = false;
        bool stoppedEarly = false;
        const Listing listing = listFolder(folder, client == m_writerId ? std::chrono::milliseconds(0) : m_listingLag);
        const auto skip = [&](qint64 from, qint64 to) {
            from = std::max(from, afterSeq + 1);
            if (from <= to)
                next.skipped.append({from, to});
        };
        // A record that decoded, as the one expected where it was found; the reason it is not
        // otherwise.
        const auto misplaced = [&](const DecodedRecord& decoded, qint64 low, qint64 high) -> QString {
            if (decoded.outcome != Outcome::folded)
                return decoded.detail;
            const JournalStamp& stamp = decoded.changes.front().stamp;
            if (stamp.client != client)
                return QStringLiteral("It names another client.");
            if (stamp.seq < low || stamp.seq > high)
                return QStringLiteral("It names another place in the journal (%1).").arg(stamp.seq);
            return {};
        };

        if (listing.pack > afterSeq) {
            const QString path = folder + QLatin1Char('/') + packFileName(listing.pack);
            try {
                const auto split = splitPack(readWholeFile(path, readLimits::journalPack));
                // A pack holds the client's records from its first, in order: a damaged one is
                // known by the records around it.
                qint64 previous = 0;
                QList<QPair<int, QString>> damaged; // lines since `previous`, and why
                const auto settle = [&](qint64 nextGood) {
                    if (damaged.isEmpty()) {
                        if (nextGood > previous + 1 && nextGood - 1 > afterSeq)
                            found << missingText(folder, previous + 1, nextGood - 1);
                    } else if (nextGood - 1 > afterSeq || previous + 1 > nextGood - 1) {
                        const QString lines = damaged.size() == 1 ? QStringLiteral("line %1").arg(damaged.front().first)
                                                                  : QStringLiteral("lines %1 to %2")
                                                                        .arg(QString::number(damaged.front().first),
                                                                             QString::number(damaged.back().first));
                        found << leftOutText(path + QStringLiteral(", ") + lines, client, previous + 1, nextGood - 1,
                                             damaged.front().second);
                    }
                    skip(previous + 1, nextGood - 1);
                    damaged.clear();
                };
                bool anyDamaged = false;
                for (const auto& entry : split.entries) {
                    auto decoded = decodeRecord(entry.bytes);
                    if (const QString detail = misplaced(decoded, previous + 1, listing.pack); !detail.isEmpty()) {
                        damaged.append({entry.line, detail});
                        anyDamaged = true;
                        continue;
                    }
                    const qint64 seq = decoded.changes.front().stamp.seq;
                    settle(seq);
                    previous = seq;
                    if (seq > afterSeq)
                        records.push_back(ReadRecord{std::move(decoded.changes), entry.bytes, decoded.format});
                }
                settle(listing.pack + 1);
                if (!split.layoutIntact && !anyDamaged)
                    found << QStringLiteral("%1: the pack is damaged between its records, which were read.").arg(path);
                highest = std::max(highest, listing.pack);
            } catch (const StorageError& error) {
                if (error.kind() == StorageError::Kind::notFound) {
                    vanished = true;
                } else {
                    found << QStringLiteral("%1: %2").arg(path, error.localizedDescription());
                    skip(1, listing.pack);
                    highest = std::max(highest, listing.pack);
                }
            } catch (const Error& error) {
                found << QStringLiteral("%1: %2").arg(path,
                                                      error.failureReason().value_or(error.localizedDescription()));
                skip(1, listing.pack);
                highest = std::max(highest, listing.pack);
            }
        }

        const qint64 base = std::max(afterSeq, listing.pack);
        qint64 expected = base + 1;
        for (const auto& [seq, name] : listing.files) {
            if (vanished)
                break;
            if (seq <= base)
                continue;
            if (seq > expected) {
                found << missingText(folder, expected, seq - 1);
                skip(expected, seq - 1);
            }
            expected = seq + 1;
            const QString path = folder + QLatin1Char('/') + name;
            QByteArray bytes;
            try {
                bytes = readWholeFile(path, readLimits::journalRecord);
            } catch (const StorageError& error) {
                if (error.kind() == StorageError::Kind::notFound) {
                    vanished = true;
                    break;
                }
                found << QStringLiteral("%1: %2").arg(path, error.localizedDescription());
                skip(seq, seq);
                highest = seq;
                continue;
            }
            auto decoded = decodeRecord(bytes);
            // A record still being written (where files cannot be published atomically) is
            // read again at the next poll; an older one that does not read is damaged.
            if (decoded.outcome == Outcome::unreadable
                && writtenWithin(path, std::chrono::seconds(incompleteRecordGraceSeconds))) {
                highest = std::max(highest, seq - 1);
                stoppedEarly = true;
                break;
            }
            highest = seq;
            if (const QString detail = misplaced(decoded, seq, seq); !detail.isEmpty()) {
                found << leftOutText(path, client, seq, seq, detail);
                skip(seq, seq);
                continue;
            }
            records.push_back(ReadRecord{std::move(decoded.changes), std::move(bytes), decoded.format});
        }

        if (vanished && attempt < 3)
            continue;

        // The head names the client's newest record: records it names that are not listed are
        // missing, once that has lasted longer than a listing may lag.
        const qint64 present = std::max({afterSeq, listing.pack, listing.hiddenUpTo,
                                         listing.files.empty() ? qint64(0) : listing.files.rbegin()->first});
        if (head && *head > present && !vanished) {
            const auto now = std::chrono::steady_clock::now();
            if (next.shortfallHead != *head) {
                next.shortfallHead = *head;
                next.shortfallSince = now;
            }
            const auto grace = std::chrono::seconds(incompleteRecordGraceSeconds);
            if (!writtenWithin(folder + QStringLiteral("/head"), grace) || now - next.shortfallSince >= grace)
                found << missingText(folder, present + 1, *head);
        } else {
            next.shortfallHead = 0;
        }

        for (const auto& record : records)
            noteSeen(record.changes.front());
        next.lastSeq = highest;
        next.skipped.removeIf([&](const QPair<qint64, qint64>& range) { return range.first > highest; });
        cursor = std::move(next);
        problems << found;
        *relistLater = stoppedEarly || listing.hiddenUpTo > 0;
        return records;
    }
}

std::vector<JournalRecord> Journal::readAll(QStringList& problems)
{
    std::lock_guard lock(m_mutex);
    m_cursors.clear();
    m_reported.clear();
    std::vector<JournalRecord> all;
    for (const QString& client : QDir(m_folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        const QString stamp = folderStamp(m_folder + QLatin1Char('/') + client);
        Cursor& cursor = m_cursors[client];
        QStringList found;
        bool relistLater = false;
        for (auto& record : readClient(client, cursor, readHead(client), found, &relistLater))
            std::move(record.changes.begin(), record.changes.end(), std::back_inserter(all));
        cursor.folderStamp = relistLater ? QString() : stamp;
        report(found, problems);
    }
    return all;
}

std::vector<JournalRecord> Journal::readNew(QStringList& problems)
{
    std::lock_guard lock(m_mutex);
    writeHead();
    std::vector<JournalRecord> fresh;
    for (const QString& client : QDir(m_folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        if (client == m_writerId)
            continue;
        Cursor& cursor = m_cursors[client];
        // The head names the newest record; a client that crashed between publishing a record
        // and rewriting its head leaves the head behind, but its folder changed all the same.
        const QString stamp = folderStamp(m_folder + QLatin1Char('/') + client);
        const auto head = readHead(client);
        if (head && *head <= cursor.lastSeq && stamp == cursor.folderStamp)
            continue;
        QStringList found;
        bool relistLater = false;
        for (auto& record : readClient(client, cursor, head, found, &relistLater))
            std::move(record.changes.begin(), record.changes.end(), std::back_inserter(fresh));
        cursor.folderStamp = relistLater ? QString() : stamp;
        report(found, problems);
    }
    return fresh;
}

RecordState Journal::recordState(const QString& client, qint64 seq) const
{
    std::lock_guard lock(m_mutex);
    const auto cursor = m_cursors.constFind(client);
    if (cursor == m_cursors.cend() || seq < 1 || seq > cursor->lastSeq)
        return RecordState::notYet;
    for (const auto& [from, to] : cursor->skipped) {
        if (seq >= from && seq <= to)
            return RecordState::damaged;
    }
    return RecordState::read;
}

void Journal::setListingLagForTesting(std::chrono::milliseconds lag)
{
    std::lock_guard lock(m_mutex);
    m_listingLag = lag;
}

void Journal::setPackThresholdForTesting(int threshold)
{
    std::lock_guard lock(m_mutex);
    m_packThreshold = std::max(threshold, 1);
}

std::vector<JournalRecord> Journal::append(const std::vector<JournalChange>& changes, const UserIdentity& author)
{
    Q_ASSERT(!changes.empty());
    std::lock_guard lock(m_mutex);
    const QString folder = m_folder + QLatin1Char('/') + m_writerId;
    ensureDirectory(folder);

    std::vector<JournalRecord> records;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    int sub = 0;
    for (const auto& change : changes) {
        Q_ASSERT(change.kind != RecordKind::unknown);
        JournalRecord record;
        record.bundle = change.bundle;
        record.kind = change.kind;
        record.fields = change.fields;
        record.date = now;
        record.userName = author.userName;
        record.fullName = author.fullName;
        record.hostName = author.hostName;
        record.stamp.client = m_writerId;
        record.stamp.sub = sub++;
        records.push_back(std::move(record));
    }
    for (;;) {
        if (m_nextOwnSeq > maxSeq)
            throw StorageError::corrupt(folder, QStringLiteral("The journal has no sequence number left."));
        for (auto& record : records) {
            record.stamp.seq = m_nextOwnSeq;
            record.stamp.lamport = m_highestLamport + 1;
        }
        if (publishFileExclusively(folder + QLatin1Char('/') + recordFileName(m_nextOwnSeq), encodeRecord(records)))
            break;
        ++m_nextOwnSeq; // another process writing as this client took the number
    }
    const qint64 seq = m_nextOwnSeq++;
    noteSeen(records.front());
    m_cursors[m_writerId].lastSeq = seq;
    // The record is published: the change has happened, whatever becomes of the head file,
    // which only spares readers a listing. One that could not be written is written later.
    m_headPending = true;
    writeHead();

    if (++m_unpackedOwnRecords >= m_packThreshold) {
        try {
            packOwnRecords();
        } catch (const Error& error) {
            qWarning("Packing the journal failed: %s", error.what());
        }
    }
    return records;
}

void Journal::writeHead()
{
    if (!m_headPending || m_nextOwnSeq <= 1)
        return;
    try {
        // Only a hint: readers also notice new records by the folder's stamp.
        writeFileAtomically(m_folder + QLatin1Char('/') + m_writerId + QStringLiteral("/head"),
                            QByteArray::number(m_nextOwnSeq - 1), Durability::replaceable);
        m_headPending = false;
    } catch (const Error& error) {
        qWarning("The journal head could not be written: %s", error.what());
    }
}

void Journal::packOwnRecords()
{
    const QString folder = m_folder + QLatin1Char('/') + m_writerId;
    QStringList problems;
    Cursor scratch;
    bool relistLater = false;
    const auto records = readClient(m_writerId, scratch, readHead(m_writerId), problems, &relistLater);
    if (!problems.isEmpty() || relistLater || records.empty())
        return; // never pack over a record we could not read: it stays as it is
    // Each record goes into the pack byte for byte, its checksum with it. Records written before
    // checksums may span lines; they have no checksum to keep and are written on one.
    QList<QByteArray> lines;
    for (const auto& record : records) {
        if (!record.bytes.contains('\n'))
            lines << record.bytes;
        else if (record.format == 1)
            lines << QJsonDocument::fromJson(record.bytes).toJson(QJsonDocument::Compact);
        else
            return;
    }
    const qint64 last = scratch.lastSeq;
    writeFileAtomically(folder + QLatin1Char('/') + packFileName(last), encodePack(lines));

    const Listing listing = listFolder(folder);
    for (qint64 older : listing.olderPacks)
        QFile::remove(folder + QLatin1Char('/') + packFileName(older));
    for (const auto& [seq, name] : listing.files) {
        if (seq <= last)
            QFile::remove(folder + QLatin1Char('/') + name);
    }
    m_unpackedOwnRecords = 0;
}

} // namespace vantrel
