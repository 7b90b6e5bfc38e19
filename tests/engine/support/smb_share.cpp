#include "support/smb_share.h"

#include "support/share_process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel::testing {

using namespace share_process;

namespace {

const QString password = QStringLiteral("team-share-password");

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

QString SmbShare::missing()
{
    QStringList missing =
        missingForFuse({QStringLiteral("smbd"), QStringLiteral("smbpasswd"), QStringLiteral("smbnetfs")});
    if (::geteuid() != 0)
        missing << QStringLiteral("root");
    return missing.join(QStringLiteral(", "));
}

SmbShare::SmbShare(const QString& parent) : m_dir(parent + QStringLiteral("/smb-XXXXXX"))
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot make a folder in %1").arg(parent);
        return;
    }
    for (const char* folder : {"export", "mounts", "clients", "private", "lock", "state", "cache", "ncalrpc"})
        QDir().mkpath(m_dir.filePath(QLatin1String(folder)));
    m_watchdog = startWatchdog(m_dir.path());
    for (int attempt = 0; attempt < 3 && !isRunning(); ++attempt) // the free port may be taken meanwhile
        startServer();
}

SmbShare::~SmbShare()
{
    stop();
}

bool SmbShare::startServer()
{
    m_port = freeLoopbackPort();
    const QString dir = m_dir.path();
    // The team's share as the engine's README describes it: writable, files and folders for the
    // group. No printers, no NetBIOS, nothing outside this folder.
    const QByteArray config = QStringLiteral("[global]\n"
                                             "  server role = standalone server\n"
                                             "  smb ports = %1\n"
                                             "  interfaces = 127.0.0.1\n"
                                             "  bind interfaces only = yes\n"
                                             "  disable netbios = yes\n"
                                             "  private dir = %2/private\n"
                                             "  lock directory = %2/lock\n"
                                             "  state directory = %2/state\n"
                                             "  cache directory = %2/cache\n"
                                             "  pid directory = %2\n"
                                             "  ncalrpc dir = %2/ncalrpc\n"
                                             "  usershare path =\n"
                                             "  log file = %2/smbd.log\n"
                                             "  passdb backend = tdbsam:%2/private/passdb.tdb\n"
                                             "  load printers = no\n"
                                             "  printing = bsd\n"
                                             "  printcap name = /dev/null\n"
                                             "  disable spoolss = yes\n"
                                             "  map to guest = never\n"
                                             "[team]\n"
                                             "  path = %2/export\n"
                                             "  read only = no\n"
                                             "  create mask = 0664\n"
                                             "  force create mode = 0660\n"
                                             "  directory mask = 2775\n"
                                             "  force directory mode = 2770\n")
                                  .arg(QString::number(m_port), dir)
                                  .toUtf8();
    const QString configFile = m_dir.filePath(QStringLiteral("smb.conf"));
    const QString secret = m_dir.filePath(QStringLiteral("password"));
    const QString log = m_dir.filePath(QStringLiteral("setup.log"));
    if (!writeText(configFile, config) || !writeText(secret, (password + u'\n' + password + u'\n').toUtf8())) {
        m_error = QStringLiteral("cannot write the server's settings");
        return false;
    }
    if (!runCommand(findProgram(QStringLiteral("smbpasswd")),
                    {QStringLiteral("-c"), configFile, QStringLiteral("-a"), QStringLiteral("-s"), userName()}, log,
                    30000, {}, secret)) {
        m_error = QStringLiteral("smbpasswd failed: ") + tail(log);
        return false;
    }
    // In the background once it listens; it writes its pid file into the pid directory.
    const QString pidFile = m_dir.filePath(QStringLiteral("smbd.pid"));
    QFile::remove(pidFile);
    if (!runCommand(findProgram(QStringLiteral("smbd")), {QStringLiteral("-D"), QStringLiteral("-s"), configFile},
                    log)) {
        m_error = QStringLiteral("smbd did not start: ") + tail(log) + u' ' + tail(m_dir.filePath("smbd.log"));
        return false;
    }
    m_smbdPid = waitForPidFile(pidFile);
    if (m_smbdPid > 0 && waitUntil([&] { return accepts(m_port); }))
        return true;
    m_error = QStringLiteral("smbd does not listen on port %1: ").arg(m_port) + tail(m_dir.filePath("smbd.log"));
    stopProcess(m_smbdPid);
    m_smbdPid = 0;
    return false;
}

QString SmbShare::mount(const QString& name)
{
    if (!isRunning()) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("the server is not running");
        return QString();
    }
    const QString point = m_dir.filePath(QStringLiteral("mounts/") + name);
    const QString home = m_dir.filePath(QStringLiteral("clients/") + name);
    QDir().mkpath(point);
    QDir().mkpath(home + QStringLiteral("/.smb"));
    m_mounts << point;
    nameMounts(m_dir.path(), m_mounts);

    // smbnetfs reads its settings and libsmbclient's from ~/.smb: a home of its own per computer.
    // The port goes into the host's name (smbnetfs passes "host:port" on to libsmbclient, which
    // ignores "smb ports" for the client). No browsing of a network, no keyring.
    const QString host = QStringLiteral("127.0.0.1:%1").arg(m_port);
    const QByteArray client = "[global]\n  disable netbios = yes\n  client min protocol = SMB2_02\n";
    const QByteArray settings = QStringLiteral("auth \"%1\" \"%2\"\n"
                                               "smb_query_browsers \"false\"\n"
                                               "use_libsecret \"false\"\n"
                                               "stat_workaround_depth 0\n"
                                               "stat_workaround_enable_default_entries \"false\"\n"
                                               "log_file \"%3/smbnetfs.log\"\n")
                                    .arg(userName(), password, home)
                                    .toUtf8();
    const QString settingsFile = home + QStringLiteral("/.smb/smbnetfs.conf");
    if (!writeText(home + QStringLiteral("/.smb/smb.conf"), client) || !writeText(settingsFile, settings)) {
        m_error = QStringLiteral("cannot write the settings of smbnetfs");
        return QString();
    }
    QFile::setPermissions(settingsFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString log = m_dir.filePath(QStringLiteral("smbnetfs-%1.log").arg(name));
    const bool mounted =
        runCommand(findProgram(QStringLiteral("smbnetfs")), {point}, log, 30000, {QStringLiteral("HOME=") + home});
    const QString shared = point + u'/' + host + QStringLiteral("/team");
    // The first look connects to the server.
    if (mounted)
        waitUntil([&] { return !isFuseMount(point) || QFileInfo(shared).isDir(); }, std::chrono::milliseconds(100));
    if (!mounted || !isFuseMount(point) || !QFileInfo(shared).isDir()) {
        m_error = QStringLiteral("smbnetfs %1 failed: %2 %3").arg(point, tail(log), tail(home + "/smbnetfs.log"));
        share_process::unmount(point, log);
        return QString();
    }
    // A name without the colon, which some paths lists can't hold.
    const QString link = m_dir.filePath(QStringLiteral("mounts/%1-team").arg(name));
    QFile::link(shared, link);
    return link;
}

void SmbShare::stop()
{
    takeDown(m_dir.path(), m_mounts, m_smbdPid, QStringLiteral("smbd.pid"), m_watchdog);
}

} // namespace vantrel::testing
