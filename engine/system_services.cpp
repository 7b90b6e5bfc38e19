#include "engine/system_services.h"

#include "engine/logger.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

namespace vantrel {

FileManaging::~FileManaging() = default;

namespace {

QString vantrelFolderIn(QStandardPaths::StandardLocation location, const QString& fallback)
{
    const QString base = QStandardPaths::writableLocation(location);
    return (base.isEmpty() ? QDir::homePath() + fallback : base) + QStringLiteral("/Vantrel");
}

} // namespace

SystemFileManager::SystemFileManager()
    : SystemFileManager(vantrelFolderIn(QStandardPaths::GenericDataLocation, QStringLiteral("/.local/share")),
                        vantrelFolderIn(QStandardPaths::GenericCacheLocation, QStringLiteral("/.cache")),
                        Logger::downloadsFolder())
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

bool SystemWorkspace::open(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

void SystemWorkspace::revealInFileManager(const QString& path)
{
    const QFileInfo item(path);
    const QString folder = item.absolutePath();
    const auto openFolder = [folder] { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };

    const QString dbusSend = QStandardPaths::findExecutable(QStringLiteral("dbus-send"));
    if (dbusSend.isEmpty()) {
        openFolder();
        return;
    }
    // dbus-send separates array items at commas, so a comma in the name must stay encoded.
    QString itemUrl = QUrl::fromLocalFile(item.absoluteFilePath()).toString(QUrl::FullyEncoded);
    itemUrl.replace(u',', QStringLiteral("%2C"));

    // The reply tells whether a file manager took the call; without one there is nothing to
    // fall back on. The answer arrives on the event loop, so the interface never waits for it.
    auto* process = new QProcess;
    process->setProgram(dbusSend);
    process->setArguments(
        {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--reply-timeout=5000"),
         QStringLiteral("--dest=org.freedesktop.FileManager1"), QStringLiteral("--type=method_call"),
         QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
         QStringLiteral("array:string:") + itemUrl, QStringLiteral("string:")});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());

    auto settled = std::make_shared<bool>(false);
    const auto finish = [process, settled, openFolder](bool shown) {
        if (*settled)
            return;
        *settled = true;
        if (!shown)
            openFolder();
        process->deleteLater();
    };
    QObject::connect(process, &QProcess::finished, process, [finish](int exitCode, QProcess::ExitStatus status) {
        finish(status == QProcess::NormalExit && exitCode == 0);
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [finish](QProcess::ProcessError error) {
        // A crash or a failed start ends the call; read and write errors do not.
        if (error == QProcess::FailedToStart || error == QProcess::Crashed || error == QProcess::Timedout)
            finish(false);
    });
    // dbus-send gives up after its reply timeout; this is the last resort should it hang.
    QTimer::singleShot(10000, process, [process, finish] {
        process->kill();
        finish(false);
    });
    process->start();
}

bool RecordingWorkspace::open(const QUrl& url)
{
    openedUrls.append(url);
    return openResult;
}

void RecordingWorkspace::revealInFileManager(const QString& path)
{
    revealedPaths.append(path);
}

} // namespace vantrel
