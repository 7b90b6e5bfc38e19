#include "engine/journal/journal.h"

#include "desktop/user_identity.h"
#include "engine/journal/journal_files.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/fixed_length_files.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/shared_folders.h"
#include "engine/storage/storage_error.h"

#include <QCoreApplication>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace vantrel {

namespace {

using namespace journal_files;

// Reads are bounded: whatever a file on the share holds, it is not read past these sizes.
constexpr qint64 maxLostRecords = 1'000'000;
// The bytes of unpacked records kept in memory for the next pack, at most.
constexpr qint64 maxUnpackedBytesKept = 32 * 1024 * 1024;

} // namespace

const QString& JournalRecord::noName()
{
    static const QString none;
    return none;
}

Journal::Journal(QString folder, QString writerId)
    : m_folder(std::move(folder)),
      m_writerId(std::move(writerId)),
      m_register(m_folder)
{
    const Listing own = listFolder(m_folder + QLatin1Char('/') + m_writerId);
    qint64 highest = own.packedUpTo;
    if (!own.files.empty())
        highest = std::max(highest, own.files.rbegin()->first);
    m_unpackedOwnRecords = static_cast<int>(std::count_if(
        own.files.begin(), own.files.end(), [&](const auto& file) { return file.first > own.packedUpTo; }));
    // Records a previous run left unpacked count towards the next pack, which the owner of this
    // journal makes in the background.
    m_packDue = m_unpackedOwnRecords >= m_packThreshold;
    // Numbers the head names were published once, even when their records are gone since:
    // other clients may have read them, so they are never given to another record. A head far
    // beyond the records is taken for a damaged head rather than for lost records.
    const auto head = readHead(m_writerId);
    // A client that wrote before is found by the listing, as clients were before the register.
    m_registerPending = highest == 0 && !head;
    m_nextOwnSeq = (head && *head > highest && *head - highest <= maxLostRecords ? *head : highest) + 1;
    // A head left behind by a crash right after a record was published is brought up to date.
    if (highest > 0 && (!head || *head < highest)) {
        m_headPending = true;
        writeHead();
    }
}

