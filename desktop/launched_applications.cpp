#include "desktop/launched_applications.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <signal.h>

#include <cerrno>

namespace vantrel {

namespace {

bool isRunning(qint64 pid)
{
    if (pid <= 0)
        return false;
    // A child that ended but was not reaped yet is a zombie: it holds no file any more.
    QFile status(QStringLiteral("/proc/%1/stat").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        const QByteArray line = status.read(512);
        const qsizetype close = line.lastIndexOf(')');
        if (close >= 0 && close + 2 < line.size() && line.at(close + 2) == 'Z')
            return false;
        return true;
    }
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool isInside(const QString& path, const QString& folder)
{
    const QString cleanPath = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString cleanFolder = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    return cleanPath == cleanFolder || cleanPath.startsWith(cleanFolder + u'/');
}

} // namespace

LaunchedApplications& LaunchedApplications::shared()
{
    static LaunchedApplications registry;
    return registry;
}

void LaunchedApplications::remember(const Launch& launch)
{
    QMutexLocker locker(&m_mutex);
    m_launches.append(launch);
}

QList<LaunchedApplications::Launch> LaunchedApplications::running()
{
    QMutexLocker locker(&m_mutex);
    m_launches.removeIf([](const Launch& launch) { return !isRunning(launch.pid); });
    return m_launches;
}

QList<LaunchedApplications::Launch> LaunchedApplications::runningInside(const QString& folder)
{
    QList<Launch> found = running();
    found.removeIf([&](const Launch& launch) { return !isInside(launch.path, folder); });
    return found;
}

} // namespace vantrel
