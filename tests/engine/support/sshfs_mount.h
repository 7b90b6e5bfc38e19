#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace vantrel::testing {

// A real network file system for a test: a private sshd on a free port of 127.0.0.1 (temporary
// host and user keys, the current user) and sshfs mounts of one export folder. What it started
// is unmounted and stopped when it goes, also when the test failed.
class SshfsShare {
public:
    // Works below `folder`, which must outlive it.
    explicit SshfsShare(const QString& folder);
    ~SshfsShare();
    SshfsShare(const SshfsShare&) = delete;
    SshfsShare& operator=(const SshfsShare&) = delete;

    // What is missing for a share (FUSE, sshd, sshfs, ...), or why it could not be started;
    // nullopt while it runs.
    const std::optional<QString>& missing() const { return m_missing; }
    // The folder every mount shows.
    QString exportFolder() const;
    // Mounts the export at a new folder with these sshfs options ("cache=no", ...) and returns
    // the mount point; empty when it failed (missing() then says why).
    QString mount(const QStringList& options = {});

private:
    QString m_folder;
    std::optional<QString> m_missing;
    std::unique_ptr<QProcess> m_sshd;
    QStringList m_connection; // sshfs's arguments before the options
    QStringList m_mounts;
};

} // namespace vantrel::testing
