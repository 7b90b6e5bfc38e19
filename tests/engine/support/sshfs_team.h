// A team bundle on a real network share that two computers mount: by default with sshfs, one with
// sshfs's default caching, one with cache=no; or a share another maker starts (smb_team.h). Every
// client runs as a lock_child process with the runtime folder, home folder, machine id and host
// name of its computer, as on a machine of its own.
//
// To try another file system by hand, VANTREL_SHARE_MOUNTS=<mount>:<mount> names two mounts of
// one share to use instead of sshfs (the first in the place of the cached one).

#pragma once

#include "support/lock_harness.h"
#include "support/sshfs_share.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace vantrel::testing {

// A share started for a studio: the two computers' mounts of it, where the server keeps its
// files, and what takes it all away (also run when it failed halfway).
struct StudioShare {
    QStringList mounts;
    QString serverFolder;
    QString error;
    std::function<void()> stop;
};
// Starts a share whose files live inside `folder`.
using StudioShareMaker = std::function<StudioShare(const QString& folder)>;

struct Computer {
    QString name;  // its host name too
    QString mount; // where it mounts the share
    QString local; // its own disk: runtime folder, homes
    QString machineId;
};

class ShareStudio {
public:
    // What this machine lacks to run the share tests; empty when it lacks nothing.
    static QString missing();

    // Starts the share (sshfs when no maker is given), mounts it on both computers and makes the
    // team bundle through the first. `mountOptions` are given to both sshfs mounts besides their
    // own ("-o" options).
    explicit ShareStudio(const QString& lockChild, const StudioShareMaker& makeShare = {},
                         const QStringList& mountOptions = {});
    ~ShareStudio();

    // Empty when ready; otherwise what went wrong.
    const QString& error() const { return m_error; }

    const Computer& cached() const { return m_cached; }
    const Computer& uncached() const { return m_uncached; }
    // The computers of the mounts beyond the first two that the share maker made.
    const QList<Computer>& others() const { return m_others; }
    QString root(const Computer& on) const { return on.mount + u'/' + m_bundleName; }
    // The share itself; none on mounts given by hand.
    SshfsShare* share() const { return m_share.get(); }

    // "Editor <tag>" on `on`, with an installation id of its own.
    static Client client(const Computer& on, const QString& tag);

    // A fresh folder on the test's own disk.
    QString scratch(const QString& name);

    // Imports a file or package through the first computer's mount.
    Service import(const QString& source);

    // Starts lock_child as `who` on `on`: `operation` is the operation, type, bundle id and options.
    std::unique_ptr<LockChild> spawn(const Computer& on, const Client& who, const QStringList& operation,
                                     ChildInput input = ChildInput::none());
    // Runs one operation as `who` on `on` to its end.
    Result run(const Computer& on, const Client& who, const QStringList& operation);

    // The team bundle as the server's own disk holds it.
    QString serverRoot() const { return m_serverFolder + u'/' + m_bundleName; }

    // A client that has just started on the server itself (on mounts given by hand: through the
    // first): what the share holds now, whatever the mounts' caches show.
    std::shared_ptr<TeamBundle> reader();

private:
    Computer computer(const QString& name, const QString& mount);
    QString studioTag() const; // unique to this studio on this computer

    QTemporaryDir m_dir; // the computers' own disks; removed last
    std::unique_ptr<SshfsShare> m_share;
    std::function<void()> m_stopShare;
    QString m_serverFolder; // where reader() finds the team bundle
    QString m_bundleName;
    QString m_error;
    QString m_lockChild;
    Computer m_cached;
    Computer m_uncached;
    QList<Computer> m_others;
    std::shared_ptr<TeamBundle> m_setup;
    int m_count = 0;
};

} // namespace vantrel::testing
