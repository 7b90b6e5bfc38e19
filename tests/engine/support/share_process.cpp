#include "support/share_process.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
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

namespace vantrel::testing::share_process {

namespace {

constexpr long fuseMagic = 0x65735546;

// Waits for the end of a pipe; then, unless it was told "stopped" first, unmounts every mount
// named in the "mount-points" file, stops every process named by a pid file and removes the
// folder. It runs in the background of a shell that ends at once, so it belongs to no process of
// the test.
const char* const watchdogScript = R"sh(
exec 3<&0
(
  if read -r word <&3 && [ "$word" = stopped ]; then exit 0; fi
  if [ -f "$1/mount-points" ]; then
    while read -r point; do "$2" -u "$point" || "$2" -uz "$point"; done < "$1/mount-points"
  fi
  for pidfile in "$1"/*.pid; do
    if [ -s "$pidfile" ]; then kill "$(cat "$pidfile")"; fi
  done
  sleep 1
  rm -rf --one-file-system "$1"
) </dev/null >/dev/null 2>&1 &
)sh";

} // namespace

QString findProgram(const QString& name)
{
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(
        name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")});
}

QString fusermount()
{
    const QString three = findProgram(QStringLiteral("fusermount3"));
    return three.isEmpty() ? findProgram(QStringLiteral("fusermount")) : three;
}

QStringList missingForFuse(const QStringList& programs)
{
    QStringList missing;
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        missing << QStringLiteral("/dev/fuse");
    if (fusermount().isEmpty())
        missing << QStringLiteral("fusermount");
    for (const QString& program : programs) {
        if (findProgram(program).isEmpty())
            missing << program;
    }
    return missing;
}

bool runCommand(const QString& program, const QStringList& arguments, const QString& log, int timeoutMs,
                const QStringList& environment, const QString& input)
{
    QProcess process;
    process.setStandardInputFile(input.isEmpty() ? QProcess::nullDevice() : input);
    process.setStandardOutputFile(log, QIODevice::Append);
    process.setStandardErrorFile(log, QIODevice::Append);
    if (!environment.isEmpty()) {
        QProcessEnvironment added = QProcessEnvironment::systemEnvironment();
        for (const QString& entry : environment)
            added.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        process.setProcessEnvironment(added);
    }
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

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds pause, std::chrono::seconds patience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QThread::msleep(static_cast<unsigned long>(pause.count()));
    }
    return true;
}

qint64 waitForPidFile(const QString& path)
{
    qint64 pid = 0;
    waitUntil([&] {
        QFile file(path);
        pid = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
        return pid > 0;
    });
    return pid;
}

void stopProcess(qint64 pid)
{
    if (pid <= 0)
        return;
    ::kill(pid_t(pid), SIGTERM);
    for (int wait = 0; wait < 100 && !hasEnded(pid); ++wait)
        QThread::msleep(50);
    if (!hasEnded(pid))
        ::kill(pid_t(pid), SIGKILL);
}

int startWatchdog(const QString& folder)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    const QByteArray shell = "/bin/sh";
    const QByteArray native = QFile::encodeName(folder);
    const QByteArray unmounter = QFile::encodeName(fusermount());
    const char* const argv[] = {shell.constData(),     "-c",   watchdogScript, "share-watchdog", native.constData(),
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
        return -1;
    }
    // The shell only starts the watchdog in its background and ends; reap it.
    int status = 0;
    ::waitpid(pid, &status, 0);
    return fds[1];
}

void dismissWatchdog(int& watchdog)
{
    if (watchdog < 0)
        return;
    static_cast<void>(::write(watchdog, "stopped\n", 8));
    ::close(watchdog);
    watchdog = -1;
}

void takeDown(const QString& folder, QStringList& mounts, qint64& pid, const QString& pidFile, int& watchdog)
{
    for (auto it = mounts.crbegin(); it != mounts.crend(); ++it)
        unmount(*it, folder + QStringLiteral("/unmount.log"));
    mounts.clear();
    if (pid > 0) {
        stopProcess(pid);
        QFile::remove(folder + u'/' + pidFile);
        pid = 0;
    }
    dismissWatchdog(watchdog);
}

void nameMounts(const QString& folder, const QStringList& mounts)
{
    writeText(folder + QStringLiteral("/mount-points"), QFile::encodeName(mounts.join(u'\n') + u'\n'));
}

bool isFuseMount(const QString& point)
{
    struct statfs status {};
    return ::statfs(QFile::encodeName(point).constData(), &status) == 0 && status.f_type == fuseMagic;
}

bool unmount(const QString& point, const QString& log)
{
    // A mount whose server died answers statfs with an error: it is unmounted all the same.
    struct statfs status {};
    if (::statfs(QFile::encodeName(point).constData(), &status) == 0 && status.f_type != fuseMagic)
        return true;
    const QString program = fusermount();
    // Lazily when something still uses it: it goes once the last file is closed.
    return runCommand(program, {QStringLiteral("-u"), point}, log, 15000)
           || runCommand(program, {QStringLiteral("-uz"), point}, log, 15000);
}

} // namespace vantrel::testing::share_process
