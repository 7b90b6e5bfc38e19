// Claiming the right to write a lock record (`locks/<bundle>.claim`, made with mkdir), putting
// back a record that was moved aside, and sweeping the records this installation left aside.

#include "engine/locks/lock_files.h"
#include "engine/locks/lock_table.h"

#include "engine/engine_errors.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/held_open.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <exception>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vantrel {

namespace lock_files {

namespace {

// How long a claim another client holds is waited for. Holding one takes a few round trips to the
// share; one that stays longer with no record beside it was left by a client that ended.
constexpr std::chrono::milliseconds claimWait{4000};
// How long a record that reads as nobody's is read again, the claim held, before it counts so.
constexpr std::chrono::milliseconds settleWait{1000};

// Removes the folder `path`, which a share may refuse for a moment after it was used.
int removeFolder(const QByteArray& path)
{
    return retryWhileHeldOpen(std::chrono::milliseconds(500), false,
                              [&] { return ::rmdir(path.constData()) == 0 || errno == ENOENT ? 0 : errno; });
}

} // namespace

QString asideOwner(const QString& clientId)
{
    return QString::fromLatin1(QCryptographicHash::hash(clientId.toUtf8(), QCryptographicHash::Sha256).toHex().left(8));
}

QString asideName(const QString& path, const QString& owner)
{
    return path + QStringLiteral(".tmp-") + owner + QLatin1Char('-') + posix::randomToken().left(8);
}

Claim::~Claim()
{
    if (!isHeld())
        return;
    ::unlink(QFile::encodeName(m_path + QLatin1Char('/') + m_owner).constData());
    removeFolder(QFile::encodeName(m_path));
}

Claim& Claim::operator=(Claim&& other) noexcept
{
    if (this != &other) {
        Claim dropped(std::exchange(m_path, std::exchange(other.m_path, {})),
                      std::exchange(m_owner, std::exchange(other.m_owner, {})));
    }
    return *this;
}

namespace {

// The note an installation leaves beside a claim it is about to make, until the claim holds the
// file that names it: a process that ends in between leaves a claim that names nobody, which
// the note tells to be possibly its own.
QByteArray intentPath(const QString& path, const QString& owner)
{
    return QFile::encodeName(path + QStringLiteral("-intent-") + owner);
}

// Whether the folder at `path` holds nothing at all, read through a descriptor of its own.
bool isEmptyFolder(const QString& path)
{
    const posix::UniqueFd folder(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.isOpen())
        return false;
    DIR* listing = ::fdopendir(::dup(folder.get()));
    if (!listing)
        return false;
    bool empty = true;
    while (const dirent* entry = ::readdir(listing)) {
        if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    ::closedir(listing);
    return empty;
}

} // namespace

int makeClaim(const QString& path, const QString& owner)
{
    const QByteArray native = QFile::encodeName(path);
    const QByteArray intent = intentPath(path, owner);
    // A note found already was left by a process of this installation that ended: it stays
    // until a claim of this installation's holds its name.
    const int note = ::open(intent.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664);
    if (note >= 0)
        ::close(note);
    auto dropIntent = qScopeGuard([&] { ::unlink(intent.constData()); });
    if (note < 0)
        dropIntent.dismiss();
    for (;;) {
        if (::mkdir(native.constData(), 0775) == 0)
            break;
        if (errno == EEXIST || errno == EIO)
            return errno;
        if (errno != EINTR)
            throw StorageError::fromErrno(errno, path, QStringLiteral("mkdir"));
    }
    // Whose it is, for this installation to clear one it left behind. A claim without it is
    // still one: only the clearing needs a force unlock then.
    const int marker = ::open(QFile::encodeName(path + QLatin1Char('/') + owner).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664);
    if (marker >= 0)
        ::close(marker);
    ::unlink(intent.constData());
    dropIntent.dismiss();
    return 0;
}

bool isOwnClaim(const QString& path, const QString& owner)
{
    struct stat status {};
    // The folder itself, never a link to one: only then is the name in it what it says.
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISDIR(status.st_mode))
        return false;
    if (::lstat(QFile::encodeName(path + QLatin1Char('/') + owner).constData(), &status) == 0
        && S_ISREG(status.st_mode))
        return true;
    // This installation ended between making the claim and naming itself in it. (Or right after
    // another client's claim refused it: a claim that stayed nobody's since was left behind by
    // that client, and is cleared just as well.)
    return ::lstat(intentPath(path, owner).constData(), &status) == 0 && S_ISREG(status.st_mode)
           && isEmptyFolder(path);
}

void clearClaim(const QString& path, const QString& owner)
{
    const auto dropIntent = qScopeGuard([&] { ::unlink(intentPath(path, owner).constData()); });
    const QString aside = asideName(path, owner);
    const QByteArray native = QFile::encodeName(aside);
    if (std::rename(QFile::encodeName(path).constData(), native.constData()) != 0) {
        if (errno == ENOENT)
            return;
        throw StorageError::fromErrno(errno, path, QStringLiteral("move"));
    }
    // Emptied through a descriptor of the folder, never following a link put in its place; what
    // a teammate put there instead of a folder goes too. What can't be removed stays aside, under
    // a name nobody takes for a claim or a lock.
    if (const posix::UniqueFd folder(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        folder.isOpen()) {
        if (DIR* listing = ::fdopendir(::dup(folder.get()))) {
            QList<QByteArray> names;
            while (const dirent* entry = ::readdir(listing)) {
                if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0 && names.size() < 64)
                    names << QByteArray(entry->d_name);
            }
            ::closedir(listing);
            for (const QByteArray& name : std::as_const(names))
                ::unlinkat(folder.get(), name.constData(), 0);
        }
    }
    if (removeFolder(native) == ENOTDIR)
        ::unlink(native.constData());
}

} // namespace lock_files

