// A real network share for the tests and the benchmarks: a private SSH server on 127.0.0.1 that
// serves one export folder, mounted as often as asked with sshfs, each mount as another
// computer would mount it. Knows nothing of the engine.
//
// Whatever happens to the process that made it, the share goes away with it: a watchdog process
// in a session of its own waits for the end of a pipe only this process holds, and then unmounts
// every mount and stops the server (a test killed by its timeout leaves no mount behind).

#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace vantrel::testing {

class SshfsShare {
public:
    // What this machine lacks to make a share ("/dev/fuse", "fusermount", "sshd", "ssh-keygen",
    // "ssh", "sshfs"), comma-separated; empty when nothing is missing.
    static QString missing();

    // Starts the server on a free port of 127.0.0.1, its files in a new folder inside `parent`.
    explicit SshfsShare(const QString& parent);
    ~SshfsShare();
    SshfsShare(const SshfsShare&) = delete;
    SshfsShare& operator=(const SshfsShare&) = delete;

    bool isRunning() const { return m_sshdPid > 0; }
    // Why the last step failed.
    const QString& error() const { return m_error; }
    // The folder the server exports, as the server's own disk sees it.
    QString exportFolder() const { return m_dir.filePath(QStringLiteral("export")); }
    // A new folder inside the share's own folder (not on the share): the local disk of a computer.
    QString localFolder(const QString& name) const;
    int port() const { return m_port; }

    // Mounts the export on a new folder `name` with sshfs, `options` given to it as "-o"
    // options ("cache=no", "workaround=rename"); returns the mount point, or an empty string
    // when it could not be mounted (error() says why).
    QString mount(const QString& name, const QStringList& options = {});

    // Stops the server and every session it serves, as when the share's server goes down: the
    // mounts stay and answer with errors (mounts made with "reconnect" connect again once the
    // server is back). False when it did not stop.
    bool stopServer();
    // Starts the server again on the same port.
    bool restartServer() { return startServer(m_port); }
    // Stops (SIGSTOP) or resumes the server and its sessions, as a server that hangs or a network
    // that drops everything: requests through the mounts wait instead of failing.
    void freezeServer(bool frozen);

    // Unmounts every mount and stops the server; the destructor does it too.
    void stop();

private:
    bool startServer(int port = 0);        // on a free port unless given one
    QList<qint64> serverProcesses() const; // the listener and the sessions it started
    void startWatchdog();
    bool unmount(const QString& mountPoint);

    QTemporaryDir m_dir; // first: removed after everything inside it is unmounted
    QString m_error;
    QStringList m_mounts;
    int m_port = 0;
    qint64 m_sshdPid = 0;
    int m_watchdog = -1; // the write end of the watchdog's pipe
};

} // namespace vantrel::testing
