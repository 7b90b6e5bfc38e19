// A real SMB share for the tests: a private Samba server (smbd with a configuration, password
// database and state of its own) on a free port of 127.0.0.1, exporting one folder, mounted as
// often as asked with the FUSE SMB client smbnetfs, each mount with a configuration folder of its
// own, as another computer would mount it. Knows nothing of the engine.
//
// Whatever happens to the process that made it, the share goes away with it (see
// share_process::startWatchdog()).

#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace vantrel::testing {

class SmbShare {
public:
    // What this machine lacks to make a share ("/dev/fuse", "fusermount", "smbd", "smbpasswd",
    // "smbnetfs", or "root": smbd serves files as the users it logs in), comma-separated; empty
    // when nothing is missing.
    static QString missing();

    // Starts the server, its files in a new folder inside `parent`.
    explicit SmbShare(const QString& parent);
    ~SmbShare();
    SmbShare(const SmbShare&) = delete;
    SmbShare& operator=(const SmbShare&) = delete;

    bool isRunning() const { return m_smbdPid > 0; }
    const QString& error() const { return m_error; }
    // The folder the server exports, as the server's own disk sees it.
    QString exportFolder() const { return m_dir.filePath(QStringLiteral("export")); }

    // Mounts the share with smbnetfs as the computer `name`; returns the shared folder as this
    // mount shows it, or an empty string when it could not be mounted (error() says why).
    QString mount(const QString& name);

    // Unmounts every mount and stops the server; the destructor does it too.
    void stop();

private:
    bool startServer();

    QTemporaryDir m_dir; // first: removed after everything inside it is unmounted
    QString m_error;
    QStringList m_mounts;
    int m_port = 0;
    qint64 m_smbdPid = 0;
    int m_watchdog = -1;
};

} // namespace vantrel::testing
