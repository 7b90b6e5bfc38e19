#include "engine/storage/storage_error.h"

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

namespace {

QString reasonFor(int error, const QString& action)
{
    return QCoreApplication::translate("Engine", "%1 (error %2 in %3)")
        .arg(systemErrorText(error), QString::number(error), action);
}

} // namespace

StorageError StorageError::notFound(const QString& path, int error, const QString& action)
{
    return StorageError(Kind::notFound, path,
                        QCoreApplication::translate("Engine", "The file “%1” couldn’t be found.").arg(path),
                        reasonFor(error, action), std::nullopt, error);
}

StorageError StorageError::fromErrno(int error, const QString& path, const QString& action)
{
    const QString reason = reasonFor(error, action);
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return notFound(path, error, action);
    case EEXIST:
    case ENOTEMPTY:
        return StorageError(
            Kind::alreadyExists, path, QCoreApplication::translate("Engine", "“%1” already exists.").arg(path), reason,
            QCoreApplication::translate("Engine", "Choose another name or remove the existing item, then try again."),
            error);
    case EACCES:
    case EPERM:
        return StorageError(
            Kind::permissionDenied, path,
            QCoreApplication::translate("Engine", "You don’t have permission to access “%1”.").arg(path), reason,
            QCoreApplication::translate("Engine", "Ask the owner of the folder for access, then try again."), error);
    case EROFS:
        return StorageError(
            Kind::readOnly, path,
            QCoreApplication::translate("Engine", "“%1” can’t be changed because its volume is read-only.").arg(path),
            reason, QCoreApplication::translate("Engine", "Make the volume writable, then try again."), error);
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return StorageError(Kind::diskFull, path,
                            QCoreApplication::translate("Engine", "There is not enough space to write “%1”.").arg(path),
                            reason, QCoreApplication::translate("Engine", "Make room on the volume, then try again."),
                            error);
    default:
        return StorageError(
            Kind::io, path, QCoreApplication::translate("Engine", "“%1” couldn’t be read or written.").arg(path),
            reason, QCoreApplication::translate("Engine", "Check the connection to the volume, then try again."),
            error);
    }
}

StorageError StorageError::corrupt(const QString& path, const QString& detail)
{
    return StorageError(
        Kind::corrupt, path,
        QCoreApplication::translate("Engine", "The stored contents of “%1” are damaged.").arg(path), detail,
        QCoreApplication::translate("Engine", "Restore the team bundle from a backup, or use an earlier version."));
}

StorageError StorageError::notRegularFile(const QString& path)
{
    return StorageError(
        Kind::corrupt, path, QCoreApplication::translate("Engine", "“%1” isn’t a regular file.").arg(path),
        QCoreApplication::translate("Engine",
                                    "A symbolic link, a folder or a special file is where a file was expected."),
        QCoreApplication::translate("Engine",
                                    "Remove it from the team bundle, or restore the team bundle from a backup."));
}

StorageError StorageError::tooLarge(const QString& path, qint64 size, qint64 limit)
{
    const QString reason =
        size > limit ? QCoreApplication::translate("Engine", "It holds %1 bytes; no more than %2 are expected.")
                           .arg(QString::number(size), QString::number(limit))
                     : QCoreApplication::translate("Engine", "It holds more than the %1 bytes expected.")
                           .arg(QString::number(limit));
    return StorageError(Kind::corrupt, path,
                        QCoreApplication::translate("Engine", "“%1” is larger than expected.").arg(path), reason,
                        QCoreApplication::translate(
                            "Engine", "Remove it from the team bundle, or restore the team bundle from a backup."));
}

QString StorageError::debugDescription() const
{
    return Error::debugDescription()
           + QStringLiteral(" [kind: %1, path: \"%2\", errno: %3]")
                 .arg(QLatin1String(kindName(m_kind)), m_path, QString::number(m_systemError));
}

QString StorageError::typeName() const
{
    return QStringLiteral("StorageError");
}

} // namespace vantrel
