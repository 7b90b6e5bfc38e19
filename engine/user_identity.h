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

// The id of this installation (the upper-case 8-4-4-4-12 form of a UUID): names this client's
// journal folder and log file in every team bundle. Created once and kept in the user's local
// data folder; VANTREL_CLIENT_ID overrides it. Safe to call from any thread.
QString installationClientId();

} // namespace vantrel
