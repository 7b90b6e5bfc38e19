// Packing a client's own records into one file, on a thread of the owner's background work,
// while appends and readers go on.

#include "engine/journal/journal.h"

#include "engine/journal/journal_files.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>
#include <cstdlib>

namespace vantrel {

using namespace journal_files;

std::optional<qint64> Journal::packedBefore(const QString& folder, qint64 seq, const QByteArray* published) const
{
    // A pack is complete before the records it holds are removed, in order: while the record
    // before this one is there, no pack written so far has removed this one. That is the
    // common case, and costs one look-up.
    if (seq > 1 && QFileInfo::exists(folder + QLatin1Char('/') + recordFileName(seq - 1)))
        return std::nullopt;
    const Listing listing = listFolder(folder);
    if (listing.packedUpTo < seq)
        return std::nullopt;
    // A pack holds the number: once published, it is ours when a packer read this record back
    // just now.
    for (const auto& pack : listing.packs) {
        if (!published)
            break;
        if (pack.first > seq || pack.last < seq)
            continue;
        try {
            const auto split = splitPack(readWholeFile(folder + QLatin1Char('/') + pack.name, readLimits::journalPack));
            for (const auto& entry : split.entries) {
                if (entry.bytes == QByteArrayView(*published))
                    return std::nullopt;
            }
        } catch (const Error&) {
            // Unreadable or gone: the number is taken all the same.
        }
    }
    qint64 highest = listing.packedUpTo;
    if (!listing.files.empty())
        highest = std::max(highest, listing.files.rbegin()->first);
    return highest + 1;
}

bool Journal::packDue() const
{
    std::lock_guard lock(m_mutex);
    return m_packDue;
}

void Journal::stopPacking()
{
    m_packingStopped = true;
}

void Journal::packIfDue()
{
    std::lock_guard packing(m_packMutex);
    if (m_packingStopped)
        return;
    // What to pack is taken under the lock: the records written up to now, and the bytes this
    // process kept of them. Records appended while the pack is written get later numbers and
    // stay single records for the next pack.
    PackPlan plan;
    int counted = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_packDue)
            return;
        m_packDue = false; // the next append notes it again when this pack can't be made
        plan.upTo = m_nextOwnSeq - 1;
        plan.kept = m_unpackedBytes;
        plan.crashAfterWriting = m_crashAfterPack;
        plan.observe = m_packObserver;
        counted = m_unpackedOwnRecords;
    }
    const qint64 last = writePack(plan);
    if (last == 0)
        return;
    std::lock_guard lock(m_mutex);
    m_unpackedBytes.erase(m_unpackedBytes.begin(), m_unpackedBytes.upper_bound(last));
    m_unpackedByteCount = 0;
    for (const auto& [seq, bytes] : m_unpackedBytes)
        m_unpackedByteCount += bytes.size();
    m_unpackedOwnRecords = std::max(0, m_unpackedOwnRecords - counted);
    m_packDue = m_unpackedOwnRecords >= m_packThreshold;
}

qint64 Journal::writePack(const PackPlan& plan)
{
    const QString folder = m_folder + QLatin1Char('/') + m_writerId;
    const Listing listing = listFolder(folder);
    // The new pack holds the records since the last one, up to the plan's: this process's own
    // records straight from memory when it has them all, read back (and checked) otherwise.
    const qint64 first = listing.packedUpTo + 1;
    if (plan.upTo < first)
        return 0; // packed already, by another process writing as this client
    QList<QByteArray> lines;
    qint64 last = 0;
    bool inMemory = true;
    for (qint64 seq = first; seq <= plan.upTo && inMemory; ++seq)
        inMemory = plan.kept.contains(seq);
    if (inMemory) {
        for (auto it = plan.kept.find(first); it != plan.kept.end() && it->first <= plan.upTo; ++it)
            lines << it->second;
        last = plan.upTo;
    } else {
        // Only this client's own folder is read, with a cursor of its own: nothing the readers
        // of this journal rely on changes, so m_mutex is not needed.
        QStringList problems;
        Cursor scratch;
        scratch.lastSeq = listing.packedUpTo;
        bool relistLater = false;
        auto records = readClient(m_writerId, scratch, readHead(m_writerId), problems, &relistLater, true, true);
        std::erase_if(records, [&](const ReadRecord& record) { return record.changes.front().stamp.seq > plan.upTo; });
        if (!problems.isEmpty() || relistLater || records.empty())
            return 0; // never pack over a record we could not read: it stays as it is
        if (records.front().changes.front().stamp.seq != first)
            return 0; // the records do not follow the packs: they stay single
        // Each record goes into the pack byte for byte, its checksum with it. Records written
        // before checksums may span lines; they have no checksum to keep and are written on one.
        for (const auto& record : records) {
            if (!record.bytes.contains('\n'))
                lines << record.bytes;
            else if (record.format == 1)
                lines << QJsonDocument::fromJson(record.bytes).toJson(QJsonDocument::Compact);
            else
                return 0;
        }
        last = records.back().changes.front().stamp.seq;
    }
    // The pack is complete on the share before any record it holds is removed: a crash in
    // between leaves both, and readers take the records from the pack. Stopped before it is
    // written, or between two removals, it leaves the same.
    if (m_packingStopped)
        return 0;
    writeFileAtomically(folder + QLatin1Char('/') + packFileName(first, last), encodePack(lines));
    if (plan.crashAfterWriting)
        std::_Exit(9);
    if (plan.observe)
        plan.observe(0);

    // Packs that another one holds entirely (those of older versions, which held every record
    // from the first) and the records packed are tidied away. Readers listing the folder
    // meanwhile find a file gone and list it again.
    for (const auto& pack : listing.packs) {
        const bool covered = std::any_of(listing.packs.begin(), listing.packs.end(), [&](const PackFile& other) {
            return &other != &pack && other.first <= pack.first && other.last >= pack.last
                   && (other.first < pack.first || other.last > pack.last || other.name > pack.name);
        });
        if (covered)
            QFile::remove(folder + QLatin1Char('/') + pack.name);
    }
    // Every record the pack holds goes, one read by name that the listing did not show too, in
    // order from the lowest: while a record is there, none after it was removed, which a writer
    // relies on before it publishes the next number.
    std::map<qint64, QString> packed(listing.files.begin(), listing.files.upper_bound(last));
    for (qint64 seq = first; seq <= last; ++seq)
        packed.try_emplace(seq, recordFileName(seq));
    int removed = 0;
    for (const auto& [seq, name] : packed) {
        if (m_packingStopped)
            break;
        QFile::remove(folder + QLatin1Char('/') + name);
        if (plan.observe)
            plan.observe(++removed);
    }
    return last;
}

} // namespace vantrel
