#include "support/sshfs_share.h"

#include "support/share_process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <csignal>

#include <sys/types.h>
#include <unistd.h>

namespace vantrel::testing {

using namespace share_process;

QString SshfsShare::missing()
{
    return missingForFuse(
               {QStringLiteral("sshd"), QStringLiteral("ssh-keygen"), QStringLiteral("ssh"), QStringLiteral("sshfs")})
        .join(QStringLiteral(", "));
}

SshfsShare::SshfsShare(const QString& parent) : m_dir(parent + QStringLiteral("/share-XXXXXX"))
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot make a folder in %1").arg(parent);
        return;
    }
    QDir().mkpath(exportFolder());
    QDir().mkpath(m_dir.filePath(QStringLiteral("mounts")));
    startWatchdog();
    for (int attempt = 0; attempt < 3 && !isRunning(); ++attempt) // the free port may be taken meanwhile
        startServer();
}

SshfsShare::~SshfsShare()
{
    stop();
}

QString SshfsShare::localFolder(const QString& name) const
{
    const QString path = m_dir.filePath(QStringLiteral("local/") + name);
    QDir().mkpath(path);
    return path;
}

void SshfsShare::startWatchdog()
{
    m_watchdog = share_process::startWatchdog(m_dir.path());
}

bool SshfsShare::startServer(int port)
{
    const QString keys = m_dir.path();
    const QString log = m_dir.filePath(QStringLiteral("setup.log"));
    const QString keygen = findProgram(QStringLiteral("ssh-keygen"));
    for (const QString& key : {QStringLiteral("host_key"), QStringLiteral("user_key")}) {
        if (QFileInfo::exists(m_dir.filePath(key)))
            continue;
        if (!runCommand(keygen,
                        {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"),
                         QString(), QStringLiteral("-f"), m_dir.filePath(key)},
                        log)) {
            m_error = QStringLiteral("ssh-keygen failed: ") + tail(log);
            return false;
        }
    }
    QFile::remove(m_dir.filePath(QStringLiteral("authorized_keys")));
    QFile::copy(m_dir.filePath(QStringLiteral("user_key.pub")), m_dir.filePath(QStringLiteral("authorized_keys")));
    QFile::setPermissions(m_dir.filePath(QStringLiteral("authorized_keys")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // The server refuses to start without its privilege separation folder.
    if (::geteuid() == 0)
        QDir().mkpath(QStringLiteral("/run/sshd"));

    m_port = port > 0 ? port : freeLoopbackPort();
    const QString pidFile = m_dir.filePath(QStringLiteral("sshd.pid"));
    QFile::remove(pidFile);
    const QByteArray config = QStringLiteral("Port %1\n"
                                             "ListenAddress 127.0.0.1\n"
                                             "HostKey %2/host_key\n"
                                             "AuthorizedKeysFile %2/authorized_keys\n"
                                             "PidFile %3\n"
                                             "PasswordAuthentication no\n"
                                             "KbdInteractiveAuthentication no\n"
                                             "PermitRootLogin prohibit-password\n"
                                             "StrictModes no\n"
                                             "UsePAM no\n"
                                             "Subsystem sftp internal-sftp\n")
                                  .arg(QString::number(m_port), keys, pidFile)
                                  .toUtf8();
    const QByteArray client = QStringLiteral("Host share\n"
                                             "  HostName 127.0.0.1\n"
                                             "  Port %1\n"
                                             "  User %2\n"
                                             "  IdentityFile %3/user_key\n"
                                             "  IdentitiesOnly yes\n"
                                             "  StrictHostKeyChecking no\n"
                                             "  UserKnownHostsFile /dev/null\n"
                                             "  BatchMode yes\n"
                                             "  LogLevel ERROR\n")
                                  .arg(QString::number(m_port), userName(), keys)
                                  .toUtf8();
    if (!writeText(m_dir.filePath(QStringLiteral("sshd_config")), config)
        || !writeText(m_dir.filePath(QStringLiteral("ssh_config")), client)) {
        m_error = QStringLiteral("cannot write the server's settings");
        return false;
    }
    // Without -D the server goes into the background once it listens, and writes its pid file.
    const QString serverLog = m_dir.filePath(QStringLiteral("sshd.log"));
    if (!runCommand(
            findProgram(QStringLiteral("sshd")),
            {QStringLiteral("-f"), m_dir.filePath(QStringLiteral("sshd_config")), QStringLiteral("-E"), serverLog},
            log)) {
        m_error = QStringLiteral("sshd did not start: ") + tail(log) + u' ' + tail(serverLog);
        return false;
    }
    m_sshdPid = waitForPidFile(pidFile);
    if (m_sshdPid > 0)
        return true;
    m_error = QStringLiteral("sshd wrote no pid file: ") + tail(serverLog);
    return false;
}

QString SshfsShare::mount(const QString& name, const QStringList& options)
{
    if (!isRunning()) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("the server is not running");
        return QString();
    }
    const QString point = m_dir.filePath(QStringLiteral("mounts/") + name);
    QDir().mkpath(point);
    // Named for the watchdog before the mount exists.
    m_mounts << point;
    nameMounts(m_dir.path(), m_mounts);

    QStringList arguments{QStringLiteral("-F"), m_dir.filePath(QStringLiteral("ssh_config")),
                          QStringLiteral("share:") + exportFolder(), point};
    for (const QString& option : options)
        arguments << QStringLiteral("-o") << option;
    const QString log = m_dir.filePath(QStringLiteral("sshfs-%1.log").arg(name));
    const bool mounted = runCommand(findProgram(QStringLiteral("sshfs")), arguments, log);
    if (!mounted || !isFuseMount(point)) {
        m_error = QStringLiteral("sshfs %1 failed: %2").arg(arguments.join(u' '), tail(log));
        unmount(point);
        return QString();
    }
    return point;
}

bool SshfsShare::unmount(const QString& mountPoint)
{
    return share_process::unmount(mountPoint, m_dir.filePath(QStringLiteral("unmount.log")));
}

QList<qint64> SshfsShare::serverProcesses() const
{
    if (m_sshdPid <= 0)
        return {};
    // Each session process serves one mount.
    QList<qint64> found{m_sshdPid};
    for (qsizetype next = 0; next < found.size(); ++next) {
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
            if (entry.toLongLong() <= 0 || !stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields[1].toLongLong() == found[next])
                found << entry.toLongLong();
        }
    }
    return found;
}

void SshfsShare::freezeServer(bool frozen)
{
    for (const qint64 pid : serverProcesses())
        ::kill(pid_t(pid), frozen ? SIGSTOP : SIGCONT);
}

bool SshfsShare::stopServer()
{
    if (m_sshdPid <= 0)
        return false;
    for (const qint64 pid : serverProcesses())
        ::kill(pid_t(pid), SIGKILL);
    for (int wait = 0; wait < 100 && !hasEnded(m_sshdPid); ++wait)
        QThread::msleep(50);
    const bool ended = hasEnded(m_sshdPid);
    m_sshdPid = 0;
    return ended;
}

void SshfsShare::stop()
{
    takeDown(m_dir.path(), m_mounts, m_sshdPid, QStringLiteral("sshd.pid"), m_watchdog);
}

} // namespace vantrel::testing
