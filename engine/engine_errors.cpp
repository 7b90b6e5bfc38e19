#include "engine/engine_errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>

namespace vantrel {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Engine", text);
}

QStringList namesOf(const QList<FolderUser>& users)
{
    QStringList names;
    for (const FolderUser& user : users) {
        if (!names.contains(user.name))
            names << user.name;
    }
    return names;
}

QString listOf(const QList<FolderUser>& users)
{
    return QLocale().createSeparatedList(namesOf(users));
}

QString teamBundleDescription(TeamBundleError::Case which, const QString& path, const QString& detail)
{
    const QString shown = QDir::toNativeSeparators(path);
    switch (which) {
    case TeamBundleError::Case::missingFolder:
        return tr("The team bundle “%1” could not be found.").arg(shown);
    case TeamBundleError::Case::notATeamBundle:
        return tr("“%1” is not a Vantrel team bundle.").arg(shown);
    case TeamBundleError::Case::newerFormat:
        return tr("The team bundle “%1” was made by a newer version of Vantrel. Update Vantrel to open it.").arg(shown);
    case TeamBundleError::Case::olderFormat:
        return tr("The team bundle “%1” was made by an early version of Vantrel whose format this version can’t "
                  "open.")
            .arg(shown);
    case TeamBundleError::Case::alreadyExists:
        return tr("A file or folder named “%1” already exists. Choose another name or location.").arg(shown);
    case TeamBundleError::Case::unreadable:
        return tr("The team bundle “%1” could not be read: its description record is damaged.").arg(shown);
    case TeamBundleError::Case::wrongExtension:
        return tr("“%1” is not a team bundle: its name must end in “.vantrelteam”.").arg(shown);
    case TeamBundleError::Case::clientInUse:
        return tr("Vantrel is already running for this user on this computer.");
    case TeamBundleError::Case::unsupportedShare:
        return tr("The share holding the team bundle “%1” can’t keep the team’s work safe. %2").arg(shown, detail);
    case TeamBundleError::Case::unreachable:
        return tr("The team bundle at “%1” can’t be reached. The share may be disconnected, or the folder was "
                  "moved or deleted; nothing was changed.")
            .arg(shown);
    case TeamBundleError::Case::replacedUnderChange:
        return tr("The team bundle at “%1” was replaced while a change was being saved (by an older copy, from a "
                  "backup or another server), so the change isn’t in it. Nothing was removed; try again.")
            .arg(shown);
    case TeamBundleError::Case::readOnly:
        return tr("You can open the team bundle “%1” only for reading: %2").arg(shown, detail);
    }
    Q_UNREACHABLE();
}

QString teamBundleReason(TeamBundleError::Case which)
{
    switch (which) {
    case TeamBundleError::Case::missingFolder:
        return tr("Team Bundle Not Found");
    case TeamBundleError::Case::notATeamBundle:
    case TeamBundleError::Case::wrongExtension:
        return tr("Not a Team Bundle");
    case TeamBundleError::Case::newerFormat:
        return tr("Newer Team Bundle");
    case TeamBundleError::Case::olderFormat:
        return tr("Older Team Bundle");
    case TeamBundleError::Case::alreadyExists:
        return tr("Name Already Taken");
    case TeamBundleError::Case::unreadable:
        return tr("Damaged Team Bundle");
    case TeamBundleError::Case::clientInUse:
        return tr("Vantrel Is Already Running");
    case TeamBundleError::Case::unsupportedShare:
        return tr("Unsuitable Share");
    case TeamBundleError::Case::unreachable:
        return tr("Team Bundle Unreachable");
    case TeamBundleError::Case::replacedUnderChange:
        return tr("Team Bundle Replaced");
    case TeamBundleError::Case::readOnly:
        return tr("Read-Only Team Bundle");
    }
    Q_UNREACHABLE();
}

std::optional<QString> teamBundleRecovery(TeamBundleError::Case which)
{
    if (which == TeamBundleError::Case::clientInUse)
        return tr("Quit the other copy of Vantrel, then open the team bundle again.");
    if (which == TeamBundleError::Case::unreachable)
        return tr("Check the connection to the share, then try again.");
    return std::nullopt;
}

