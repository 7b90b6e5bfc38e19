// Packing the logs of every client, and those this client kept locally, into one zip archive.

#include "engine/logger.h"

#include "desktop/file_archiver.h"
#include "engine/logger_state.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <exception>

#include <fcntl.h>
#include <unistd.h>

namespace vantrel {

using log_text::systemReason;

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
