// The journal: opening it, reading every client's records at open and at each poll, and the
// problems reported from one read to the next.

#include "engine/journal/journal.h"

#include "engine/journal/journal_files.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/fixed_length_files.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

using namespace journal_files;

// Reads are bounded: whatever a file on the share holds, it is not read past these sizes.
constexpr qint64 maxLostRecords = 1'000'000;

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

std::optional<qint64> Journal::readHead(const QString& client, bool* whole, bool* unreadable) const
{
    const QString path = m_folder + QLatin1Char('/') + client + QStringLiteral("/head");
    if (whole)
        *whole = false;
    if (unreadable)
        *unreadable = false;
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
    } catch (const StorageError& error) {
        // No head yet (a client that crashed before writing it): the folder is listed instead.
        if (unreadable)
            *unreadable = error.kind() != StorageError::Kind::notFound;
    } catch (const Error&) {
        // Not a number: the folder is listed instead.
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
        const auto head = readHead(client, nullptr, &cursor.headUnreadable);
        auto read = readClient(client, cursor, head, found, &relistLater, false, true, true);
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
        const auto head = readHead(client, &whole, &cursor.headUnreadable);
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

QStringList Journal::incompleteView() const
{
    std::lock_guard lock(m_mutex);
    QStringList reasons;
    const auto ofClient = [&](const QString& client, const QString& text) {
        reasons << QStringLiteral("%1/%2: %3").arg(m_folder, client, text);
    };
    for (auto it = m_cursors.cbegin(); it != m_cursors.cend(); ++it) {
        const QString& client = it.key();
        const Cursor& cursor = it.value();
        for (const auto& [from, to] : cursor.skipped)
            ofClient(client, from == to ? QStringLiteral("record %1 was left out.").arg(from)
                                        : QStringLiteral("records %1 to %2 were left out.").arg(from).arg(to));
        if (cursor.stoppedAt > 0)
            ofClient(client, QStringLiteral("record %1 could not be read yet.").arg(cursor.stoppedAt));
        if (cursor.shortfallHead > cursor.lastSeq)
            ofClient(client, QStringLiteral("its head names records up to %1 that were not found.")
                                 .arg(cursor.shortfallHead));
        if (cursor.headUnreadable)
            ofClient(client, QStringLiteral("its head could not be read."));
    }
    // Every client folder there is was read: the listing that found the clients may have failed.
    // Opened and listed here, checking for errors, which a listing through QDir does not tell.
    const int folder = ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* listing = folder >= 0 ? ::fdopendir(folder) : nullptr;
    if (!listing) {
        if (folder >= 0)
            ::close(folder);
        if (errno != ENOENT)
            reasons << QStringLiteral("%1: the journal could not be listed.").arg(m_folder);
        return reasons;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (!entry) {
            if (errno != 0)
                reasons << QStringLiteral("%1: the journal could not be listed.").arg(m_folder);
            break;
        }
        const QString name = QFile::decodeName(entry->d_name);
        struct stat status {};
        if (!isClientFolderName(name) || name == m_writerId || m_cursors.contains(name)
            || ::fstatat(::dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(status.st_mode))
            continue;
        ofClient(name, QStringLiteral("its records were not read."));
    }
    ::closedir(listing);
    return reasons;
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

} // namespace vantrel
