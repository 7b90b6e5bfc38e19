#include "engine/locks/client_lease.h"

#include "desktop/user_identity.h"
#include "engine/engine_errors.h"
#include "engine/storage/storage_error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <pwd.h>
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

// What keeps a folder from holding our lock files; none when it is ours alone.
enum class FolderProblem { none, unusable, link, notFolder, othersOwnIt, openToOthers };

struct FolderCheck {
    FolderProblem problem = FolderProblem::none;
    uid_t owner = 0;
    int error = 0; // the errno value of an unusable folder
};

// Makes `path` a private folder of ours: created when missing, closed to others when it is ours
// but open to them. The folder is checked through a descriptor opened without following a link,
// so that what is checked is what is used.
FolderCheck makePrivateFolder(const QByteArray& path)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return {FolderProblem::unusable, 0, errno};
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0)
            return {FolderProblem::unusable, 0, error};
        if (S_ISLNK(info.st_mode))
            return {FolderProblem::link, info.st_uid, error};
        return {S_ISDIR(info.st_mode) ? FolderProblem::unusable : FolderProblem::notFolder, info.st_uid, error};
    }
    struct stat info {};
    FolderCheck check;
    if (::fstat(fd, &info) != 0)
        check = {FolderProblem::unusable, 0, errno};
    else if (info.st_uid != ::geteuid())
        check = {FolderProblem::othersOwnIt, info.st_uid, 0};
    else if ((info.st_mode & 077) != 0
             && (::fchmod(fd, 0700) != 0 || ::fstat(fd, &info) != 0 || (info.st_mode & 077) != 0))
        check = {FolderProblem::openToOthers, info.st_uid, 0};
    ::close(fd);
    return check;
}

// A runtime folder given to this user: a real folder of ours that nobody else may enter.
bool isPrivateFolder(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    const bool isPrivate = ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
    ::close(fd);
    return isPrivate;
}

QString accountName(uid_t uid)
{
    if (const passwd* account = ::getpwuid(uid))
        return QString::fromLocal8Bit(account->pw_name);
    return tr("user %1").arg(uid);
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
        if (isPrivateFolder(runtime) && makePrivateFolder(folder).problem == FolderProblem::none)
            return QFile::decodeName(folder);
    }
    // /tmp before $TMPDIR: every process of the user must find the same folder, and TMPDIR may
    // differ between sessions or lie in the (possibly shared) home folder. So $TMPDIR is used only
    // where /tmp takes no folder at all: a folder in the way there is refused, not gone round,
    // since a later process may find it gone and lock in /tmp while this one locks elsewhere.
    const QString fallback = QStringLiteral("/tmp/vantrel-") + QString::fromLatin1(uid);
    if (makePrivateFolder(QFile::encodeName(fallback)).problem == FolderProblem::unusable) {
        const QByteArray other = QFile::encodeName(QDir::tempPath()) + "/vantrel-" + uid;
        if (makePrivateFolder(other).problem == FolderProblem::none)
            return QFile::decodeName(other);
    }
    return privateFolder(fallback);
}

QString ClientLease::privateFolder(const QString& path)
{
    const FolderCheck check = makePrivateFolder(QFile::encodeName(path));
    QString problem;
    // In a shared folder such as /tmp, only its owner (or the administrator) can remove it.
    const QString remedy =
        check.owner == ::geteuid()
            ? tr("Remove it, then try again; or start Vantrel in a session with a runtime folder (XDG_RUNTIME_DIR).")
            : tr("Ask the administrator of this computer to remove it, or start Vantrel in a session with a runtime "
                 "folder (XDG_RUNTIME_DIR).");
    switch (check.problem) {
    case FolderProblem::none:
        return path;
    case FolderProblem::unusable:
        throw StorageError::fromErrno(check.error, path, QStringLiteral("mkdir"));
    case FolderProblem::link:
        problem = tr("It is a link, not a folder.");
        break;
    case FolderProblem::notFolder:
        problem = tr("It is not a folder.");
        break;
    case FolderProblem::othersOwnIt:
        problem = tr("It belongs to %1, not to you.").arg(accountName(check.owner));
        break;
    case FolderProblem::openToOthers:
        problem = tr("Other users may write in it, and it can’t be closed to them.");
        break;
    }
    throw StorageError(StorageError::Kind::permissionDenied, path,
                       tr("Vantrel can’t use the folder “%1” to make sure it runs only once.").arg(path), problem,
                       remedy);
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