QString interruptedDescription(TeamBundleError::Attempt attempt, const QString& path)
{
    const QString shown = QDir::toNativeSeparators(path);
    switch (attempt) {
    case TeamBundleError::Attempt::checkIn:
        return tr("The team bundle at “%1” can’t be reached, so nothing was checked in. Your working copy and your "
                  "message are kept: check in again once the share is back.")
            .arg(shown);
    case TeamBundleError::Attempt::checkOut:
        return tr("The team bundle at “%1” can’t be reached, so nothing was checked out. Try again once the share "
                  "is back.")
            .arg(shown);
    case TeamBundleError::Attempt::discard:
        return tr("The team bundle at “%1” can’t be reached, so the check-out was not discarded and your working "
                  "copy is kept as it is. Try again once the share is back.")
            .arg(shown);
    case TeamBundleError::Attempt::import:
        return tr("The team bundle at “%1” can’t be reached, so nothing was imported. Try again once the share is "
                  "back.")
            .arg(shown);
    case TeamBundleError::Attempt::change:
        return tr("The team bundle at “%1” can’t be reached, so nothing was changed. Try again once the share is "
                  "back.")
            .arg(shown);
    case TeamBundleError::Attempt::copy:
        return tr("The team bundle at “%1” can’t be reached, so the version was not copied. Try again once the "
                  "share is back.")
            .arg(shown);
    case TeamBundleError::Attempt::create:
        return tr("The folder “%1” can’t be reached: its share doesn’t answer, or is disconnected. No team bundle "
                  "was made; try again once the share is back.")
            .arg(shown);
    }
    Q_UNREACHABLE();
}

QString unconfirmedDescription(TeamBundleError::Attempt attempt, const QString& path)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (attempt == TeamBundleError::Attempt::checkIn)
        return tr("The team bundle at “%1” stopped answering while your check-in was being saved. It is confirmed "
                  "once the share answers; should it not be there then, your working copy and your message are "
                  "kept: check in again.")
            .arg(shown);
    return tr("The team bundle at “%1” stopped answering while the change was being saved. It is confirmed once the "
              "share answers; should it not be there then, try again.")
        .arg(shown);
}

// Who holds the lock now and how they took it, then where the changes are.
QString lockLostDescription(const QString& name, const QString& holder, bool forced, const QString& leftIn)
{
    // The lock record is gone (removed by hand, or given up by whoever forced it): there is
    // nobody to name.
    const QString why =
        holder.isEmpty() ? tr("Your lock of “%1” was removed and nobody holds it now, so your changes can’t be saved "
                              "as a new version.")
                               .arg(name)
        : forced ? tr("%2 force unlocked “%1”, so your changes can’t be saved as a new version.").arg(name, holder)
                 : tr("%2 has “%1” checked out (they took its lock), so your changes can’t be saved as a new "
                      "version.")
                       .arg(name, holder);
    const QString where =
        leftIn.isEmpty()
            ? tr("They are kept in the attic; import them as a new document to keep them.")
            : tr("They could not be kept in the attic and are still in the folder “%1”, left as it is; import them "
                 "as a new document to keep them.")
                  .arg(QDir::toNativeSeparators(leftIn));
    return why + u' ' + where;
}

QString versioningDescription(VersioningError::Case which, const QString& name, const QString& detail)
{
    switch (which) {
    case VersioningError::Case::itemNotFound:
        return tr("“%1” could not be found in the team bundle. It may have been deleted.").arg(name);
    case VersioningError::Case::itemInTrash:
        return tr("“%1” is in the trash.").arg(name);
    case VersioningError::Case::itemNotInTrash:
        return tr("“%1” is not in the trash.").arg(name);
    case VersioningError::Case::versionNotFound:
        return tr("The chosen version of “%1” could not be found.").arg(name);
    case VersioningError::Case::noVersion:
        return tr("“%1” has no stored version yet.").arg(name);
    case VersioningError::Case::itemLocked:
        return tr("“%1” is locked by %2.").arg(name, detail);
    case VersioningError::Case::wrongKind:
        return tr("This can’t be done with “%1”.").arg(name);
    case VersioningError::Case::destinationExists:
        return tr("“%1” already exists in the chosen folder.").arg(detail);
    case VersioningError::Case::invalidName:
        return tr("Enter a name for “%1”.").arg(name);
    case VersioningError::Case::notCheckedOut:
        return tr("“%1” is not checked out on this computer.").arg(name);
    case VersioningError::Case::lockLost:
        return lockLostDescription(name, detail, true, {});
    case VersioningError::Case::outdatedBase:
        return tr("%2 saved a newer version of “%1” after you checked it out, so checking in would replace their "
                  "changes. Your working copy is left as it is.")
            .arg(name, detail);
    case VersioningError::Case::changesNotArrived:
        return tr("The latest version of “%1” has not reached this computer yet, so it can’t be checked out safely. "
                  "Nothing was changed; try again in a moment.")
            .arg(name);
    case VersioningError::Case::workNotKept:
        return tr("The folder “%2” holds an earlier working copy of “%1” that could not be kept in the attic, so "
                  "nothing was checked out and the folder was left as it is.")
            .arg(name, QDir::toNativeSeparators(detail));
    }
    Q_UNREACHABLE();
}

