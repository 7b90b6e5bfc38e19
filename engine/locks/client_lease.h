#pragma once

#include <QString>

namespace vantrel {

// This process's hold on a client id: while it lasts, no other process of this machine can act as
// the same client (two processes writing one journal folder and holding each other's locks).
// The hold is an exclusive flock on `<client id>.lock` in a private folder on the local disk (see
// lockFolder()), never on the possibly shared home folder: the system gives it back when the
// process ends, however it ends. Within the process, every lease of one id shares that hold; the
// last one destroyed gives it back. Safe to use from any thread.
class ClientLease {
public:
    // Throws TeamBundleError (clientInUse, naming `bundlePath`) when another process holds the
    // id, Error when `clientId` cannot name a client, StorageError when no lock can be taken.
    ClientLease(const QString& clientId, const QString& bundlePath);
    ~ClientLease();

    ClientLease(const ClientLease&) = delete;
    ClientLease& operator=(const ClientLease&) = delete;

    const QString& clientId() const { return m_clientId; }

    // Where the lock files are: `$XDG_RUNTIME_DIR/vantrel` when that is a private folder of this
    // user, else `/run/user/<uid>/vantrel` when there is one, else `/tmp/vantrel-<uid>` (or the
    // same in the temporary folder of the environment when /tmp takes no folder). Created when
    // missing. Throws StorageError when no folder can be used, as privateFolder() does.
    static QString lockFolder();

    // Makes `path` a folder that only this user can use: created when missing, closed to others
    // when it is ours but open to them. Throws StorageError, naming the folder, what is wrong
    // with it and what to do, when it belongs to somebody else, is a link or is not a folder.
    static QString privateFolder(const QString& path);

private:
    QString m_clientId;
};

} // namespace vantrel
