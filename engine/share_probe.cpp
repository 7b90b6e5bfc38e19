#include "engine/share_probe.h"

#include "engine/engine_errors.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/folder_access.h"
#include "engine/storage/shared_folders.h"
#include "engine/storage/storage_error.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

using namespace posix;

std::mutex testingMutex;
std::function<int(ShareCapability)> testingFault;
QString testingFileSystemType;

int injectedFault(ShareCapability capability)
{
    std::lock_guard lock(testingMutex);
    return testingFault ? testingFault(capability) : 0;
}

QString tr(const char* text)
{
    return QCoreApplication::translate("Engine", text);
}

// This user can't write to the share now (a read-only share, no permission, a full volume):
// nothing can be tried, and the team bundle is only read.
bool cannotWrite(int error)
{
    return error == EROFS || error == EACCES || error == EPERM || error == ENOSPC
#ifdef EDQUOT
           || error == EDQUOT
#endif
        ;
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

// Mount points in /proc/self/mountinfo write space, tab, newline and backslash as octal escapes.
QByteArray unescapedMountPoint(const QByteArray& field)
{
    QByteArray result;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                result += char(value);
                i += 3;
                continue;
            }
        }
        result += field[i];
    }
    return result;
}

// Thrown out of the probe: what the share lacks, in one or two sentences.
struct Shortcoming {
    QString text;
};

class Probe {
public:
    Probe(QString folder, QString fileSystemType) : m_folder(std::move(folder)), m_type(std::move(fileSystemType)) {}

