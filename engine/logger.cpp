#include "engine/logger.h"

#include "desktop/file_archiver.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/shared_folders.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <exception>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

QString levelName(Logger::Level level)
{
    switch (level) {
    case Logger::Level::trace:
        return QStringLiteral("TRACE");
    case Logger::Level::debug:
        return QStringLiteral("DEBUG");
    case Logger::Level::info:
        return QStringLiteral("INFO");
    case Logger::Level::warning:
        return QStringLiteral("WARNING");
    case Logger::Level::error:
        return QStringLiteral("ERROR");
    }
    return QStringLiteral("LEVEL%1").arg(static_cast<int>(level));
}

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case u'\n':
    case u'\r':
    case u'\v':
    case u'\f':
    case 0x85:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// The lines of `text`; "\r\n" is one break, and breaks at the end make no empty lines.
QStringList splitLines(const QString& text)
{
    QStringList lines;
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!isLineBreak(c)) {
            current += c;
            continue;
        }
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        lines.append(current);
        current.clear();
    }
    lines.append(current);
    while (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool isBidiControl(char16_t c)
{
    return c == 0x061c || c == 0x200e || c == 0x200f || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

// Appends `c`, or a visible escape for it when it is a control character (C0, DEL, C1, a line
// or paragraph separator) or changes the direction of the text around it: nothing read from
// a team bundle can colour a terminal, hide text, reorder a line or break it.
void appendEscaped(QString& text, QChar c)
{
    const char16_t u = c.unicode();
    if (u == u'\n')
        text += QStringLiteral("\\n");
    else if (u == u'\r')
        text += QStringLiteral("\\r");
    else if (u == u'\t')
        text += QStringLiteral("\\t");
    else if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
        text += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
    else if (isBidiControl(u) || u == 0x2028 || u == 0x2029)
        text += QStringLiteral("\\u{%1}").arg(unsigned(u), 4, 16, QLatin1Char('0'));
    else
        text += c;
}

// `text` with its control characters escaped; line breaks are escaped too unless
// `breaksBecomeSpaces`.
QString escaped(const QString& text, bool breaksBecomeSpaces)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (breaksBecomeSpaces && isLineBreak(c))
            result += u' ';
        else
            appendEscaped(result, c);
    }
    return result;
}

// Names and the calling method belong on the first line whatever they contain.
QString singleLine(const QString& text)
{
    return escaped(text, true);
}

