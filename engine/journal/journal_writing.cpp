// Writing this client's records: stamping their numbers, publishing each under a number of its
// own, entering the register of clients and rewriting the head.

#include "engine/journal/journal.h"

#include "engine/journal/journal_files.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/fixed_length_files.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/shared_folders.h"
#include "engine/storage/storage_error.h"
#include "desktop/user_identity.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace vantrel {

using namespace journal_files;

namespace {

// The bytes of unpacked records kept in memory for the next pack, at most.
constexpr qint64 maxUnpackedBytesKept = 32 * 1024 * 1024;

} // namespace

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
        // A number a pack holds had its record, whose file is gone: published again, it would be
        // a stray that a reader could fold in place of the packed one before it goes. Another
        // process writing as this client may have gone on and packed since this one last wrote:
        // that is looked at right before the record is published.
        std::optional<qint64> packed;
        const auto mayPublish = [&] {
            if (QFileInfo::exists(path))
                return false;
            packed = packedBefore(folder, m_nextOwnSeq, nullptr);
            return !packed;
        };
        if (!publishFileExclusively(path, bytes, mayPublish)) {
            // Another process writing as this client took the number.
            m_nextOwnSeq = packed ? *packed : m_nextOwnSeq + 1;
            continue;
        }
        const auto taken = packedBefore(folder, m_nextOwnSeq, &bytes);
        if (!taken)
            break;
        // Packed in the moment between the look and the publishing: ours is a stray, and goes.
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
