#pragma once

#include <QString>

namespace vantrel {

// Who is working here: written into log lines and lock records so that colleagues can tell
// who holds a document and from which machine.
struct UserIdentity {
    QString userName; // the login name
    QString fullName; // the account's real name, or the login name when it has none
    QString hostName;

    // The system account and host, each overridable through the environment so that tests can
    // act as several users: VANTREL_USER_NAME, VANTREL_FULL_NAME, VANTREL_HOST_NAME. When only
    // the user name is overridden, the full name follows it (the account's real name belongs to
    // someone else then).
    static UserIdentity current();
};

// The name to show for a person: the full name, else the user (login) name. A record or lock
// read from the share may have no full name.
QString displayName(const QString& fullName, const QString& userName);

// The id of this installation on this machine (the upper-case 8-4-4-4-12 form of a UUID): names
// this client's journal folder, log file and lock records in every team bundle. Kept in the
// user's data folder, one per machine (see storedClientId()), so that a home folder shared by
// several machines never makes them one client; VANTREL_CLIENT_ID overrides it. Safe to call from
// any thread.
QString installationClientId();

// What tells this machine from others: "machine-id:" and the content of /etc/machine-id (or of
// /var/lib/dbus/machine-id), or "host:" and the host name when neither holds a machine id.
// VANTREL_MACHINE_ID overrides the machine id, so that tests can act as several machines.
QString machineIdentity();

// The client id kept for `machine` (a machineIdentity()) in `folder`, the application's folder in
// the user's data folder: `client-ids/<hash of machine>`, made when missing or damaged. A
// `client-id` file of an older version, kept for every machine at once, is taken over by the
// first machine that claims it (a rename, which only one can win); every other machine gets
// an id of its own. Returns an id that is not stored when nothing can be stored.
QString storedClientId(const QString& folder, const QString& machine);

// Whether `id` can name a client: one plain file name of reasonable length.
bool isUsableClientId(const QString& id);

} // namespace vantrel
