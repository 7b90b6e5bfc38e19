// Reading one client's folder of the journal: its packs, then its single records.

#include "engine/journal/journal.h"

#include "engine/journal/journal_files.h"
#include "engine/storage/parallel_for.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <limits>
#include <thread>

namespace vantrel {

namespace {

using namespace journal_files;
using Outcome = DecodedRecord::Outcome;
using namespace std::chrono_literals;

// A record written less than this long ago that does not read may still be on its way (where
// files cannot be published atomically), and a head naming records not listed yet may be ahead
// of a lagging listing: both are looked at again before they are reported.
constexpr qint64 incompleteRecordGraceSeconds = 60;

// A record or pack that can't be read for a reason other than damage (EIO, ENOTCONN, a timeout:
// the share went away in the middle of a poll) is no fault of the bundle: the client's records
// stop there, in order, and are read again at the next poll. Only once it has failed at this
// many polls in a row, over at least the grace above (polls read the journal only while the
// bundle's marker reads), is it reported and left out, so that no file holds up a client's
// records for good.
constexpr int unreadableRecordPolls = 5;

// Failures that come from what a file is, not from the share: a device (ENXIO, ENODEV), a link
// or folder put in a record's place, whether the open or a read answers them. Waiting does not
// change them: they are damage.
bool isDamage(const StorageError& error)
{
    switch (error.systemError()) {
    case ENXIO:
    case ENODEV:
    case ELOOP:
    case EISDIR:
        return true;
    default:
        return error.kind() == StorageError::Kind::corrupt;
    }
}

// Whether `bytes`, which do not decode, may be the beginning of a record still being written: a
// JSON text that ends too early (every beginning of one fails at its very end, where damage
// inside it fails before), or space not written yet.
bool mayBeCutShort(const QByteArray& bytes)
{
    QJsonParseError error{};
    QJsonDocument::fromJson(bytes, &error);
    return error.offset >= bytes.size() || bytes.contains('\0');
}

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

std::vector<Journal::ReadRecord> Journal::readClient(const QString& client, Cursor& cursor, std::optional<qint64> head,
                                                     QStringList& problems, bool* relistLater, bool keepBytes,
                                                     bool listFirst, bool lookPastHead)
{
    const QString folder = m_folder + QLatin1Char('/') + client;
    const qint64 afterSeq = cursor.lastSeq;
    // The owner may pack its records while we read them; a vanished file means: list again.
    for (int attempt = 0;; ++attempt) {
        std::vector<ReadRecord> records;
        QStringList found;
        Cursor next = cursor;
        qint64 highest = afterSeq;
        qint64 expected = afterSeq + 1; // the first record not accounted for yet
        bool vanished = false;
        bool stoppedEarly = false;
        Listing listing;
        const auto skip = [&](qint64 from, qint64 to) {
            from = std::max(from, afterSeq + 1);
            if (from <= to)
                next.skipped.append({from, to});
        };
        const auto keep = [&](DecodedRecord& decoded, QByteArrayView bytes) {
            records.push_back(
                ReadRecord{std::move(decoded.changes), keepBytes ? bytes.toByteArray() : QByteArray(), decoded.format});
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

        // Whether a file that failed to read at `seq` (neither absent nor damaged) is waited for:
        // the records stop before it for this poll. False once it failed for long enough.
        const auto waitFor = [&](qint64 seq, const StorageError& error) {
            if (error.kind() == StorageError::Kind::notFound || isDamage(error))
                return false;
            const auto now = std::chrono::steady_clock::now();
            if (next.failingSeq != seq) {
                next.failingSeq = seq;
                next.failingReads = 0;
                next.failingSince = now;
            }
            if (++next.failingReads >= unreadableRecordPolls
                && now - next.failingSince >= std::chrono::seconds(incompleteRecordGraceSeconds))
                return false;
            highest = std::max(highest, seq - 1);
            stoppedEarly = true;
            return true;
        };
        const auto readFile = [&](const QString& path, qint64 maxSize) {
            if (const int fault = client != m_writerId && m_readFault ? m_readFault(path) : 0)
                throw StorageError::fromErrno(fault, path, QStringLiteral("read"));
            return readWholeFile(path, maxSize);
        };

        const auto readPack = [&](const PackFile& pack) {
            const QString path = folder + QLatin1Char('/') + pack.name;
            // Records up to here were read already, from files.
            const qint64 before = expected - 1;
            const auto skipAfter = [&](qint64 from, qint64 to) { skip(std::max(from, before + 1), to); };
            try {
                const auto split = splitPack(readFile(path, readLimits::journalPack));
                // A pack holds the client's records from its first, in order: a damaged one is
                // known by the records around it.
                qint64 previous = pack.first - 1;
                QList<QPair<int, QString>> damaged; // lines since `previous`, and why
                const auto settle = [&](qint64 nextGood) {
                    if (damaged.isEmpty()) {
                        if (nextGood > previous + 1 && nextGood - 1 > before)
                            found << missingText(folder, previous + 1, nextGood - 1);
                    } else if (nextGood - 1 > before || previous + 1 > nextGood - 1) {
                        const QString lines = damaged.size() == 1 ? QStringLiteral("line %1").arg(damaged.front().first)
                                                                  : QStringLiteral("lines %1 to %2")
                                                                        .arg(QString::number(damaged.front().first),
                                                                             QString::number(damaged.back().first));
                        found << leftOutText(path + QStringLiteral(", ") + lines, client, previous + 1, nextGood - 1,
                                             damaged.front().second);
                    }
                    skipAfter(previous + 1, nextGood - 1);
                    damaged.clear();
                };
                bool anyDamaged = false;
                std::vector<DecodedRecord> decodedEntries(size_t(split.entries.size()));
                // Decoding the records of a pack is most of the cost of opening a large team bundle.
                parallelFor(split.entries.size(), 64,
                            [&](qsizetype i) { decodedEntries[size_t(i)] = decodeRecord(split.entries[i].bytes); });
                for (qsizetype i = 0; i < split.entries.size(); ++i) {
                    const auto& entry = split.entries[i];
                    auto& decoded = decodedEntries[size_t(i)];
                    if (const QString detail = misplaced(decoded, previous + 1, pack.last); !detail.isEmpty()) {
                        damaged.append({entry.line, detail});
                        anyDamaged = true;
                        continue;
                    }
                    const qint64 seq = decoded.changes.front().stamp.seq;
                    settle(seq);
                    previous = seq;
                    if (seq > before)
                        keep(decoded, entry.bytes);
                }
                settle(pack.last + 1);
                if (!split.layoutIntact && !anyDamaged)
                    found << QStringLiteral("%1: the pack is damaged between its records, which were read.").arg(path);
            } catch (const StorageError& error) {
                if (error.kind() == StorageError::Kind::notFound) {
                    vanished = true;
                    return;
                }
                if (waitFor(std::max(pack.first, before + 1), error))
                    return;
                found << QStringLiteral("%1: %2").arg(path, error.localizedDescription());
                skipAfter(pack.first, pack.last);
            } catch (const Error& error) {
                found << QStringLiteral("%1: %2").arg(path,
                                                      error.failureReason().value_or(error.localizedDescription()));
                skipAfter(pack.first, pack.last);
            }
            highest = std::max(highest, pack.last);
            expected = std::max(expected, pack.last + 1);
        };

        // Reads the record file `name`, record `seq`: folded, or reported and skipped. Absent
        // when there is no such file; incomplete when it may still be being written.
        enum class FileRead { done, absent, incomplete };
        const auto readRecordFile = [&](qint64 seq, const QString& name) {
            const QString path = folder + QLatin1Char('/') + name;
            QByteArray bytes;
            try {
                bytes = readFile(path, readLimits::journalRecord);
            } catch (const StorageError& error) {
                if (error.kind() == StorageError::Kind::notFound)
                    return FileRead::absent;
                if (waitFor(seq, error))
                    return FileRead::incomplete;
                found << QStringLiteral("%1: %2").arg(path, error.localizedDescription());
                skip(seq, seq);
                highest = seq;
                return FileRead::done;
            }
            auto decoded = decodeRecord(bytes);
            const auto grace = std::chrono::seconds(incompleteRecordGraceSeconds);
            const bool fresh = decoded.outcome != Outcome::folded && writtenWithin(path, grace);
            // A record just written that does not decode is read again a moment later, a few
            // times: a read through a caching mount may come back torn.
            for (const auto pause : {40ms, 80ms, 160ms}) {
                if (!fresh || decoded.outcome == Outcome::folded || decoded.outcome == Outcome::newer)
                    break;
                std::this_thread::sleep_for(pause);
                try {
                    bytes = readFile(path, readLimits::journalRecord);
                } catch (const StorageError&) {
                    break;
                }
                decoded = decodeRecord(bytes);
            }
            // One cut short may still be being written where a share has no hard links (the file
            // is created, then written): it is read again at the next poll, and the records after
            // it wait, for a while. One that is whole and damaged is reported at once.
            if (fresh && decoded.outcome == Outcome::unreadable && mayBeCutShort(bytes)) {
                highest = std::max(highest, seq - 1);
                stoppedEarly = true;
                return FileRead::incomplete;
            }
            highest = seq;
            if (const QString detail = misplaced(decoded, seq, seq); !detail.isEmpty()) {
                found << leftOutText(path, client, seq, seq, detail);
                skip(seq, seq);
                return FileRead::done;
            }
            keep(decoded, bytes);
            return FileRead::done;
        };

        // The records from `expected` up to `last`, opened by name, which a share answers from
        // the file itself where a listing may be a cached one. False when one is not there.
        const auto readByName = [&](qint64 last) {
            for (; expected <= last; ++expected) {
                if (readRecordFile(expected, recordFileName(expected)) != FileRead::done)
                    return false;
            }
            return true;
        };

        // The single records listed from `expected` up to (not including) `limit`.
        const auto readFiles = [&](qint64 limit) {
            for (auto it = listing.files.lower_bound(expected); it != listing.files.end() && it->first < limit; ++it) {
                const auto& [seq, name] = *it;
                // Records a listing skips may still be there by name.
                if (seq > expected && !readByName(seq - 1)) {
                    if (stoppedEarly)
                        return;
                    found << missingText(folder, expected, seq - 1);
                    skip(expected, seq - 1);
                }
                expected = seq + 1;
                const FileRead read = readRecordFile(seq, name);
                if (read == FileRead::absent)
                    vanished = true;
                if (read != FileRead::done)
                    return;
            }
        };

        // What the head names is read by name; the folder is listed only for what that can't
        // find: packs, and records a head does not name (a writer stopped between its record
        // and its head).
        bool listNow = listFirst || !head;
        if (!listNow && !readByName(*head) && !stoppedEarly)
            listNow = true; // not found by name: packed meanwhile, or missing
        if (listNow && !stoppedEarly) {
            listing = listFolder(folder, client == m_writerId ? std::chrono::milliseconds(0) : m_listingLag);
            for (const auto& pack : packsToRead(listing.packs, expected - 1)) {
                readFiles(pack.first);
                if (vanished || stoppedEarly)
                    break;
                if (expected < pack.first && !readByName(pack.first - 1)) {
                    if (stoppedEarly)
                        break;
                    found << missingText(folder, expected, pack.first - 1);
                    skip(expected, pack.first - 1);
                }
                readPack(pack);
                if (vanished || stoppedEarly)
                    break;
            }
            if (!vanished && !stoppedEarly)
                readFiles(std::numeric_limits<qint64>::max());
            // A listing may lag behind the head: the rest by name.
            if (!vanished && !stoppedEarly && head)
                readByName(*head);
        }
        // A head read short (clipped by a share to the size of the one it replaced, or written
        // by a client that stopped before rewriting it) must not end the history early.
        if (lookPastHead && !vanished && !stoppedEarly)
            readByName(maxSeq);

        if (vanished && attempt < 3)
            continue;

        // The head names the client's newest record: records it names that are not found are
        // missing, once that has lasted longer than a listing may lag.
        const qint64 present = std::max({highest, listing.packedUpTo, listing.hiddenUpTo,
                                         listing.files.empty() ? qint64(0) : listing.files.rbegin()->first});
        if (head && *head > present && !vanished && !stoppedEarly) {
            const auto now = std::chrono::steady_clock::now();
            if (next.shortfallHead != *head) {
                next.shortfallHead = *head;
                next.shortfallSince = now;
            }
            const auto grace = std::chrono::seconds(incompleteRecordGraceSeconds);
            if (!writtenWithin(folder + QStringLiteral("/head"), grace) || now - next.shortfallSince >= grace) {
                next.shortfallReported = missingText(folder, present + 1, *head);
                found << next.shortfallReported;
            }
        } else if (!vanished && !stoppedEarly) {
            next.shortfallHead = 0;
            next.shortfallReported.clear();
        }

        for (const auto& record : records)
            noteSeen(record.changes.front());
        next.lastSeq = highest;
        next.stoppedAt = stoppedEarly || vanished ? highest + 1 : 0;
        next.skipped.removeIf([&](const QPair<qint64, qint64>& range) { return range.first > highest; });
        cursor = std::move(next);
        problems << found;
        // A folder not listed this time is listed at the next poll, should its stamp have changed
        // by more than the records read by name.
        *relistLater = stoppedEarly || listing.hiddenUpTo > 0 || !listNow;
        return records;
    }
}

} // namespace vantrel