QString systemReason(const QString& what, int error)
{
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString escapedForLog(const QString& value)
{
    return escaped(value, false);
}

struct Logger::State {
    QString directory;
    QString fileName;
    QString path;
    QString rotatedPath;
    QString userAtHost;
    QString localDirectory;
    QString localPath;
    bool local = false; // the open file is the local one
    bool localReported = false;

    QMutex mutex;
    int fd = -1;
    qint64 size = 0;
    bool failing = false;          // the last entry could not be written; already reported
    bool rotationReported = false; // rotation failed once; the file keeps growing

    ~State() { closeFile(); }

    void closeFile()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    bool openFile(QString& failure)
    {
        if (fd >= 0)
            return true;
        local = false;
        if (openIn(directory, fileName, path, failure))
            return true;
        // A team bundle this user may only read: the entries are kept on this computer instead.
        QString localFailure;
        if (localDirectory.isEmpty()
            || !openIn(localDirectory, QFileInfo(localPath).fileName(), localPath, localFailure))
            return false;
        local = true;
        if (!localReported) {
            localReported = true;
            qWarning().noquote()
                << QStringLiteral("Could not write to the log (%1); entries go to %2 instead.").arg(failure, localPath);
        }
        return true;
    }

    bool openIn(const QString& folderPath, const QString& name, const QString& filePath, QString& failure)
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
        fd = ::openat(folder, QFile::encodeName(name).constData(),
                      O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        const int error = errno;
        ::close(folder);
        if (fd < 0) {
            failure =
                error == ELOOP ? filePath + QStringLiteral(" isn't a regular file") : systemReason(filePath, error);
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

    void rotate()
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

    // `partial` tells that part of `bytes` reached the file before the failure.
    bool writeAll(const QByteArray& bytes, QString& failure, bool& partial)
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

    bool appendLocked(const QByteArray& entry, QString& failure)
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

    QByteArray formatEntry(const QString& message, const QString& callingMethod, Level level) const
    {
        // The line breaks of a message make its continuation lines; whatever else it holds is
        // escaped (lines hold no break any more).
        const QStringList lines = splitLines(message);
        QString text = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + u' ' + levelName(level) + u' '
                       + userAtHost + QStringLiteral(" [") + singleLine(callingMethod) + QStringLiteral("] ")
                       + escaped(lines.first(), false) + u'\n';
        for (qsizetype i = 1; i < lines.size(); ++i)
            text += QStringLiteral("  ") + escaped(lines[i], false) + u'\n';
        return text.toUtf8();
    }

    void append(const QString& message, const QString& callingMethod, Level level) noexcept
    {
        try {
            QMutexLocker locker(&mutex);
            const QByteArray entry = formatEntry(message, callingMethod, level);
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
};

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
    m_state->userAtHost = singleLine(who.userName) + u'@' + singleLine(who.hostName);
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

namespace {

class ArchivingFailure : public std::exception {
public:
    explicit ArchivingFailure(QString reason) : reason(std::move(reason)) {}
    QString reason;
};

// Creates an empty file under the first free name, so that two archives made in the same second
// (by this or another process) never replace each other.
QString reserveArchivePath(const QString& destination, const QString& baseName)
{
    for (int number = 1; number < 10000; ++number) {
        const QString suffix = number == 1 ? QString() : QStringLiteral(" ") + QString::number(number);
        const QString path = destination + u'/' + baseName + suffix + QStringLiteral(".zip");
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            throw ArchivingFailure(systemReason(path, errno));
    }
    throw ArchivingFailure(QStringLiteral("Every name for the archive in ") + destination
                           + QStringLiteral(" is taken."));
}

} // namespace

QString Logger::archiveLog(const QString& appName, const Archiving& fileArchiver, const QString& destination) const
{
    return archive(appName, fileArchiver, destination, QStringLiteral("Logger::archiveLog"));
}

void Logger::archiveLogToDownloads(const QString& appName, const Archiving& fileArchiver,
                                   const QString& destination) const
{
    try {
        archive(appName, fileArchiver, destination, QStringLiteral("Logger::archiveLogToDownloads"));
    } catch (const Error& error) {
        qWarning().noquote() << QStringLiteral("Could not archive the logs: ") + error.localizedDescription();
    } catch (...) {
        // The failure is in the log already; reporting never takes the caller down either.
    }
}

QString Logger::archive(const QString& appName, const Archiving& fileArchiver, const QString& destination,
                        const QString& method) const
{
    QString archivePath;
    QString failure;
    std::exception_ptr thrown;
    try {
        const QString folder = QDir::cleanPath(destination);
        if (!QDir().mkpath(folder))
            throw ArchivingFailure(QStringLiteral("Could not create the folder ") + folder);
        QString safeAppName = appName;
        safeAppName.replace(u'/', u'-');
        archivePath = reserveArchivePath(
            folder, safeAppName + QStringLiteral(" Logs ")
                        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")));
        m_state->append(QStringLiteral("Archiving the logs into ") + archivePath, method, Level::info);

        const QFileInfoList logs =
            QDir(m_state->directory)
                .entryInfoList({QStringLiteral("*.log")}, QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Name);
        QList<QString> files;
        for (const QFileInfo& log : logs)
            files.append(log.absoluteFilePath());
        // What this client could not write into the team bundle.
        if (!m_state->localDirectory.isEmpty()) {
            const QString local = QFileInfo(m_state->localPath).completeBaseName().chopped(6); // "<client>"
            for (const QFileInfo& log : QDir(m_state->localDirectory)
                                            .entryInfoList({local + QStringLiteral(".local*.log")},
                                                           QDir::Files | QDir::NoSymLinks, QDir::Name))
                files.append(log.absoluteFilePath());
        }
        if (files.isEmpty())
            throw ArchivingFailure(QStringLiteral("There are no logs in ") + m_state->directory);
        fileArchiver.archive(files, archivePath);
        return archivePath;
    } catch (const ArchivingFailure& error) {
        failure = error.reason;
    } catch (const Error& error) {
        failure = error.debugDescription();
        thrown = std::current_exception();
    } catch (const std::exception& error) {
        failure = QString::fromLocal8Bit(error.what());
    } catch (...) {
        failure = QStringLiteral("An unknown exception was thrown.");
    }

    try {
        if (!archivePath.isEmpty())
            ::unlink(QFile::encodeName(archivePath).constData());
        m_state->append(QStringLiteral("Could not archive the logs: ") + failure, method, Level::error);
    } catch (...) {
        // Logging the failure never hides it.
    }
    if (thrown)
        std::rethrow_exception(thrown);
    throw ArchiveError(failure);
}

} // namespace vantrel
