#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <sys/types.h>

namespace vantrel {

// Whether this user may make and remove entries in the folder `folder` (write and search).
bool mayWriteIn(const QString& folder);

// Why this user can't write to `path` (a folder or a file), as the end of a sentence: what
// `subject` ("its folder “…”") is, who owns it and which group, and what to ask for and of whom
// (to be added to the group, the group's write permission). `error` is what the system
// answered: a read-only or full share is said to be that instead.
QString writeRefusal(const QString& path, const QString& subject, int error);

// The account names of a user and of a group, or their numbers when the system has no name.
QString userName(uid_t user);
QString groupName(gid_t group);

// Who mayWriteIn() and writeRefusal() judge for, from the modes alone, instead of this process
// (whose answers as root are always yes). For tests; nullopt goes back to this process.
struct AccessIdentity {
    uid_t user = 0;
    QList<gid_t> groups;
};
void setAccessIdentityForTesting(std::optional<AccessIdentity> identity);

} // namespace vantrel
