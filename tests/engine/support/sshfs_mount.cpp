#include "support/sshfs_mount.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel::testing {

namespace {

QString program(const QString& name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty()
               ? QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")})
               : found;
}

bool run(const QString& command, const QStringList& arguments, QString* output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command, arguments);
    const bool ok = process.waitForFinished(30'000) && process.exitStatus() == QProcess::NormalExit
                    && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return ok;
}

sockaddr_in localAddress(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port of 127.0.0.1 the system just gave out, so free (unless taken again at once).
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = localAddress(0);
    socklen_t length = sizeof address;
    const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
                    && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok ? ntohs(address.sin_port) : 0;
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = localAddress(port);
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

} // namespace

SshfsShare::SshfsShare(const QString& folder) : m_folder(folder)
{
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0) {
        m_missing = QStringLiteral("FUSE (/dev/fuse can't be opened)");
        return;
    }
    ::close(fuse);
    const QString sshd = program(QStringLiteral("sshd"));
    const QString sshfs = program(QStringLiteral("sshfs"));
    const QString keygen = program(QStringLiteral("ssh-keygen"));
    for (const auto& [path, name] : {std::pair{sshd, "sshd (openssh-server)"}, std::pair{sshfs, "sshfs"},
                                     std::pair{keygen, "ssh-keygen"}}) {
        if (path.isEmpty()) {
            m_missing = QString::fromLatin1(name);
            return;
        }
    }
    if (::geteuid() == 0)
        QDir().mkpath(QStringLiteral("/run/sshd")); // sshd's privilege separation needs it
    QDir().mkpath(exportFolder());
    const QString hostKey = m_folder + QStringLiteral("/host_key");
    const QString userKey = m_folder + QStringLiteral("/user_key");
    QString output;
    for (const QString& key : {hostKey, userKey}) {
        if (!run(keygen, {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"),
                          QString(), QStringLiteral("-f"), key},
                 &output)) {
            m_missing = QStringLiteral("a key from ssh-keygen: ") + output;
            return;
        }
    }
    QFile::copy(userKey + QStringLiteral(".pub"), m_folder + QStringLiteral("/authorized_keys"));
    const int port = freePort();
    QFile config(m_folder + QStringLiteral("/sshd_config"));
    if (port == 0 || !config.open(QIODevice::WriteOnly)) {
        m_missing = QStringLiteral("a free local port for sshd");
        return;
    }
    config.write(QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nAuthorizedKeysFile %3/authorized_keys\n"
                                "PasswordAuthentication no\nPermitRootLogin prohibit-password\nStrictModes no\n"
                                "UsePAM no\nPidFile none\nSubsystem sftp internal-sftp\n")
                     .arg(port)
                     .arg(hostKey, m_folder)
                     .toLocal8Bit());
    config.close();
    m_sshd = std::make_unique<QProcess>();
    m_sshd->setProcessChannelMode(QProcess::MergedChannels);
    m_sshd->start(sshd, {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config.fileName()});
    bool listening = false;
    for (int attempt = 0; attempt < 100 && !listening && m_sshd->state() != QProcess::NotRunning; ++attempt) {
        listening = accepts(port);
        if (!listening)
            QThread::msleep(100);
    }
    if (!listening) {
        m_missing = QStringLiteral("a running sshd: ") + QString::fromLocal8Bit(m_sshd->readAll()).trimmed();
        return;
    }
    const passwd* user = ::getpwuid(::geteuid());
    m_connection = {sshfs,
                    QStringLiteral("-p"),
                    QString::number(port),
                    QStringLiteral("-o"),
                    QStringLiteral("IdentityFile=%1,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes")
                        .arg(userKey),
                    QStringLiteral("%1@127.0.0.1:%2").arg(QString::fromLocal8Bit(user ? user->pw_name : "root"),
                                                          exportFolder())};
}

SshfsShare::~SshfsShare()
{
    const QString fusermount = program(QStringLiteral("fusermount3")).isEmpty() ? QStringLiteral("fusermount")
                                                                                 : QStringLiteral("fusermount3");
    for (const QString& mountPoint : std::as_const(m_mounts)) {
        if (!run(fusermount, {QStringLiteral("-u"), mountPoint}))
            run(QStringLiteral("umount"), {QStringLiteral("-l"), mountPoint});
    }
    if (m_sshd && m_sshd->state() != QProcess::NotRunning) {
        m_sshd->terminate();
        if (!m_sshd->waitForFinished(5'000))
            m_sshd->kill();
        m_sshd->waitForFinished(5'000);
    }
}

QString SshfsShare::exportFolder() const
{
    return m_folder + QStringLiteral("/export");
}

QString SshfsShare::mount(const QStringList& options)
{
    if (m_missing)
        return {};
    const QString mountPoint = m_folder + QStringLiteral("/mount-%1").arg(m_mounts.size() + 1);
    QDir().mkpath(mountPoint);
    QStringList arguments = m_connection.mid(1);
    for (const QString& option : options)
        arguments << QStringLiteral("-o") << option;
    arguments << mountPoint;
    QString output;
    if (!run(m_connection.first(), arguments, &output)) {
        m_missing = QStringLiteral("an sshfs mount: ") + output;
        return {};
    }
    m_mounts.append(mountPoint);
    return mountPoint;
}

} // namespace vantrel::testing
