#pragma once

#include "desktop/folder_users.h"
#include "foundation/error.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vantrel {

// A team bundle that cannot be created or opened.
class TeamBundleError : public Error {
public:
    enum class Case {
        missingFolder,       // nothing at the path
        notATeamBundle,      // a folder without our marker record
        newerFormat,         // written by a newer Vantrel than this one
        olderFormat,         // written in a format this Vantrel no longer reads
        alreadyExists,       // creating where something already is
        unreadable,          // the marker record is damaged or cannot be read
        wrongExtension,      // the path does not end in the team-bundle extension
        clientInUse,         // another process of this machine is acting as the same client
        unsupportedShare,    // the share can't do what the engine relies on (see share_probe.h)
        unreachable,         // the team bundle's folder is gone (an unmounted share, a deleted folder)
        replacedUnderChange, // what was just saved isn't in the bundle as it is now (an older copy)
        readOnly,            // opened, but this user may only read it (see TeamBundle::writeProblem())
    };
    // `detail` says, for unsupportedShare, what the share lacks and the fix where there is one;
    // for readOnly, why this user can't write and what to ask for.
    TeamBundleError(Case which, const QString& path, const QString& detail = {});
    Case kind() const { return m_case; }

    // What was being done when the share went away, which the description of unreachable says
    // was not done, with what is kept and that it can be tried again once the share is back.
    enum class Attempt { checkIn, checkOut, discard, import, change, copy, create };
    static TeamBundleError unreachableDuring(Attempt attempt, const QString& path);
    // The share stopped answering while the change was being published: it may be there, and is
    // confirmed once the share answers.
    static TeamBundleError unconfirmedDuring(Attempt attempt, const QString& path);

protected:
    QString typeName() const override;

private:
    TeamBundleError(Attempt attempt, const QString& path, bool unconfirmed);
    Case m_case;
};

// A bundle of this type cannot be nested in that container.
class TurfNestingError : public Error {
public:
    TurfNestingError(const QString& childDescription, const QString& containerDescription);

protected:
    QString typeName() const override;
};

// An operation on one item that cannot be carried out.
class VersioningError : public Error {
public:
    enum class Case {
        itemNotFound,      // the bundle is unknown, or was deleted permanently
        itemInTrash,       // the operation needs a live bundle
        itemNotInTrash,    // restoring a bundle that is not in the trash
        versionNotFound,   // no such version of this bundle
        noVersion,         // the bundle has no stored version yet
        itemLocked,        // somebody holds the bundle's lock
        wrongKind,         // the operation does not apply to this kind of bundle
        destinationExists, // an export or copy would overwrite something
        invalidName,       // an empty name
        notCheckedOut,     // checking in or discarding what this installation has not checked out
        lockLost,          // somebody else took the lock of a check-out of ours
        outdatedBase,      // checking in over a version the check-out did not start from
        changesNotArrived, // the last holder's check-in has not reached this computer yet
        workNotKept,       // a working copy left behind could not be kept, so it stays where it is
    };
    // `detail` names the holder (itemLocked), who took the lock (lockLost; empty when nobody holds
    // it now), who made the current version (outdatedBase), or the folder left in place
    // (workNotKept).
    // `reason`, when given, becomes the failure reason (the underlying problem).
    VersioningError(Case which, const QString& itemName, const QString& detail = {},
                    std::optional<QString> reason = std::nullopt);
    Case kind() const { return m_case; }

    // lockLost, worded for how the lock went: `holder` (empty when nobody holds it now) forced it,
    // or simply holds it (two clients that both took it at once, on a share whose exclusive create
    // is not exclusive). `leftIn` is the working folder when the changes could not be kept in the
    // attic and are there still.
    static VersioningError lockLost(const QString& itemName, const QString& holder, bool forced,
                                    const QString& leftIn = {});

protected:
    QString typeName() const override;

private:
    VersioningError(const QString& description, Case which, std::optional<QString> suggestion);
    Case m_case;
};

// A check-in or discard refused because applications still use the working copy: removing it
// would pull the file out from under them. Nothing was changed.
class WorkingCopyInUseError : public Error {
public:
    WorkingCopyInUseError(const QString& itemName, QList<FolderUser> users);
    const QString& itemName() const { return m_itemName; }
    const QList<FolderUser>& users() const { return m_users; }
    // Each application's name once, in the order found.
    QStringList applicationNames() const;
    // With the process ids, for the log.
    QString debugDescription() const override;

protected:
    QString typeName() const override;

private:
    QString m_itemName;
    QList<FolderUser> m_users;
};

} // namespace vantrel