std::optional<QString> versioningSuggestion(VersioningError::Case which)
{
    switch (which) {
    case VersioningError::Case::outdatedBase:
        return tr(
            "Discard your check-out (your working copy goes to the attic), check the document out again and bring "
            "your changes over.");
    case VersioningError::Case::workNotKept:
        return tr("Copy what you need out of the folder, then try again.");
    default:
        return std::nullopt;
    }
}

} // namespace

TeamBundleError::TeamBundleError(Case which, const QString& path, const QString& detail)
    : Error(teamBundleDescription(which, path, detail), teamBundleReason(which), teamBundleRecovery(which)),
      m_case(which)
{
}

TeamBundleError::TeamBundleError(Attempt attempt, const QString& path, bool unconfirmed)
    : Error(unconfirmed ? unconfirmedDescription(attempt, path) : interruptedDescription(attempt, path),
            teamBundleReason(Case::unreachable),
            teamBundleRecovery(Case::unreachable)),
      m_case(Case::unreachable)
{
}

TeamBundleError TeamBundleError::unreachableDuring(Attempt attempt, const QString& path)
{
    return TeamBundleError(attempt, path, false);
}

TeamBundleError TeamBundleError::unconfirmedDuring(Attempt attempt, const QString& path)
{
    return TeamBundleError(attempt, path, true);
}

QString TeamBundleError::typeName() const
{
    return QStringLiteral("TeamBundleError");
}

TurfNestingError::TurfNestingError(const QString& childDescription, const QString& containerDescription)
    : Error(tr("A %1 can’t be added to a %2.").arg(childDescription, containerDescription), tr("Unsupported File Type"))
{
}

QString TurfNestingError::typeName() const
{
    return QStringLiteral("TurfNestingError");
}

VersioningError::VersioningError(Case which, const QString& itemName, const QString& detail,
                                 std::optional<QString> reason)
    : Error(versioningDescription(which, itemName, detail), std::move(reason), versioningSuggestion(which)),
      m_case(which)
{
}

VersioningError::VersioningError(const QString& description, Case which, std::optional<QString> suggestion)
    : Error(description, std::nullopt, std::move(suggestion)),
      m_case(which)
{
}

VersioningError VersioningError::lockLost(const QString& itemName, const QString& holder, bool forced,
                                          const QString& leftIn)
{
    return VersioningError(lockLostDescription(itemName, holder, forced, leftIn), Case::lockLost,
                           versioningSuggestion(Case::lockLost));
}

QString VersioningError::typeName() const
{
    return QStringLiteral("VersioningError");
}

WorkingCopyInUseError::WorkingCopyInUseError(const QString& itemName, QList<FolderUser> users)
    : Error(tr("“%1” is still open in %2, so its working copy was left as it is.").arg(itemName, listOf(users)),
            tr("Document Still Open"), tr("Save your work in %1 and close it, then try again.").arg(listOf(users))),
      m_itemName(itemName),
      m_users(std::move(users))
{
}

QStringList WorkingCopyInUseError::applicationNames() const
{
    return namesOf(m_users);
}

QString WorkingCopyInUseError::debugDescription() const
{
    QStringList processes;
    for (const FolderUser& user : m_users)
        processes << QStringLiteral("%1 (pid %2)").arg(user.name, QString::number(user.pid));
    QString text = Error::debugDescription();
    text.chop(1);
    return text + QStringLiteral(", processes: \"") + processes.join(QStringLiteral(", ")) + QStringLiteral("\")");
}

QString WorkingCopyInUseError::typeName() const
{
    return QStringLiteral("WorkingCopyInUseError");
}

} // namespace vantrel