std::optional<qint64> Journal::readHead(const QString& client, bool* whole) const
{
    const QString path = m_folder + QLatin1Char('/') + client + QStringLiteral("/head");
    if (whole)
        *whole = false;
    try {
        // Not read again when short: heads of older clients are unpadded, and a head read short
        // only names fewer records than there are, which readers look past by name.
        const QByteArray bytes = readWholeFile(path, readLimits::journalHead);
        bool valid = false;
        const qint64 seq = bytes.trimmed().toLongLong(&valid);
        if (whole)
            *whole = bytes.size() == fixed_length::journalHead;
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
    qint64 seen = m_highestLamport.load();
    while (seen < record.stamp.lamport && !m_highestLamport.compare_exchange_weak(seen, record.stamp.lamport)) {
    }
    // Honest numbers never come near the bound: of the records beyond it, the lowest is where the
    // numbers jumped, the others were stamped after it.
    if (record.stamp.lamport > maxStampedLamport && (!m_outOfReach || record.stamp.lamport < m_outOfReach->lamport))
        m_outOfReach = OutOfReach{record.stamp.lamport, record.stamp.client, record.stamp.seq, record.author};
}

StorageError Journal::noNumberLeft(const QString& folder) const
{
    if (!m_outOfReach)
        return StorageError::corrupt(folder, QStringLiteral("The journal has no order number left."));
    const OutOfReach& culprit = *m_outOfReach;
    const QString path = m_folder + QLatin1Char('/') + culprit.client + QLatin1Char('/') + recordFileName(culprit.seq);
    QString writer = culprit.author ? culprit.author->fullName : QString();
    if (writer.isEmpty())
        writer = culprit.author ? culprit.author->userName : QString();
    if (culprit.author && !culprit.author->hostName.isEmpty())
        writer = QCoreApplication::translate("Engine", "%1 on %2").arg(writer, culprit.author->hostName);
    StorageError error(StorageError::Kind::corrupt, path,
                       QCoreApplication::translate(
                           "Engine", "The journal record “%1”, written by %2, holds an order number so high that no "
                                     "change can be recorded after it.")
                           .arg(shownPath(path), writer.isEmpty() ? culprit.client : writer),
                       QCoreApplication::translate("Engine", "Damaged Journal Record"),
                       QCoreApplication::translate(
                           "Engine", "Remove that record from the team bundle, or restore the team bundle from a "
                                     "backup, then try again."));
    return error;
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

std::vector<JournalRecord> Journal::readAll(QStringList& problems)
{
    std::vector<JournalRecord> all;
    readAll(problems, [&](std::vector<JournalRecord>&& records) {
        std::move(records.begin(), records.end(), std::back_inserter(all));
    });
    return all;
}

void Journal::readAll(QStringList& problems, const std::function<void(std::vector<JournalRecord>&&)>& fold)
{
    std::lock_guard lock(m_mutex);
    m_cursors.clear();
    m_reported.clear();
    m_withdrawn.clear();
    // The clients listed, and those the register names that a listing may not show yet.
    QStringList clients = QDir(m_folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& client : m_register.readNew())
        m_registered.insert(client);
    for (const QString& client : std::as_const(m_registered)) {
        if (!clients.contains(client) && !QFileInfo(m_folder + QLatin1Char('/') + client).isSymLink())
            clients << client;
    }
    for (const QString& client : std::as_const(clients)) {
        const QString stamp = folderStamp(m_folder + QLatin1Char('/') + client);
        Cursor& cursor = m_cursors[client];
        QStringList found;
        bool relistLater = false;
        std::vector<JournalRecord> records;
        auto read = readClient(client, cursor, readHead(client), found, &relistLater, false, true, true);
        size_t count = 0;
        for (const auto& record : read)
            count += record.changes.size();
        records.reserve(count);
        for (auto& record : read)
            std::move(record.changes.begin(), record.changes.end(), std::back_inserter(records));
        read.clear();
        cursor.folderStamp = relistLater ? QString() : stamp;
        report(found, problems);
        if (!records.empty())
            fold(std::move(records));
    }
}

void Journal::lookFor(const QString& client)
{
    if (!isClientFolderName(client))
        return;
    std::lock_guard lock(m_mutex);
    m_cursors[client]; // read from the next poll on, from its first record
}

std::vector<JournalRecord> Journal::readNew(QStringList& problems)
{
    std::lock_guard lock(m_mutex);
    writeHead();
    std::vector<JournalRecord> fresh;
    // The clients listed, and those known already: a listing may lag behind a new folder, and
    // the register names a new client as soon as it wrote.
    for (const QString& client : m_register.readNew()) {
        m_registered.insert(client);
        m_cursors[client];
    }
    QStringList clients = QDir(m_folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (auto it = m_cursors.cbegin(); it != m_cursors.cend(); ++it) {
        if (!clients.contains(it.key()) && !QFileInfo(m_folder + QLatin1Char('/') + it.key()).isSymLink())
            clients << it.key();
    }
    for (const QString& client : std::as_const(clients)) {
        if (client == m_writerId)
            continue;
        Cursor& cursor = m_cursors[client];
        // The head, read by name, says whether there is anything new: a share answers a file
        // opened by name from the file, where it may answer a listing or a folder's stamp from
        // a cache for a while. The folder's stamp only catches records no head names yet (a
        // client that stopped between publishing a record and rewriting its head).
        const QString stamp = folderStamp(m_folder + QLatin1Char('/') + client);
        bool whole = false;
        const auto head = readHead(client, &whole);
        const bool named = head && *head > cursor.lastSeq;
        const bool unchanged = !named && head && stamp == cursor.folderStamp;
        // A head shorter than heads are written (an older client's, or one a share clipped to
        // the size of the one it replaced) may name fewer records than there are: the next
        // one is looked for by name.
        if ((unchanged && whole) || (!head && stamp.isEmpty()))
            continue; // nothing new, or no such folder
        QStringList found;
        bool relistLater = false;
        const QString shortfall = cursor.shortfallReported;
        const qint64 before = cursor.lastSeq;
        for (auto& record : readClient(client, cursor, head, found, &relistLater, false, !named && !unchanged, !whole))
            std::move(record.changes.begin(), record.changes.end(), std::back_inserter(fresh));
        cursor.folderStamp = relistLater && !(unchanged && cursor.lastSeq == before) ? QString() : stamp;
        if (!shortfall.isEmpty() && cursor.shortfallReported != shortfall)
            withdraw(shortfall); // read since, or superseded by a report naming more
        report(found, problems);
    }
    return fresh;
}

void Journal::withdraw(const QString& problem)
{
    if (m_reported.remove(problem))
        m_withdrawn << problem;
}

QStringList Journal::withdrawnProblems()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_withdrawn, {});
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

void Journal::setCrashAfterPackForTesting(bool crash)
{
    std::lock_guard lock(m_mutex);
    m_crashAfterPack = crash;
}

void Journal::setPackThresholdForTesting(int threshold)
{
    std::lock_guard lock(m_mutex);
    m_packThreshold = std::max(threshold, 1);
    m_packDue = m_unpackedOwnRecords >= m_packThreshold;
}

void Journal::setPackObserverForTesting(std::function<void(int)> observe)
{
    std::lock_guard lock(m_mutex);
    m_packObserver = std::move(observe);
}

void Journal::setReadFaultForTesting(std::function<int(const QString&)> fault)
{
    std::lock_guard lock(m_mutex);
    m_readFault = std::move(fault);
}

std::vector<JournalRecord> Journal::append(const std::vector<JournalChange>& changes, const UserIdentity& author)
{
    Q_ASSERT(!changes.empty());
    std::lock_guard lock(m_mutex);
    const QString folder = m_folder + QLatin1Char('/') + m_writerId;
    ensureDirectory(folder);
    enterRegister();

    std::vector<JournalRecord> records;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    int sub = 0;
    const auto shared = std::make_shared<const UserIdentity>(author);
    for (const auto& change : changes) {
        Q_ASSERT(change.kind != RecordKind::unknown);
        JournalRecord record;
        record.bundle = change.bundle;
        record.kind = change.kind;
        record.fields = change.fields;
        record.date = now;
        record.author = shared;
        record.stamp.client = m_writerId;
        record.stamp.sub = sub++;
        records.push_back(std::move(record));
    }
    QByteArray bytes;
    for (;;) {
        if (m_nextOwnSeq > maxSeq)
            throw StorageError::corrupt(folder, QStringLiteral("The journal has no sequence number left."));
        // Readers read numbers up to maxLamport; a writer stops well before, at a record that can
        // only be crafted, and names it.
        const qint64 lamport = m_highestLamport.load() + 1;
        if (lamport > maxStampedLamport)
            throw noNumberLeft(folder);
        for (auto& record : records) {
            record.stamp.seq = m_nextOwnSeq;
            record.stamp.lamport = lamport;
        }
        bytes = encodeRecord(records);
        // Nothing is published that readers would leave out: a change reported done is one
        // every client folds.
        if (bytes.size() > readLimits::journalRecord)
            throw StorageError::tooLarge(folder + QLatin1Char('/') + recordFileName(m_nextOwnSeq), bytes.size(),
                                         readLimits::journalRecord);
        if (const auto check = decodeRecord(bytes); check.outcome != DecodedRecord::Outcome::folded)
            throw StorageError::corrupt(folder, QStringLiteral("A record could not be written: %1").arg(check.detail));
        const QString path = folder + QLatin1Char('/') + recordFileName(m_nextOwnSeq);
        if (!publishFileExclusively(path, bytes)) {
            ++m_nextOwnSeq; // another process writing as this client took the number
            continue;
        }
        const auto taken = packedBefore(folder, m_nextOwnSeq, bytes);
        if (!taken)
            break;
        // Taken too, by a record packed since: ours is a stray no reader takes (the pack comes
        // first), and goes.
        QFile::remove(path);
        m_nextOwnSeq = std::max(m_nextOwnSeq + 1, *taken);
    }
    const qint64 seq = m_nextOwnSeq++;
    if (m_unpackedByteCount + bytes.size() <= maxUnpackedBytesKept) {
        m_unpackedByteCount += bytes.size();
        m_unpackedBytes.emplace(seq, std::move(bytes));
    }
    noteSeen(records.front());
    m_cursors[m_writerId].lastSeq = seq;
    // The record is published: the change has happened, whatever becomes of the head file,
    // which lets readers find it by name. One that could not be written is written later.
    m_headPending = true;
    writeHead();

    // Packing is left to the owner's background work (packIfDue()): no commit waits for it.
    if (++m_unpackedOwnRecords >= m_packThreshold)
        m_packDue = true;
    return records;
}

void Journal::enterRegister()
{
    if (!std::exchange(m_registerPending, false))
        return;
    // Before the first record: once that is published, a reader that looks for new clients by
    // name finds it. One that could not be entered is found by a listing of the journal.
    try {
        for (const QString& client : m_register.enter(m_writerId)) {
            m_registered.insert(client);
            m_cursors[client];
        }
    } catch (const Error& error) {
        qWarning("This client could not be entered in the register of clients: %s", error.what());
    }
}

void Journal::writeHead()
{
    if (!m_headPending || m_nextOwnSeq <= 1)
        return;
    try {
        // Readers find new records by it at once; one that could not be written leaves them to
        // a listing of the folder, which a share may answer from a cache for a while. A head
        // another client is reading (SMB refuses to replace it then) is tried briefly here, and
        // again at every poll until it is written.
        writeFileAtomically(m_folder + QLatin1Char('/') + m_writerId + QStringLiteral("/head"),
                            fixed_length::headBytes(m_nextOwnSeq - 1), Durability::replaceable,
                            heldOpenBound::retriedByPoll);
        m_headPending = false;
    } catch (const Error& error) {
        qWarning("The journal head could not be written: %s", error.what());
    }
}

} // namespace vantrel
