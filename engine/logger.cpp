// The log file of this client: opened without following links, rotated, appended to under a
// lock, and the Logger that writes to it.

#include "engine/logger.h"

#include "engine/logger_state.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/shared_folders.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

using log_text::systemReason;

void Logger::State::closeFile()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool Logger::State::openFile(QString& failure)
{
    if (fd >= 0)
        return true;
    local = false;
    if (openIn(directory, fileName, path, failure))
        return true;
    // A team bundle this user may only read: the entries are kept on this computer instead.
    QString localFailure;
    if (localDirectory.isEmpty() || !openIn(localDirectory, QFileInfo(localPath).fileName(), localPath, localFailure))
        return false;
    local = true;
    if (!localReported) {
        localReported = true;
        qWarning().noquote()
            << QStringLiteral("Could not write to the log (%1); entries go to %2 instead.").arg(failure, localPath);
    }
    return true;
}

bool Logger::State::openIn(const QString& folderPath, const QString& name, const QString& filePath, QString& failure)
{
    // Made like every folder of a team bundle: never again once the bundle is gone.
    try {
        ensureDirectory(folderPath);
    } catch (const StorageError& error) {
        failure = QStringLiteral("Could not create the folder ") + folderPath + QStringLiteral(": ")
                  + error.localizedDescription();
        return false;
    }
    // Neither the folder nor the file is followed if it is a symbolic link, and a FIFO
    // doesn't block the open: whatever a team bundle holds, entries go to a file in it.
    const int folder =
        ::open(QFile::encodeName(folderPath).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) {
        failure = systemReason(folderPath, errno);
        return false;
    }
    // Not O_APPEND: only this client writes its log, and an SMB client through FUSE
    // (smbnetfs) fails such an open after seconds, dropping its connection to the server and
    // failing every other request on it. Entries are written at the end the file had.
    fd = ::openat(folder, QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                  0644);
    const int error = errno;
    ::close(folder);
    if (fd < 0) {
        failure = error == ELOOP ? filePath + QStringLiteral(" isn't a regular file") : systemReason(filePath, error);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        closeFile();
        failure = filePath + QStringLiteral(" isn't a regular file");
        return false;
    }
    // Its own file, made as every file of its team bundle.
    if (info.st_uid == ::geteuid())
        shareCreatedFile(fd, filePath);
    ::fcntl(fd, F_SETFL, 0);
    size = qint64(info.st_size);
    ::lseek(fd, info.st_size, SEEK_SET);
    return true;
}

void Logger::State::rotate()
{
    closeFile();
    const QString& current = local ? localPath : path;
    QString rotated = rotatedPath;
    if (local)
        rotated = localPath.chopped(4) + QStringLiteral(".1.log");
    if (::rename(QFile::encodeName(current).constData(), QFile::encodeName(rotated).constData()) == 0)
        return;
    const int error = errno;
    if (error != ENOENT && !rotationReported) {
        rotationReported = true;
        qWarning().noquote() << "Could not rotate the log" << systemReason(path, error);
    }
}

bool Logger::State::writeAll(const QByteArray& bytes, QString& failure, bool& partial)
{
    for (qsizetype offset = 0; offset < bytes.size();) {
        const ssize_t count = ::write(fd, bytes.constData() + offset, size_t(bytes.size() - offset));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            failure = systemReason(local ? localPath : path, count < 0 ? errno : EIO);
            return false;
        }
        offset += count;
        size += count;
        partial = true;
    }
    return true;
}

bool Logger::State::appendLocked(const QByteArray& entry, QString& failure)
{
    // A second attempt on a fresh descriptor: a share that was reconnected leaves the old one stale.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!openFile(failure))
            continue;
        if (size > 0 && size + entry.size() > rotationSize) {
            rotate();
            if (!openFile(failure))
                continue;
        }
        bool partial = false;
        if (writeAll(entry, failure, partial))
            return true;
        closeFile();
        if (partial)
            break; // writing it again would leave a torn line followed by a copy
    }
    return false;
}

void Logger::State::append(const QString& message, const QString& callingMethod, Level level) noexcept
{
    try {
        QMutexLocker locker(&mutex);
        const QByteArray entry = log_text::entry(message, callingMethod, level, userAtHost);
        QString failure;
        if (appendLocked(entry, failure)) {
            failing = false;
            return;
        }
        if (failing)
            return;
        failing = true;
        qWarning().noquote() << QStringLiteral(
                                    "Could not write to the log (%1). Entries are lost until it works again, "
                                    "starting with:\n%2")
                                    .arg(failure, QString::fromUtf8(entry).trimmed());
    } catch (...) {
        // Logging never takes the caller down.
    }
}

Logger::Logger(QString logsDirectory, QString clientId, UserIdentity who, QString localDirectory)
    : m_state(std::make_unique<State>())
{
    if (!localDirectory.isEmpty()) {
        m_state->localDirectory = QDir::cleanPath(localDirectory);
        m_state->localPath = m_state->localDirectory + u'/' + clientId + QStringLiteral(".local.log");
    }
    m_state->directory = QDir::cleanPath(logsDirectory);
    m_state->fileName = clientId + QStringLiteral(".log");
    m_state->path = m_state->directory + u'/' + m_state->fileName;
    m_state->rotatedPath = m_state->directory + u'/' + clientId + QStringLiteral(".1.log");
    m_state->userAtHost = log_text::singleLine(who.userName) + u'@' + log_text::singleLine(who.hostName);
}

Logger::~Logger() = default;

void Logger::event(const QString& message, const QString& callingMethod, Level level)
{
    m_state->append(message, callingMethod, level);
}

QString Logger::logsDirectory() const
{
    return m_state->directory;
}

QString Logger::logFilePath() const
{
    return m_state->path;
}

QString Logger::localLogFilePath() const
{
    return m_state->localPath;
}

} // namespace vantrel
