#include "engine/storage/storage_error.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/folder_access.h"
#include "engine/storage/shared_folders.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>

namespace vantrel {

namespace {

// strerror_r is the XSI variant or the GNU one depending on the C library; take either.
[[maybe_unused]] const char* strerrorResult(int result, const char* buffer)
{
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* strerrorResult(const char* result, const char*)
{
    return result;
}

const char* kindName(StorageError::Kind kind)
{
    switch (kind) {
    case StorageError::Kind::notFound:
        return "notFound";
    case StorageError::Kind::alreadyExists:
        return "alreadyExists";
    case StorageError::Kind::permissionDenied:
        return "permissionDenied";
    case StorageError::Kind::readOnly:
        return "readOnly";
    case StorageError::Kind::diskFull:
        return "diskFull";
    case StorageError::Kind::corrupt:
        return "corrupt";
    case StorageError::Kind::io:
        return "io";
    }
    return "unknown";
}

} // namespace

QString systemErrorText(int error)
{
    char buffer[256] = {};
    const char* text = strerrorResult(strerror_r(error, buffer, sizeof buffer), buffer);
    if (!text || !*text)
        return QStringLiteral("Error %1").arg(error);
    return QString::fromLocal8Bit(text);
}

StorageError::StorageError(Kind kind, QString path, QString localizedDescription, std::optional<QString> failureReason,
                           std::optional<QString> recoverySuggestion, int systemError)
    : Error(std::move(localizedDescription), std::move(failureReason), std::move(recoverySuggestion)),
      m_kind(kind),
      m_path(std::move(path)),
      m_systemError(systemError)
{
}

QString StorageError::systemReason(int error, const QString& action)
{
    return QCoreApplication::translate("Engine", "%1 (error %2 in %3)")
        .arg(systemErrorText(error), QString::number(error), action);
}

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Engine", text);
}

// The failure of `action` on `path` in a team bundle this user may not write: the folder that
// refuses (the file's own, or the file itself), whose it is and what to ask for.
QString refusalInTeamBundle(const QString& path, int error)
{
    const QString folder = posix::parentPath(path);
    const bool folderRefuses = !mayWriteIn(folder);
    const QString subject = folderRefuses ? tr("its folder “%1”").arg(shownPath(folder)) : tr("it");
    return tr("“%1” couldn’t be changed: %2")
        .arg(shownPath(path), writeRefusal(folderRefuses ? folder : path, subject, error));
}

} // namespace

StorageError StorageError::notFound(const QString& path, int error, const QString& action)
{
    StorageError result(Kind::notFound, path, tr("The file “%1” couldn’t be found.").arg(shownPath(path)),
                        tr("File Not Found"), std::nullopt, error);
    result.m_systemDetail = systemReason(error, action);
    return result;
}

StorageError StorageError::fromErrno(int error, const QString& path, const QString& action)
{
    const QString shown = shownPath(path);
    const bool inTeamBundle = !teamBundleRootOf(path).isEmpty();
    StorageError result = [&] {
        switch (error) {
        case ENOENT:
        case ENOTDIR:
            return notFound(path, error, action);
        case EEXIST:
        case ENOTEMPTY:
            return StorageError(Kind::alreadyExists, path, tr("“%1” already exists.").arg(shown), tr("Already Exists"),
                                tr("Choose another name or remove the existing item, then try again."), error);
        case EACCES:
        case EPERM:
            return StorageError(Kind::permissionDenied, path,
                                inTeamBundle ? refusalInTeamBundle(path, error)
                                             : tr("You don’t have permission to access “%1”.").arg(shown),
                                tr("No Permission"), tr("Ask the owner of the folder for access, then try again."),
                                error);
        case EROFS:
            return StorageError(Kind::readOnly, path,
                                tr("“%1” can’t be changed because its volume is read-only.").arg(shown),
                                tr("Read-Only Volume"), tr("Make the volume writable, then try again."), error);
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return StorageError(Kind::diskFull, path, tr("There is not enough space to write “%1”.").arg(shown),
                                tr("Not Enough Space"), tr("Make room on the volume, then try again."), error);
        default:
            return StorageError(
                Kind::io, path, tr("“%1” couldn’t be read or written: %2.").arg(shown, systemErrorText(error)),
                tr("Couldn’t Read or Write"), tr("Check the connection to the volume, then try again."), error);
        }
    }();
    result.m_systemDetail = systemReason(error, action);
    result.m_writing = action == u"write" || action == u"fsync" || action == u"close";
    return result;
}

bool StorageError::mayBeFull() const
{
    return m_kind == Kind::diskFull || m_systemError == EFBIG || (m_systemError == EIO && m_writing);
}

StorageError StorageError::reworded(const QString& localizedDescription,
                                    std::optional<QString> recoverySuggestion) const
{
    StorageError result(m_kind, m_path, localizedDescription, failureReason(), std::move(recoverySuggestion),
                        m_systemError);
    result.m_systemDetail = m_systemDetail;
    result.m_writing = m_writing;
    return result;
}

StorageError StorageError::notAsWritten(const QString& path, const QString& detail)
{
    StorageError result(Kind::io, path,
                        tr("“%1” was written, but the share doesn’t hold it as it was written.").arg(shownPath(path)),
                        tr("Couldn’t Read or Write"),
                        tr("Check the connection to the share and the space left on it, then try again."));
    result.m_systemDetail = detail;
    return result;
}

StorageError StorageError::corrupt(const QString& path, const QString& detail)
{
    StorageError result(Kind::corrupt, path, tr("The stored contents of “%1” are damaged.").arg(shownPath(path)),
                        tr("Damaged Contents"),
                        tr("Restore the team bundle from a backup, or use an earlier version."));
    result.m_systemDetail = detail;
    return result;
}

StorageError StorageError::notRegularFile(const QString& path)
{
    StorageError result(Kind::corrupt, path, tr("“%1” isn’t a regular file.").arg(shownPath(path)),
                        tr("Not a Regular File"),
                        tr("Remove it from the team bundle, or restore the team bundle from a backup."));
    result.m_systemDetail = tr("A symbolic link, a folder or a special file is where a file was expected.");
    return result;
}

StorageError StorageError::tooLarge(const QString& path, qint64 size, qint64 limit)
{
    StorageError result(Kind::corrupt, path, tr("“%1” is larger than expected.").arg(shownPath(path)),
                        tr("File Too Large"),
                        tr("Remove it from the team bundle, or restore the team bundle from a backup."));
    result.m_systemDetail = size > limit ? tr("It holds %1 bytes; no more than %2 are expected.")
                                               .arg(QString::number(size), QString::number(limit))
                                         : tr("It holds more than the %1 bytes expected.").arg(QString::number(limit));
    return result;
}

QString StorageError::debugDescription() const
{
    QString text = Error::debugDescription()
                   + QStringLiteral(" [kind: %1, path: \"%2\", errno: %3]")
                         .arg(QLatin1String(kindName(m_kind)), m_path, QString::number(m_systemError));
    if (!m_systemDetail.isEmpty())
        text += QStringLiteral(" [") + m_systemDetail + QLatin1Char(']');
    return text;
}

QString StorageError::typeName() const
{
    return QStringLiteral("StorageError");
}

} // namespace vantrel