    // False when this user can't write there, so nothing could be tried.
    bool run()
    {
        const QString first = m_folder + QStringLiteral("/a");
        if (!create(first, true))
            return false;
        checkExclusive(first);
        const QString second = m_folder + QStringLiteral("/b");
        if (!create(second, false))
            return false;
        checkRenameOver(second, first);
        checkLink(first, m_folder + QStringLiteral("/c"));
        return true;
    }

private:
    // Creates `path` exclusively holding its own name, flushed when `flush`. False when the
    // share can't be written to.
    bool create(const QString& path, bool flush)
    {
        const QByteArray native = nativePath(path);
        int fd = -1;
        const int error =
            attempt([&] { return fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
        if (error != 0) {
            if (cannotWrite(error))
                return refused(error);
            throw StorageError::fromErrno(error, path, QStringLiteral("open"));
        }
        // Made like every file of the bundle, so that a teammate can tidy one left behind.
        shareCreatedFile(fd, path);
        UniqueFd file(fd);
        try {
            writeAll(file.get(), native.constData(), static_cast<size_t>(native.size()), path);
        } catch (const StorageError& failure) {
            if (cannotWrite(failure.systemError()))
                return refused(failure.systemError());
            throw;
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
            if (syncError != 0)
                throw StorageError::fromErrno(syncError, path, QStringLiteral("fsync"));
        }
        file.close(path);
        return true;
    }

    void checkExclusive(const QString& existing)
    {
        const QByteArray native = nativePath(existing);
        int fd = -1;
        int error = injectedFault(ShareCapability::exclusiveCreate);
        if (error == 0)
            error =
                attempt([&] { return fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
        else
            error = 0; // as though the existing name had not been refused
        if (fd >= 0)
            ::close(fd);
        if (error == 0)
            missing(tr("It lets a file be created exclusively although one of that name exists, so two teammates "
                       "could take the same lock."));
        if (error != EEXIST)
            throw StorageError::fromErrno(error, existing, QStringLiteral("open"));
    }

    void checkRenameOver(const QString& from, const QString& to)
    {
        int error = injectedFault(ShareCapability::replaceByRename);
        if (error == 0)
            error = attempt([&] { return ::rename(nativePath(from).constData(), nativePath(to).constData()); });
        if (error == 0) {
            // The replacement holds the name it was written under: the old file is gone.
            QFile replaced(to);
            if (replaced.open(QIODevice::ReadOnly) && replaced.read(4096) == nativePath(from))
                return;
        }
        if (error == 0 || error == EPERM || error == EACCES || error == EEXIST || error == ENOTSUP
            || error == EOPNOTSUPP || error == ENOSYS) {
            QString text = tr("It can’t replace a file by renaming another over it (%1), which every change of the "
                              "journal and of the locks does.")
                               .arg(error == 0 ? tr("the old file stayed") : systemErrorText(error));
            if (m_type == QLatin1String("fuse.sshfs"))
                text = tr("%1 Its server lacks the posix-rename extension: mount the share with the sshfs option "
                          "“-o workaround=rename”, then open the team bundle again.")
                           .arg(text);
            missing(text);
        }
        throw StorageError::fromErrno(error, to, QStringLiteral("rename"));
    }

    // The way publishFileExclusively() publishes a record: a hard link that refuses an existing
    // name, or a plain answer that links aren't supported (it then creates the file exclusively).
    void checkLink(const QString& existing, const QString& link)
    {
        const QByteArray target = nativePath(link);
        int error = injectedFault(ShareCapability::hardLink);
        if (error == 0)
            error = attempt([&] { return ::link(nativePath(existing).constData(), target.constData()); });
        if (error == 0) {
            error = attempt([&] { return ::link(nativePath(existing).constData(), target.constData()); });
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

    [[noreturn]] void missing(const QString& text) { throw Shortcoming{text}; }

public:
    // What the system answered when nothing could be written, 0 when everything could.
    int refusal() const { return m_refusal; }

private:
    bool refused(int error)
    {
        m_refusal = error;
        return false;
    }

    int m_refusal = 0;
    QString m_folder;
    QString m_type;
};

} // namespace

QString fileSystemTypeOf(const QString& path)
{
    {
        std::lock_guard lock(testingMutex);
        if (!testingFileSystemType.isEmpty())
            return testingFileSystemType;
    }
    QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = path;
    const QByteArray native = nativePath(canonical);
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    // The mount point that holds the path most closely: the last one listed of the longest.
    QString type;
    qsizetype longest = -1;
    // Its size reads as 0: read it to its end, bounded.
    const QByteArray lines = table.read(4 * 1024 * 1024);
    for (const QByteArray& line : lines.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() < 5 || separator < 0 || separator + 1 >= fields.size())
            continue;
        const QByteArray point = unescapedMountPoint(fields[4]);
        const bool holds = point == "/" || native == point || native.startsWith(point + '/');
        if (holds && point.size() >= longest) {
            longest = point.size();
            type = QString::fromUtf8(fields[separator + 1]);
        }
    }
    return type;
}

void setShareProbeFaultsForTesting(std::function<int(ShareCapability)> error, QString fileSystemType)
{
    std::lock_guard lock(testingMutex);
    testingFault = std::move(error);
    testingFileSystemType = std::move(fileSystemType);
}

int probeShare(const QString& root)
{
    const QString type = fileSystemTypeOf(root);
    // rclone's mount answers link() with an I/O error and creates files "exclusively" in each
    // mount on its own: no fallback makes a lock safe there.
    if (type == QLatin1String("fuse.rclone"))
        throw TeamBundleError(
            TeamBundleError::Case::unsupportedShare, root,
            tr("It is an rclone mount, which can’t create a file exclusively between computers, so two teammates "
               "could hold the same lock; no mount option changes that. Put the team bundle on a share mounted "
               "another way (SMB, NFS, sshfs)."));
    // A folder of its own, so that clients probing at once never meet; hidden, and named so that
    // nobody takes it for the team's data.
    const QString folder = root + QStringLiteral("/.share-check-") + randomToken();
    int error = injectedFault(ShareCapability::write);
    if (error == 0)
        error = makeSharedFolder(folder, 0700);
    if (error != 0) {
        if (cannotWrite(error))
            return error;
        throw StorageError::fromErrno(error, folder, QStringLiteral("mkdir"));
    }
    std::optional<Shortcoming> shortcoming;
    Probe probe(folder, type);
    try {
        probe.run();
    } catch (const Shortcoming& found) {
        shortcoming = found;
    } catch (...) {
        removeTreeQuietly(folder);
        throw;
    }
    removeTreeQuietly(folder);
    if (shortcoming)
        throw TeamBundleError(TeamBundleError::Case::unsupportedShare, root, shortcoming->text);
    return probe.refusal();
}

std::optional<TeamBundleError> writeProblemOf(const QString& root, const QStringList& folders, int probeRefusal)
{
    const auto problem = [&](const QString& folder, int error) {
        // The bundle's own folder is named by the message already.
        const QString subject = folder == root ? tr("its folder") : tr("its folder “%1”").arg(shownPath(folder));
        return TeamBundleError(TeamBundleError::Case::readOnly, root, writeRefusal(folder, subject, error));
    };
    // A read-only or full share is said to be that, whatever its folders' modes.
    if (probeRefusal == EROFS || probeRefusal == ENOSPC
#ifdef EDQUOT
        || probeRefusal == EDQUOT
#endif
    )
        return problem(root, probeRefusal);
    for (const QString& folder : QStringList{root} + folders) {
        struct stat status {};
        if (::lstat(nativePath(folder).constData(), &status) == 0 && !mayWriteIn(folder))
            return problem(folder, EACCES);
    }
    if (probeRefusal != 0)
        return problem(root, probeRefusal);
    return std::nullopt;
}

} // namespace vantrel
