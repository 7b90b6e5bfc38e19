#include "engine/client_lease.h"

#include "engine/engine_errors.h"
#include "engine/storage/storage_error.h"
#include "engine/user_identity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Engine", text);
}

// The flock this process holds for one client id, and how many leases share it.
struct Hold {
    QByteArray path;
    int fd = -1;
    int leases = 0;
};

struct Registry {
    std::mutex mutex;
    std::map<QString, Hold> holds;
};

// Never destroyed: a team bundle kept in a static may be released after this file's statics.
Registry& registry()
{
    static auto* const instance = new Registry;
    return *instance;
}

// A folder that only this user can enter, and not a link.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()
           && (info.st_mode & 077) == 0;
}

// Makes `path` a private folder of ours: created when missing, closed to others when it is ours
// but open to them. False when it is somebody else's, or not a folder.
bool ensurePrivateFolder(const QByteArray& path)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return false;
    if ((info.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        return false;
    return isPrivateFolder(path);
}

// Opens and locks the lock file at `path`; returns its descriptor.
int takeLock(const QByteArray& path, const QString& bundlePath)
{
    const QString shown = QFile::decodeName(path);
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd =
            ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd < 0)
            throw StorageError::fromErrno(errno, shown, QStringLiteral("open"));
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_uid != ::geteuid()) {
            ::close(fd);
            throw StorageError::fromErrno(EPERM, shown, QStringLiteral("open"));
        }
        int locked;
        while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK)
                throw TeamBundleError(TeamBundleError::Case::clientInUse, bundlePath);
            throw StorageError::fromErrno(error, shown, QStringLiteral("flock"));
        }
        // The holder before us removes the file as it lets go: a lock on a file that no longer
        // has this name holds nothing, so try again with the file that has it now.
        struct stat named {};
        if (::lstat(path.constData(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
            return fd;
        ::close(fd);
    }
    throw StorageError::fromErrno(EAGAIN, shown, QStringLiteral("flock"));
}

} // namespace

QString ClientLease::lockFolder()
{
    const QByteArray uid = QByteArray::number(::geteuid());
    // A runtime folder is private, on the local disk and emptied when the user logs out for good.
    // /run/user/<uid> is tried too, so that a process started without the variable (from a
    // remote shell, say) finds the folder of one started with it.
    QList<QByteArray> runtimes;
    if (const QByteArray variable = qgetenv("XDG_RUNTIME_DIR"); variable.startsWith('/'))
        runtimes << variable;
    runtimes << "/run/user/" + uid;
    for (const QByteArray& runtime : std::as_const(runtimes)) {
        const QByteArray folder = runtime + "/vantrel";
        if (isPrivateFolder(runtime) && ensurePrivateFolder(folder))
            return QFile::decodeName(folder);
    }
    // /tmp before $TMPDIR: every process of the user must find the same folder, and TMPDIR may
    // differ between sessions or lie in the (possibly shared) home folder.
    const QByteArray fallback = "/tmp/vantrel-" + uid;
    for (const QByteArray& folder : {fallback, QFile::encodeName(QDir::tempPath()) + "/vantrel-" + uid}) {
        if (ensurePrivateFolder(folder))
            return QFile::decodeName(folder);
    }
    const QString shown = QFile::decodeName(fallback);
    throw StorageError(StorageError::Kind::permissionDenied, shown,
                       tr("Vantrel can’t use the folder “%1” to make sure it runs only once.").arg(shown),
                       tr("The folder belongs to somebody else, or is not a private folder."),
                       tr("Remove the folder or make it yours, then try again."));
}

ClientLease::ClientLease(const QString& clientId, const QString& bundlePath) : m_clientId(clientId)
{
    if (!isUsableClientId(clientId))
        throw Error(tr("“%1” can’t be used as the id of this installation.").arg(clientId),
                    tr("Invalid Installation Id"));
    Registry& shared = registry();
    std::lock_guard lock(shared.mutex);
    if (const auto held = shared.holds.find(clientId); held != shared.holds.end()) {
        ++held->second.leases;
        return;
    }
    const QByteArray path = QFile::encodeName(lockFolder() + QLatin1Char('/') + clientId + QStringLiteral(".lock"));
    shared.holds.emplace(clientId, Hold{path, takeLock(path, bundlePath), 1});
}

ClientLease::~ClientLease()
{
    Registry& shared = registry();
    std::lock_guard lock(shared.mutex);
    const auto held = shared.holds.find(m_clientId);
    if (held == shared.holds.end() || --held->second.leases > 0)
        return;
    // Removed while still locked, so that nobody keeps a lock on a file that is about to go.
    ::unlink(held->second.path.constData());
    ::close(held->second.fd);
    shared.holds.erase(held);
}

} // namespace vantrel
