#include "engine/share/share_probe_checks.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/shared_folders.h"
#include "engine/storage/storage_error.h"

#include <QCoreApplication>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vantrel::share_probe {

namespace {

using namespace posix;

QString tr(const char* text)
{
    return QCoreApplication::translate("Engine", text);
}

// The errno of a system call's result, retried on EINTR.
template<typename Call>
int attempt(Call call)
{
    for (;;) {
        if (call() >= 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

// How a share with share modes refuses to replace, move or remove a file another handle holds
// (SMB: EEXIST for a rename over it, EBUSY otherwise; others answer EACCES or ETXTBSY). Anything
// else is the share failing, not refusing.
// Every name the checks make in the scratch folder.
constexpr const char* fileNames[] = {"a", "b", "c", "d", "e", "f", "g", "h"};

bool isShareModeRefusal(int error)
{
    return error == EEXIST || error == EBUSY || error == EACCES || error == EPERM || error == ETXTBSY;
}

} // namespace

bool cannotWrite(int error)
{
    return error == EROFS || error == EACCES || error == EPERM || error == ENOSPC
#ifdef EDQUOT
           || error == EDQUOT
#endif
        ;
}

Checks::Checks(int folder, QString folderPath, QString fileSystemType, std::function<void()> progressed)
    : m_folder(folder),
      m_folderPath(std::move(folderPath)),
      m_type(std::move(fileSystemType)),
      m_progressed(std::move(progressed))
{
}

bool Checks::run()
{
    if (!create("a", true))
        return false;
    checkExclusive("a");
    m_progressed();
    if (!checkExclusiveFolder("i"))
        return false;
    m_progressed();
    if (!create("b", false))
        return false;
    checkRenameOver("b", "a");
    m_progressed();
    checkLink("a", "c");
    m_progressed();
    checkOpenFiles();
    return true;
}

QString Checks::pathOf(const char* name) const
{
    return m_folderPath + QLatin1Char('/') + QLatin1String(name);
}

// Creates `name` exclusively holding its own name, flushed when `flush`. False when the share
// can't be written to.
bool Checks::create(const char* name, bool flush)
{
    const QString path = pathOf(name);
    int fd = -1;
    const int error = attempt(
        [&] { return fd = ::openat(m_folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666); });
    if (error != 0) {
        if (cannotWrite(error)) {
            m_refusal = error;
            return false;
        }
        throw StorageError::fromErrno(error, path, QStringLiteral("open"));
    }
    // Made like every file of the bundle, so that a teammate can tidy one left behind.
    shareCreatedFile(fd, path);
    UniqueFd file(fd);
    try {
        writeAll(file.get(), name, qstrlen(name), path);
    } catch (const StorageError& failure) {
        if (!cannotWrite(failure.systemError()))
            throw;
        m_refusal = failure.systemError();
        return false;
    }
    if (flush) {
        int syncError = injectedFault(ShareCapability::flush);
        if (syncError == 0)
            syncError = attempt([&] { return ::fsync(file.get()); });
        // On a file it has just made and written, a refusal is no question of permission
        // (rclone's mount answers EPERM).
        if (syncError == EINVAL || syncError == ENOTSUP || syncError == EOPNOTSUPP || syncError == ENOSYS
            || syncError == EPERM || syncError == EACCES)
            missing(tr("It can’t flush a file to its disk (%1), so what is written there is not sure to "
                       "survive a crash.")
                        .arg(systemErrorText(syncError)));
        if (syncError == ENOSPC) {
            m_refusal = syncError;
            return false;
        }
        if (syncError != 0)
            throw StorageError::fromErrno(syncError, path, QStringLiteral("fsync"));
    }
    file.close(path);
    m_progressed();
    return true;
}

void Checks::checkExclusive(const char* existing)
{
    int fd = -1;
    int error = injectedFault(ShareCapability::exclusiveCreate);
    if (error == 0)
        error = attempt([&] {
            return fd = ::openat(m_folder, existing, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        });
    else
        error = 0; // as though the existing name had not been refused
    if (fd >= 0)
        ::close(fd);
    if (error == 0)
        missing(tr("It lets a file be created exclusively although one of that name exists, so two teammates "
                   "could take the same lock."));
    if (error != EEXIST)
        throw StorageError::fromErrno(error, pathOf(existing), QStringLiteral("open"));
}

// The claim of a lock record (see lock_files.h): a folder made with mkdir, which must refuse a
// name that exists on every share (an exclusive create is not exclusive between smbnetfs mounts),
// and removed with rmdir.
bool Checks::checkExclusiveFolder(const char* name)
{
    int error = attempt([&] { return ::mkdirat(m_folder, name, 0700); });
    if (error != 0) {
        if (cannotWrite(error)) {
            m_refusal = error;
            return false;
        }
        throw StorageError::fromErrno(error, pathOf(name), QStringLiteral("mkdir"));
    }
    error = injectedFault(ShareCapability::exclusiveFolder);
    if (error == 0)
        error = attempt([&] { return ::mkdirat(m_folder, name, 0700); });
    if (error != EEXIST)
        missing(tr("It doesn’t refuse to make a folder whose name exists (%1), so two teammates could take the "
                   "same lock.")
                    .arg(error == 0 ? tr("it was made again") : systemErrorText(error)));
    error = attempt([&] { return ::unlinkat(m_folder, name, AT_REMOVEDIR); });
    if (error != 0)
        missing(tr("It can’t remove an empty folder (%1), which every lock taken does.").arg(systemErrorText(error)));
    return true;
}

// Whether the file `name` holds what the file made as `writer` was written with.
bool Checks::holdsItsWriter(const char* name, const char* writer) const
{
    const UniqueFd file(::openat(m_folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    char buffer[16] = {};
    return file.isOpen() && ::read(file.get(), buffer, sizeof buffer) == ssize_t(qstrlen(writer))
           && qstrncmp(buffer, writer, sizeof buffer) == 0;
}

void Checks::checkRenameOver(const char* from, const char* to)
{
    int error = injectedFault(ShareCapability::replaceByRename);
    if (error == 0)
        error = attempt([&] { return ::renameat(m_folder, from, m_folder, to); });
    // The replacement holds the name it was written under: the old file is gone.
    if (error == 0 && holdsItsWriter(to, from))
        return;
    if (error == 0 || error == EPERM || error == EACCES || error == EEXIST || error == ENOTSUP || error == EOPNOTSUPP
        || error == ENOSYS) {
        QString text = tr("It can’t replace a file by renaming another over it (%1), which every change of the "
                          "journal and of the locks does.")
                           .arg(error == 0 ? tr("the old file stayed") : systemErrorText(error));
        if (m_type == QLatin1String("fuse.sshfs"))
            text = tr("%1 Its server lacks the posix-rename extension: mount the share with the sshfs option "
                      "“-o workaround=rename”, then open the team bundle again.")
                       .arg(text);
        missing(text);
    }
    throw StorageError::fromErrno(error, pathOf(to), QStringLiteral("rename"));
}

// The way publishFileExclusively() publishes a record: a hard link that refuses an existing
// name, or a plain answer that links aren't supported (it then creates the file exclusively).
void Checks::checkLink(const char* existing, const char* link)
{
    int error = injectedFault(ShareCapability::hardLink);
    if (error == 0)
        error = attempt([&] { return ::linkat(m_folder, existing, m_folder, link, 0); });
    if (error == 0) {
        error = attempt([&] { return ::linkat(m_folder, existing, m_folder, link, 0); });
        if (error == EEXIST)
            return;
        if (error == 0)
            missing(tr("It lets a hard link replace a file that exists, so two teammates could take the same "
                       "lock."));
    }
    if (isLinkUnsupportedError(error))
        return;
    QString text = tr("Making a hard link fails (%1) instead of saying that the share has none, so no record "
                      "can be published safely.")
                       .arg(systemErrorText(error));
    // What rclone's mount answers, also where the mount table doesn't name it (a mount of a mount).
    if (error == EIO)
        text = tr("%1 A mount through rclone answers so, and can’t be made safe: put the team bundle on a share "
                  "mounted another way (SMB, NFS, sshfs).")
                   .arg(text);
    missing(text);
}

int Checks::whileHeldOpen(const char* name, ShareCapability capability, const std::function<int()>& operation)
{
    if (!create(name, false))
        throw StorageError::fromErrno(m_refusal, pathOf(name), QStringLiteral("open"));
    const UniqueFd held(::openat(m_folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!held.isOpen())
        throw StorageError::fromErrno(errno, pathOf(name), QStringLiteral("open"));
    int error = injectedFault(capability);
    if (error == 0)
        error = operation();
    m_progressed();
    if (error > 0 && !isShareModeRefusal(error))
        throw StorageError::fromErrno(error, pathOf(name), QStringLiteral("rename"));
    return error;
}

// What a share with Windows share modes refuses while another handle holds a file: such a share is
// used (the engine retries those steps), and the log says how it behaved.
void Checks::checkOpenFiles()
{
    if (!create("d", false))
        throw StorageError::fromErrno(m_refusal, pathOf("d"), QStringLiteral("open"));
    m_openFiles.replace = whileHeldOpen("e", ShareCapability::replaceOpenFile, [this] {
        const int error = attempt([&] { return ::renameat(m_folder, "d", m_folder, "e"); });
        return error == 0 && !holdsItsWriter("e", "d") ? -1 : error;
    });
    m_openFiles.moveAside = whileHeldOpen("f", ShareCapability::moveOpenFile, [this] {
        return attempt([&] { return ::renameat(m_folder, "f", m_folder, "g"); });
    });
    m_openFiles.remove = whileHeldOpen("h", ShareCapability::removeOpenFile,
                                       [this] { return attempt([&] { return ::unlinkat(m_folder, "h", 0); }); });
}

void removeScratch(int parent, const QByteArray& name, UniqueFd scratch) noexcept
{
    // A file held open a moment ago may still count as open: FUSE hands the close to the share
    // later (SMB refuses to remove it meanwhile), and NFS removes a file it renamed away when its
    // last user let go in the background. A few short waits, then it is left.
    const auto removed = [](const auto& remove) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (remove() == 0 || (errno != EBUSY && errno != ENOTEMPTY && errno != EINTR))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };
    // By the names the checks use: a listing through the descriptor comes back empty on some
    // shares (smbnetfs lists a folder as it was when it was opened).
    for (const char* file : fileNames) {
        removed([&] { return ::unlinkat(scratch.get(), file, 0); });
    }
    removed([&] { return ::unlinkat(scratch.get(), "i", AT_REMOVEDIR); });
    scratch = UniqueFd();
    // Only a folder, and only when empty: a link put in its place is left alone.
    removed([&] { return ::unlinkat(parent, name.constData(), AT_REMOVEDIR); });
}

} // namespace vantrel::share_probe
