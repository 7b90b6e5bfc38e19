#include "engine/storage/folder_access.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel {

namespace {

std::mutex identityMutex;
std::optional<AccessIdentity> testingIdentity;

std::optional<AccessIdentity> identityForTesting()
{
    std::lock_guard lock(identityMutex);
    return testingIdentity;
}

QString tr(const char* text)
{
    return QCoreApplication::translate("Engine", text);
}

bool isMember(gid_t group)
{
    if (const auto identity = identityForTesting())
        return identity->groups.contains(group);
    if (group == ::getegid())
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count), 0);
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i) {
        if (groups[size_t(i)] == group)
            return true;
    }
    return false;
}

} // namespace

void setAccessIdentityForTesting(std::optional<AccessIdentity> identity)
{
    std::lock_guard lock(identityMutex);
    testingIdentity = std::move(identity);
}

QString userName(uid_t user)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(user, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return tr("user %1").arg(QString::number(user));
}

QString groupName(gid_t group)
{
    struct group entry {};
    struct group* found = nullptr;
    char buffer[16384];
    if (::getgrgid_r(group, &entry, buffer, sizeof buffer, &found) == 0 && found && found->gr_name)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(group);
}

bool mayWriteIn(const QString& folder)
{
    const QByteArray native = QFile::encodeName(folder);
    const auto identity = identityForTesting();
    if (!identity)
        return ::faccessat(AT_FDCWD, native.constData(), W_OK | X_OK, AT_EACCESS) == 0;
    struct stat status {};
    if (::stat(native.constData(), &status) != 0)
        return false;
    const mode_t bits = status.st_uid == identity->user ? (status.st_mode & S_IRWXU) >> 6
                        : isMember(status.st_gid)       ? (status.st_mode & S_IRWXG) >> 3
                                                        : status.st_mode & S_IRWXO;
    return (bits & 03) == 03;
}

QString writeRefusal(const QString& path, const QString& subject, int error)
{
    if (error == EROFS)
        return tr("its share is mounted read-only. Ask whoever manages the share to mount it for writing.");
    if (error == ENOSPC
#ifdef EDQUOT
        || error == EDQUOT
#endif
    )
        return tr("its share has no space left for you. Ask whoever manages the share to make room.");
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return tr("%1 can’t be written to. Ask whoever manages the share for write permission to the team bundle.")
            .arg(subject);
    const QString owner = userName(status.st_uid);
    const QString group = groupName(status.st_gid);
    if (!isMember(status.st_gid))
        return tr("%1 belongs to %2 and the group %3, and you aren’t a member of that group. Ask whoever manages "
                  "your computers to add you to the group %3, then log in again.")
            .arg(subject, owner, group);
    if ((status.st_mode & S_IWGRP) == 0)
        return tr("%1 belongs to %2 and the group %3, which may only read it. Ask %2 or whoever manages the share "
                  "to give the group %3 write permission to the whole team bundle (chmod -R g+rwX).")
            .arg(subject, owner, group);
    return tr("%1 belongs to %2 and the group %3, and you may not write to it. Ask %2 or whoever manages the share "
              "for write permission to it.")
        .arg(subject, owner, group);
}

} // namespace vantrel
