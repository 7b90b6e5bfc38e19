#include "engine/locks/lock_files.h"
#include "engine/locks/lock_table.h"

#include "engine/engine_errors.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <optional>
#include <unistd.h>

// Giving locks up: moving a record of ours aside, and putting back one that turned out not to be
// ours.
namespace vantrel {

namespace lock_files {

bool moveAside(const QString& path, const QString& aside, std::chrono::milliseconds heldOpen)
{
    const QByteArray from = QFile::encodeName(path);
    const QByteArray to = QFile::encodeName(aside);
    const int error = retryWhileHeldOpen(
        heldOpen, false, [&] { return std::rename(from.constData(), to.constData()) == 0 ? 0 : errno; });
    if (error == 0)
        return true;
    if (error == ENOENT)
        return false;
    throw StorageError::fromErrno(error, path, QStringLiteral("move"));
}

void removeAside(const QString& aside)
{
    const QByteArray native = QFile::encodeName(aside);
    retryWhileHeldOpen(heldOpenBound::retriedByPoll, false,
                       [&] { return ::unlink(native.constData()) == 0 || errno == ENOENT ? 0 : errno; });
}

} // namespace lock_files

using namespace lock_files;

bool LockTable::releaseOne(const IdFor<VersionBundle>& id, const IdFor<VersionBundle>& initiator,
                           std::chrono::milliseconds heldOpen)
{
    const Operation operation(*this);
    // A record not found is given up already only while the bundle can be reached: a share that
    // went away shows none, and its lock, still ours on the share, is given up once it is back.
    const auto gone = [&] {
        if (!isReachable())
            throw TeamBundleError(TeamBundleError::Case::unreachable, QFileInfo(m_folder).path());
        return false;
    };
    // Only a record that is ours is touched at all.
    const auto current = readLock(id);
    if (!current)
        return gone();
    if (current->clientId != m_clientId || current->initiator != initiator)
        return false;
    const QString path = pathFor(id);
    const QString aside = asideName(path, m_asideOwner);
    if (!moveAside(path, aside, heldOpen))
        return gone();
    std::optional<QByteArray> bytes;
    try {
        if (const auto hook = [this] {
                std::lock_guard lock(m_mutex);
                return m_asideMoved;
            }())
            hook(aside);
        bytes = readWholeFile(aside, readLimits::lockRecord);
        const LockRecord record = LockRecord::fromJson(*bytes);
        if (record.clientId == m_clientId && record.initiator == initiator) {
            removeAside(aside);
            return true;
        }
    } catch (const DecodingError&) {
    } catch (const StorageError&) {
        // Whose it is can't be told: it goes back as it was, and the release counts as not done.
        try {
            putBack(id, aside, std::nullopt, true);
        } catch (const Error&) {
            // Left aside for a poll's sweep: the first failure is the one reported.
        }
        throw;
    }
    // Taken over between the read and the move: put it back as it was. Where that fails (a
    // third client took the lock meanwhile), the record stays aside rather than being lost, for
    // a poll's sweep to put back or remove.
    putBack(id, aside, bytes, true);
    return false;
}

void LockTable::afterRelease()
{
    refresh();
    if (const auto hook = [this] {
            std::lock_guard lock(m_mutex);
            return m_afterRelease;
        }())
        hook();
}

void LockTable::release(const QList<IdFor<VersionBundle>>& ids, const IdFor<VersionBundle>& initiator)
{
    std::exception_ptr failure;
    for (const auto& id : ids) {
        try {
            releaseOne(id, initiator, heldOpenBound::afterPublishing);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    afterRelease();
    if (failure)
        std::rethrow_exception(failure);
}

QList<IdFor<VersionBundle>> LockTable::tryRelease(const QList<IdFor<VersionBundle>>& ids,
                                                  const IdFor<VersionBundle>& initiator,
                                                  std::chrono::milliseconds heldOpen, QString& failure)
{
    QList<IdFor<VersionBundle>> left;
    for (const auto& id : ids) {
        try {
            releaseOne(id, initiator, heldOpen);
        } catch (const Error& error) {
            left << id;
            if (failure.isEmpty())
                failure = error.debugDescription();
        }
    }
    try {
        afterRelease();
    } catch (const Error&) {
        // Only the table shown: the next poll reads it again.
    }
    return left;
}

} // namespace vantrel
