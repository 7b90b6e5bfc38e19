#include "desktop/system_services.h"

#include "desktop/application_locator.h"
#include "desktop/launched_applications.h"

#include <QCoroProcess>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <chrono>

namespace vantrel {

FileManaging::~FileManaging() = default;

namespace {

QString vantrelFolderIn(QStandardPaths::StandardLocation location, const QString& fallback)
{
    const QString base = QStandardPaths::writableLocation(location);
    return (base.isEmpty() ? QDir::homePath() + fallback : base) + QStringLiteral("/Vantrel");
}

// The user's Downloads folder, or the home folder when there is none.
QString systemDownloadsFolder()
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return downloads.isEmpty() ? QDir::homePath() : downloads;
}

// Asks the desktop's file manager to show `itemPath` selected; true when one took the call.
QCoro::Task<bool> fileManagerShows(QString itemPath)
{
    const QString dbusSend = QStandardPaths::findExecutable(QStringLiteral("dbus-send"));
    if (dbusSend.isEmpty())
        co_return false;
    // dbus-send separates array items at commas, so a comma in the name must stay encoded.
    QString itemUrl = QUrl::fromLocalFile(itemPath).toString(QUrl::FullyEncoded);
    itemUrl.replace(u',', QStringLiteral("%2C"));

    QProcess process;
    process.setProgram(dbusSend);
    process.setArguments({QStringLiteral("--session"), QStringLiteral("--print-reply"),
                          QStringLiteral("--reply-timeout=5000"), QStringLiteral("--dest=org.freedesktop.FileManager1"),
                          QStringLiteral("--type=method_call"), QStringLiteral("/org/freedesktop/FileManager1"),
                          QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
                          QStringLiteral("array:string:") + itemUrl, QStringLiteral("string:")});
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    // dbus-send gives up after its reply timeout; the limit here is the last resort should it hang.
    const bool finished = co_await qCoro(process).waitForFinished(std::chrono::seconds(10));
    if (!finished && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
        co_return false;
    }
    co_return process.exitStatus() == QProcess::NormalExit&& process.exitCode() == 0;
}

} // namespace

SystemFileManager::SystemFileManager()
    : SystemFileManager(vantrelFolderIn(QStandardPaths::GenericDataLocation, QStringLiteral("/.local/share")),
                        vantrelFolderIn(QStandardPaths::GenericCacheLocation, QStringLiteral("/.cache")),
                        systemDownloadsFolder())
{
}

SystemFileManager::SystemFileManager(QString userDataFolder, QString cacheFolder, QString downloadsFolder)
    : m_userDataFolder(std::move(userDataFolder)),
      m_cacheFolder(std::move(cacheFolder)),
      m_downloadsFolder(std::move(downloadsFolder))
{
}

QString SystemFileManager::userDataFolder() const
{
    return m_userDataFolder;
}
QString SystemFileManager::cacheFolder() const
{
    return m_cacheFolder;
}
QString SystemFileManager::downloadsFolder() const
{
    return m_downloadsFolder;
}

WorkspaceInterfacing::~WorkspaceInterfacing() = default;

SystemWorkspace::SystemWorkspace(std::function<FileKind(const QString& path)> kindOf) : m_kindOf(std::move(kindOf)) {}

QCoro::Task<> SystemWorkspace::open(QUrl url)
{
    QString path;
    QString target;
    QString uri;
    bool folder = false;
    std::optional<InstalledApplication> application;
    if (url.isLocalFile()) {
        const QFileInfo item(url.toLocalFile());
        path = item.absoluteFilePath();
        folder = item.isDir();
        target = folder ? QDir::toNativeSeparators(path) : item.fileName();
        uri = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
        // The application the item's view names, so that what opens is what it promised. What
        // the type table does not know (a plain folder, a file of another kind) the desktop
        // recognises by its name and contents. Asked afresh: the user may have chosen another
        // default application (xdg-mime, a file manager's Open With) since it was last asked.
        const FileKind kind = m_kindOf(path);
        application = ApplicationLocator::desktop().findAfresh(kind.mimeTypes);
        if (!application && !kind.known)
            application = desktop::defaultApplication({desktop::contentType(path)});
    } else {
        target = url.toDisplayString();
        uri = url.toString(QUrl::FullyEncoded);
        application = desktop::defaultApplicationForScheme(url.scheme());
    }
    if (!application)
        throw LaunchError(folder ? LaunchError::Case::noFileManager : LaunchError::Case::noApplication, target);
    const qint64 pid = desktop::launch(application->desktopEntryId, uri, target, application->name);
    if (pid > 0 && !path.isEmpty())
        LaunchedApplications::shared().remember({pid, path, application->name});
    co_await desktop::watchStart(pid, target, application->name);
}

QCoro::Task<> SystemWorkspace::revealInFileManager(QString path)
{
    const QFileInfo item(path);
    if (co_await fileManagerShows(item.absoluteFilePath()))
        co_return;
    try {
        co_await open(QUrl::fromLocalFile(item.absolutePath()));
    } catch (const LaunchError& error) {
        if (error.kind() != LaunchError::Case::noFileManager)
            throw;
        throw LaunchError(LaunchError::Case::noFileManager, QDir::toNativeSeparators(item.absoluteFilePath()));
    }
}

QCoro::Task<> RecordingWorkspace::open(QUrl url)
{
    openedUrls.append(url);
    if (failure)
        throw *failure;
    co_return;
}

QCoro::Task<> RecordingWorkspace::revealInFileManager(QString path)
{
    revealedPaths.append(path);
    if (failure)
        throw *failure;
    co_return;
}

} // namespace vantrel