using namespace lock_files;

QString LockTable::claimPathFor(const IdFor<VersionBundle>& id) const
{
    return m_folder + QLatin1Char('/') + id.toString() + QStringLiteral(".claim");
}

Claim LockTable::claim(const IdFor<VersionBundle>& id, LockTakeover takeover, std::optional<LockRecord>& holder)
{
    const QString path = claimPathFor(id);
    auto deadline = std::chrono::steady_clock::now() + claimWait;
    for (int cleared = 0;;) {
        const int refusal = makeClaim(path, m_asideOwner);
        if (refusal == 0)
            return Claim(path, m_asideOwner);
        // Another client is writing the record: once it reads whole it names who took the lock.
        // One read while it is written reads as nobody's, or fails (smbnetfs answers EIO for a
        // file another computer is creating), and tells nothing yet.
        std::optional<LockRecord> record;
        std::exception_ptr failure;
        try {
            record = readLock(id);
        } catch (const StorageError& error) {
            if (error.systemError() != EIO)
                throw;
            failure = std::current_exception();
        }
        if (record && record->clientId != QStringLiteral("?")) {
            holder = std::move(record);
            if (takeover != LockTakeover::forceUnlock)
                return Claim();
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            // A share that still answers errors went away: that is nobody's claim.
            if (failure)
                std::rethrow_exception(failure);
            if (refusal == EIO)
                throw StorageError::fromErrno(refusal, path, QStringLiteral("mkdir"));
            // Left behind by a client that ended while it held the claim: the lock counts as held
            // by nobody known, until a force unlock clears it. One of this installation's own
            // was left by a process that ended (a client id is one process at a time).
            const bool own = isOwnClaim(path, m_asideOwner);
            if ((takeover != LockTakeover::forceUnlock && !own) || cleared == 2) {
                if (!holder) {
                    holder.emplace();
                    holder->clientId = holder->userName = QStringLiteral("?");
                }
                return Claim();
            }
            clearClaim(path, m_asideOwner);
            ++cleared;
            deadline = std::chrono::steady_clock::now() + claimWait;
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + QRandomGenerator::global()->bounded(12)));
    }
}

std::optional<LockRecord> LockTable::readClaimed(const IdFor<VersionBundle>& id)
{
    // Nobody writes the record while this client holds the claim, so one that reads as nobody's
    // is either damaged or seen through a mount whose view of the record written last still lags
    // (smbnetfs: some 100 ms after the other computer read it back whole).
    const auto deadline = std::chrono::steady_clock::now() + settleWait;
    auto record = readLock(id);
    while (record && record->clientId == QStringLiteral("?") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        record = readLock(id);
    }
    return record;
}

bool LockTable::putBack(const IdFor<VersionBundle>& id, const QString& aside, const std::optional<QByteArray>& bytes,
                        bool wait)
{
    Claim claimed;
    if (wait) {
        std::optional<LockRecord> holder;
        claimed = claim(id, LockTakeover::none, holder);
    } else if (makeClaim(claimPathFor(id), m_asideOwner) == 0) {
        claimed = Claim(claimPathFor(id), m_asideOwner);
    }
    // Only into a free place: a lock taken meanwhile is the one that counts.
    if (!claimed.isHeld() || readClaimed(id))
        return false;
    const QString path = pathFor(id);
    if (bytes) {
        if (!publishFileExclusively(path, *bytes))
            return false;
        removeAside(aside);
    } else {
        posix::renameFile(aside, path, path, heldOpenBound::beforePublishing);
    }
    return true;
}

LockTable::Operation::Operation(LockTable& table) : m_table(table)
{
    std::lock_guard lock(m_table.m_operationsMutex);
    ++m_table.m_lockOperations;
}

LockTable::Operation::~Operation()
{
    std::lock_guard lock(m_table.m_operationsMutex);
    --m_table.m_lockOperations;
}

void LockTable::sweepAside(const QStringList& names)
{
    std::unique_lock operations(m_operationsMutex, std::try_to_lock);
    if (!operations.owns_lock() || m_lockOperations > 0)
        return;
    // No lock operation of this process runs, and only it makes names of this installation's: none
    // of these is about to be read or put back.
    for (const QString& name : names) {
        const auto id = IdFor<VersionBundle>::fromString(QStringView(name).left(name.indexOf(QLatin1Char('.'))));
        const QString aside = m_folder + QLatin1Char('/') + name;
        std::optional<QByteArray> bytes;
        try {
            bytes = readWholeFile(aside, readLimits::lockRecord);
            const LockRecord record = LockRecord::fromJson(*bytes);
            // Another installation's lock, moved aside by a release of ours that lost a race with
            // its force unlock and could not put it back: it goes back where the lock is free.
            if (id && record.clientId != m_clientId && isReachable() && putBack(*id, aside, bytes, false))
                continue;
            if (id && record.clientId != m_clientId && !readLock(*id))
                continue; // the lock is free but could not be put back now: the next poll tries again
        } catch (const DecodingError&) {
            // What does not read as a record holds up nobody.
        } catch (const Error&) {
            continue; // unreadable for now
        }
        // Ours (given up, its removal refused while a reader held it), or a lock held anew since.
        ::unlink(QFile::encodeName(aside).constData());
    }
}

} // namespace vantrel
