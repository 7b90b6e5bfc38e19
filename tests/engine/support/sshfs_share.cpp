#include "support/sshfs_share.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::testing {

namespace {

constexpr long fuseMagic = 0x65735546;

QString findProgram(const QString& name)
{
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found;
    // sshd lives in a folder that is not in every user's PATH.
    return QStandardPaths::findExecutable(
        name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")});
}

QString fusermount()
{
    const QString three = findProgram(QStringLiteral("fusermount3"));
    return three.isEmpty() ? findProgram(QStringLiteral("fusermount")) : three;
}

// Runs a short command to its end, its output into `log`; kills it after `timeoutMs`. A program
// that leaves a daemon behind (sshd, sshfs) must not write into a pipe of ours: the daemon would
// die of SIGPIPE once the pipe is gone.
bool runCommand(const QString& program, const QStringList& arguments, const QString& log, int timeoutMs = 30000)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(log, QIODevice::Append);
    process.setStandardErrorFile(log, QIODevice::Append);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs))
        return false;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString tail(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll().right(2000)).trimmed();
}

bool writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

QString userName()
{
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : qEnvironmentVariable("USER");
}

// Whether the process is gone: ended, or a zombie nobody has reaped yet.
bool hasEnded(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return errno == ESRCH;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.mid(close + 2, 1) == "Z";
}

// Waits for the end of a pipe; then, unless it was told "stopped" first, unmounts every mount
// named in the share's "mount-points" file, stops the server and removes the share's folder. It runs
// in the background of a shell that ends at once, so it belongs to no process of the test.
const char* const watchdogScript = R"sh(
exec 3<&0
(
  if read -r word <&3 && [ "$word" = stopped ]; then exit 0; fi
  if [ -f "$1/mount-points" ]; then
    while read -r point; do "$2" -u "$point" || "$2" -uz "$point"; done < "$1/mount-points"
  fi
  if [ -s "$1/sshd.pid" ]; then kill "$(cat "$1/sshd.pid")"; fi
  sleep 1
  rm -rf --one-file-system "$1"
) </dev/null >/dev/null 2>&1 &
)sh";

} // namespace

QString SshfsShare::missing()
{
    QStringList missing;
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        missing << QStringLiteral("/dev/fuse");
    if (fusermount().isEmpty())
        missing << QStringLiteral("fusermount");
    for (const char* program : {"sshd", "ssh-keygen", "ssh", "sshfs"}) {
        if (findProgram(QString::fromLatin1(program)).isEmpty())
            missing << QString::fromLatin1(program);
    }
    return missing.join(QStringLiteral(", "));
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
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    const QByteArray shell = "/bin/sh";
    const QByteArray folder = QFile::encodeName(m_dir.path());
    const QByteArray unmounter = QFile::encodeName(fusermount());
    const char* const argv[] = {
        shell.constData(),     "-c",   watchdogScript, "sshfs-share-watchdog", folder.constData(),
        unmounter.constData(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, shell.constData(), &actions, &attributes, const_cast<char* const*>(argv), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    if (spawned != 0) {
        ::close(fds[1]);
        return;
    }
    m_watchdog = fds[1];
    // The shell only starts the watchdog in its background and ends; reap it.
    int status = 0;
    ::waitpid(pid, &status, 0);
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
    for (int wait = 0; wait < 200; ++wait) {
        QFile file(pidFile);
        if (file.open(QIODevice::ReadOnly)) {
            const qint64 pid = file.readAll().trimmed().toLongLong();
            if (pid > 0) {
                m_sshdPid = pid;
                return true;
            }
        }
        QThread::msleep(50);
    }
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
    writeText(m_dir.filePath(QStringLiteral("mount-points")), QFile::encodeName(m_mounts.join(u'\n') + u'\n'));

    QStringList arguments{QStringLiteral("-F"), m_dir.filePath(QStringLiteral("ssh_config")),
                          QStringLiteral("share:") + exportFolder(), point};
    for (const QString& option : options)
        arguments << QStringLiteral("-o") << option;
    const QString log = m_dir.filePath(QStringLiteral("sshfs-%1.log").arg(name));
    const bool mounted = runCommand(findProgram(QStringLiteral("sshfs")), arguments, log);
    struct statfs status {};
    if (!mounted || ::statfs(QFile::encodeName(point).constData(), &status) != 0 || status.f_type != fuseMagic) {
        m_error = QStringLiteral("sshfs %1 failed: %2").arg(arguments.join(u' '), tail(log));
        unmount(point);
        return QString();
    }
    return point;
}

bool SshfsShare::unmount(const QString& mountPoint)
{
    const QString program = fusermount();
    const QString log = m_dir.filePath(QStringLiteral("unmount.log"));
    struct statfs status {};
    if (::statfs(QFile::encodeName(mountPoint).constData(), &status) == 0 && status.f_type != fuseMagic)
        return true;
    // Lazily when something still uses it: it goes once the last file is closed.
    return runCommand(program, {QStringLiteral("-u"), mountPoint}, log, 15000)
           || runCommand(program, {QStringLiteral("-uz"), mountPoint}, log, 15000);
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
    for (auto it = m_mounts.crbegin(); it != m_mounts.crend(); ++it)
        unmount(*it);
    m_mounts.clear();
    if (m_sshdPid > 0) {
        ::kill(pid_t(m_sshdPid), SIGTERM);
        for (int wait = 0; wait < 100 && !hasEnded(m_sshdPid); ++wait)
            QThread::msleep(50);
        if (!hasEnded(m_sshdPid))
            ::kill(pid_t(m_sshdPid), SIGKILL);
        QFile::remove(m_dir.filePath(QStringLiteral("sshd.pid")));
        m_sshdPid = 0;
    }
    if (m_watchdog >= 0) {
        static_cast<void>(::write(m_watchdog, "stopped\n", 8));
        ::close(m_watchdog);
        m_watchdog = -1;
    }
}

} // namespace vantrel::testing
