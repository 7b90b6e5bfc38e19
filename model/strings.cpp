#include "model/strings.h"

#include "model/text_format.h"

#include <QCoreApplication>

namespace vantrel {

namespace {

// Looks up a key that only exists at run time. lupdate cannot extract such keys, so their
// translations are keyed by the joined English text.
QString translateJoinedKey(const QString& key)
{
    const QByteArray utf8 = key.toUtf8();
    return QCoreApplication::translate("Strings", utf8.constData());
}

} // namespace

// Texts that take arguments

QString Strings::plural(const QString& zero, const QString& one, const QString& other, qint64 count)
{
    const QString& format = count == 0 ? zero : (count == 1 || count == -1) ? one : other;
    return formatText(format, count);
}

QString Strings::newLibraryNamePlaceholder(const QString& libraryTypeDescription)
{
    //: Placeholder for new library name
    const QString format = QCoreApplication::translate("Strings", "Enter a name for a new %@");
    return formatText(format, libraryTypeDescription);
}

QString Strings::chooseOnlyOneMessage(const QStringList& names)
{
    //: Message when several files were chosen where only one can be, %@ their names
    const QString format = QCoreApplication::translate(
        "Strings", "Only one file can be chosen here. Choose one of these, and the others one at a time afterwards:\n%@");
    return formatText(format, names.join(QStringLiteral(", ")));
}

QString Strings::newLibraryActionTitle(const QString& libraryTypeDescription)
{
    //: Action to name to create a empty library
    const QString format = QCoreApplication::translate("Strings", "New %@");
    return formatText(format, libraryTypeDescription);
}

QString Strings::newEventActionTitle(const QString& eventTypeDescription)
{
    // Add an empty Final Cut Event
    return translateJoinedKey(QStringLiteral("New ") + eventTypeDescription);
}

QString Strings::newEventNamePlaceholder(const QString& eventTypeShortDescription)
{
    // Placeholder for new event name
    return translateJoinedKey(QStringLiteral("Enter a name for a new ") + eventTypeShortDescription + u'.');
}

QString Strings::documentTypeName(const QString& typeDescription)
{
    // The name of a document type, as file dialogs list it
    return translateJoinedKey(typeDescription);
}

QString Strings::newEventCreateButton(const QString& eventTypeShortDescription)
{
    // Action to name to create a empty event
    return translateJoinedKey(QStringLiteral("Create ") + eventTypeShortDescription);
}

// Plain texts, one line each: the accessor, the translator comment, and the lookup written out
// as `translate("Strings", "English text")` so that lupdate extracts the text together with the
// `/*: */` comment in front of it (a `//:` comment after the lookup would go to the next text).
// The accessor makes the lookup a QCoreApplication::translate call on every read, so a
// translator installed at any time is honoured; a bare literal in its place does not compile.
// clang-format off
#define VANTREL_TEXT(name, lookup) \
    QString Strings::name() { return QCoreApplication::lookup; }

// Welcome window
VANTREL_TEXT(welcomeTitle, /*: Welcome to Vantrel title */ translate("Strings", "Welcome to Vantrel"))
VANTREL_TEXT(welcomeBack, /*: Welcome back */ translate("Strings", "Welcome back!"))
VANTREL_TEXT(welcomeExplainer, /*: Creating a collection explainer during startup that is not the first time */ translate("Strings", "Open an existing Collection, or create a new one."))
VANTREL_TEXT(noCollectionsOrDocuments, /*: mention that to document of collections are present */ translate("Strings", "No Collections or Documents"))
VANTREL_TEXT(createFirstCollectionButtonTitle, /*: button title for creating a collection */ translate("Strings", "Create a Collection"))

// Team window: quitting, closing and unsaved changes
VANTREL_TEXT(teamBundleUnreachable, /*: Shown in the team window while its team bundle's share is gone */ translate("Strings", "The team bundle can’t be reached: check the connection to its share."))
VANTREL_TEXT(quitActionTitle, /*: Action title. Quit the application */ translate("Strings", "Quit"))
VANTREL_TEXT(quitConfirmationTitle, /*: Quit confirmation title */ translate("Strings", "Are you sure you want to quit?"))
VANTREL_TEXT(closeActionTitle, /*: Action title. Close the application window */ translate("Strings", "Close"))
VANTREL_TEXT(closeConfirmationTitle, /*: Close confirmation title */ translate("Strings", "Are you sure you want to close ?"))
VANTREL_TEXT(cancelActionTitle, /*: Action title. Cancel */ translate("Strings", "Cancel"))
VANTREL_TEXT(unsavedChangesOne, /*: Alert title before closing. One item is not yet saved */ translate("Strings", "1 item has unsaved changes."))
VANTREL_TEXT(unsavedChangesOther, /*: Alert title before closing. Multiple items are not yet saved. %1$d is the amount of unsaved items */ translate("Strings", "%d items have unsaved changes."))

// Progress messages
VANTREL_TEXT(importingProgress, /*: Importing something */ translate("Strings", "Importing..."))
VANTREL_TEXT(exportingProgress, /*: Exporting a versioned item */ translate("Strings", "Exporting..."))
VANTREL_TEXT(revertingProgress, /*: Going back to a previous version */ translate("Strings", "Reverting..."))
VANTREL_TEXT(discardingChangesProgress, /*: Progress indicator for an action that throws away changes */ translate("Strings", "Discarding Changes..."))
VANTREL_TEXT(creatingCollectionProgress, /*: Creating a collection where %1$ is the name of the Collection */ translate("Strings", "Creating Collection %@"))
VANTREL_TEXT(creatingLibraryProgress, /*: Creating a new empty library where %1$ is the short description of the library and %2$ the name of the library. */ translate("Strings", "Creating %@ %@"))
VANTREL_TEXT(removingProgress, /*: Progress indicator message. Removing an item where %1$@ is the item name */ translate("Strings", "Removing %@..."))
VANTREL_TEXT(movingToTrashProgress, /*: Progress indicator message. Moving an item to trash where %1$@ is the item name */ translate("Strings", "Moving %@ to Trash..."))
VANTREL_TEXT(restoringProgress, /*: Progress indicator message. Restoring an item from the trash where %1$@ is the item name */ translate("Strings", "Restoring %@..."))
VANTREL_TEXT(openingProgress, /*: Opening a file progress title. %1$@ is the name of the item being opened */ translate("Strings", "Opening %@"))
VANTREL_TEXT(checkingInProgress, /*: Progress message. %1$@ is the name of the item being checked in */ translate("Strings", "Checking in %@..."))
VANTREL_TEXT(renamingProgress, /*: Renaming progress message. %1$ is the old name %2$ is the new name */ translate("Strings", "Renaming %@ to %@..."))
VANTREL_TEXT(addingProgress, /*: Progress indicator for adding an item where %1$@ is the added item name */ translate("Strings", "Adding %@..."))

// Item actions
VANTREL_TEXT(copyLinkActionTitle, /*: Button title. Action will copy a URL to the pasteboard */ translate("Strings", "Copy Link"))
VANTREL_TEXT(discardChangesTitle, /*: Discard Changes */ translate("Strings", "Discard"))
VANTREL_TEXT(removeFromActionTitle, /*: Remove an event from a container where %1$ is the container */ translate("Strings", "Remove from %@"))
VANTREL_TEXT(deleteActionTitle, /*: Delete an item */ translate("Strings", "Delete"))
VANTREL_TEXT(deleteItemsActionTitle, /*: Delete one or more items. %1$ is the amount of items */ translate("Strings", "Delete %@"))
VANTREL_TEXT(moveToTrashActionTitle, /*: Delete an item an move to the trash */ translate("Strings", "Move to Trash"))
VANTREL_TEXT(renameActionTitle, /*: Rename an item */ translate("Strings", "Rename"))
VANTREL_TEXT(restoreActionTitle, /*: Restore an item from the trash */ translate("Strings", "Restore"))
VANTREL_TEXT(addDocumentActionTitle, /*: Add a document to collection */ translate("Strings", "Add Document"))
VANTREL_TEXT(openTemporaryCopyActionTitle, /*: Open a copy of a document */ translate("Strings", "Open a Temporary Copy"))
VANTREL_TEXT(openActionTitle, /*: Open a file or application. %1$@ is the name of the item to open */ translate("Strings", "Open %@"))
VANTREL_TEXT(exportDocumentActionTitle, /*: Export document %1$@ is the document description */ translate("Strings", "Export %@"))
VANTREL_TEXT(exportActionTitle, /*: Export a versioned item */ translate("Strings", "Export"))
VANTREL_TEXT(addEventActionTitle, /*: Button title for Add Event */ translate("Strings", "Add Event"))
VANTREL_TEXT(addToCollectionActionTitle, /*: Add document to collection */ translate("Strings", "Add to Collection"))
VANTREL_TEXT(addToDocumentActionTitle, /*: Add Event to Document */ translate("Strings", "Add to Document"))
VANTREL_TEXT(addExistingActionTitle, /*: Add an existing version bundle */ translate("Strings", "Add Existing"))
VANTREL_TEXT(importActionTitle, /*: Import a from filesystem as a new versionBundle */ translate("Strings", "Import"))
VANTREL_TEXT(openAtticActionTitle, /*: Show the attic in the Finder for the selected document. */ translate("Strings", "Open Attic"))

// Buttons of alerts and sheets
VANTREL_TEXT(revertButtonTitle, /*: Revert title */ translate("Strings", "Revert"))
VANTREL_TEXT(discardButtonTitle, /*: Ignore / throw away any changes */ translate("Strings", "Discard"))
VANTREL_TEXT(yesButtonTitle, /*: confirm */ translate("Strings", "Yes"))
VANTREL_TEXT(okButtonTitle, /*: Confirm action button title */ translate("Strings", "OK"))
VANTREL_TEXT(forceUnlockButtonTitle, /*: Force Unlock action button title */ translate("Strings", "Force Unlock"))
VANTREL_TEXT(continueButtonTitle, /*: Contine action button title */ translate("Strings", "Continue"))
VANTREL_TEXT(addButtonTitle, /*: Add fallback button title */ translate("Strings", "Add"))

// Confirmations and warnings
VANTREL_TEXT(upgradeAlertTitle, /*: Upgrade Alert title */ translate("Strings", "Upgrade Alert"))
VANTREL_TEXT(revertConfirmationMessage, /*: Revert item comformation where %1$ is the name of the item */ translate("Strings", "%@ will be reverted."))
VANTREL_TEXT(moveToTrashConfirmationMessage, /*: Delete item comformation where %1$ is the name of the item. */ translate("Strings", "%@ will be moved to Trash."))
VANTREL_TEXT(removeConfirmationMessage, /*: Remove item comfirmation where %1$ is the name of the item to remove and %2$ is the name of the container to remove the item from */ translate("Strings", "%@ will be removed from %@."))
VANTREL_TEXT(areYouSureTitle, /*: Confirmation dialog title for cancelling a operation */ translate("Strings", "Are you sure?"))
VANTREL_TEXT(forceUnlockConfirmationTitle, /*: Confirmation dialog title for force unlock a document */ translate("Strings", "Are you sure you want to force unlock %@?"))
VANTREL_TEXT(discardChangesMessage, /*: Warning for discarding changes. Work may be lost. %1$ is the name of the item changes are discarded for */ translate("Strings", "All unsaved changes in %@ will be discarded."))
VANTREL_TEXT(forceUnlockExplainer, /*: Force unlock explainer */ translate("Strings",
    "If you’re unable to open %@ because a collaborator forgot to submit changes, "
    "you can force unlock %@. "
    "Be aware that your collaborator will not be able to upload any changes. "
    "Only do this when there is no other way, and you understand the consequences."))
VANTREL_TEXT(upgradeWarningMessage, /*: Update warning where %@1 appname, %@2 is installed app version, %@3 is appname, %@4 document version number */ translate("Strings",
    "Your %@ version is too new. "
    "Opening it will trigger a non-backwards compatible upgrade.\n\n"
    "Either continue, and have your collaborators upgrade to %@, or downgrade %@ to %@."))

// Saving changes
VANTREL_TEXT(saveYourWorkTitle, /*: Save your work title */ translate("Strings", "Save your work"))
VANTREL_TEXT(describeChangesPlaceholder, /*: Describe you changes */ translate("Strings", "Describe your changes"))
VANTREL_TEXT(saveChangesButtonTitle, /*: Save your changes */ translate("Strings", "Save Changes"))

// Naming sheets
VANTREL_TEXT(newCollectionTitle, /*: Create a new collection title */ translate("Strings", "New Collection"))
VANTREL_TEXT(createCollectionButtonTitle, /*: Create collection button title */ translate("Strings", "Create Collection"))
VANTREL_TEXT(collectionNamePlaceholder, /*: Placeholder for collection name */ translate("Strings", "Enter a name for your Collection."))
VANTREL_TEXT(renameItemTitle, /*: Rename an item. %1$ is the item type. */ translate("Strings", "Rename %@"))
VANTREL_TEXT(renameItemPlaceholder, /*: Action name to rename an item. %1$ is the renamed item type */ translate("Strings", "Enter a new name %@ name"))

// Lists, categories and item details
VANTREL_TEXT(collectionsTitle, /*: Collections list title */ translate("Strings", "Collections"))
VANTREL_TEXT(documentsTitle, /*: Multiple documents */ translate("Strings", "Documents"))
VANTREL_TEXT(activityTitle, /*: Activities title */ translate("Strings", "Activity"))
VANTREL_TEXT(eventActivityTitle, /*: Event activities */ translate("Strings", "Event Activity"))
VANTREL_TEXT(editedDate, /*: Indicates when an item has last been modified. %1$@ is the date the item was last edited */ translate("Strings", "Edited %@"))
VANTREL_TEXT(librariesTitle, /*: libraries amount indicator */ translate("Strings", "Libraries"))
VANTREL_TEXT(eventsTitle, /*: multiple events */ translate("Strings", "Events"))
VANTREL_TEXT(projectsTitle, /*: multiple projects */ translate("Strings", "Projects"))
VANTREL_TEXT(otherTitle, /*: Category title for unsorted items */ translate("Strings", "Other"))
VANTREL_TEXT(usedInTitle, /*: An item is used by another item */ translate("Strings", "Used in"))
VANTREL_TEXT(usedInList, /*: An item is used by other items. %1$@ is the list of items used in */ translate("Strings", "Used in: %@"))
VANTREL_TEXT(usedInCount, /*: Used in a number of items. %1$d is the number of items. %2$@ is the items description */ translate("Strings", "In %d %@"))
VANTREL_TEXT(multipleItems, /*: adding multiple items */ translate("Strings", "multiple items"))
VANTREL_TEXT(selectedTitle, /*: Multiple items selected */ translate("Strings", "Selected"))
VANTREL_TEXT(nothingFound, /*: search entry did give have results */ translate("Strings", "Nothing found"))
VANTREL_TEXT(nothingSelected, /*: no selection from a list */ translate("Strings", "Nothing selected"))
VANTREL_TEXT(notInUse, /*: Item not in use in container item */ translate("Strings", "Not in use"))
VANTREL_TEXT(itemCountOne, /*: Gingle item. %1$d is the number 1 */ translate("Strings", "%d Item"))
VANTREL_TEXT(itemCountOther, /*: Multiple items. %1$d is the number of items */ translate("Strings", "%d Items"))

// Trash
VANTREL_TEXT(trashTitle, /*: The trash bin */ translate("Strings", "Trash"))
VANTREL_TEXT(openTrashActionTitle, /*: Action title. Open the trash view */ translate("Strings", "Open Trash"))
VANTREL_TEXT(emptyTitle, /*: Nothing inside. */ translate("Strings", "Empty"))
VANTREL_TEXT(permanentDeleteMessage, /*: Warning message for permanently deleting items. %1$@ is the description of the deleted items */ translate("Strings", "%@ will be permenently deleted. Vantrel cannot revert this action."))

// Untracked and force-unlocked documents
VANTREL_TEXT(untrackedDocumentTitle, /*: Untracked document title */ translate("Strings", "Untracked Document"))
VANTREL_TEXT(untrackedDocumentExplainer, /*: UntrackedDocument explainer */ translate("Strings",
    "Someone else beat you to opening this document first!\n\n"
    "Any changes you make will not be saved, unless you import this document as a new one."))
VANTREL_TEXT(forceUnlockedDocumentExplainer, /*: Force unlocked document explainer */ translate("Strings",
    "%@ force unlocked this document!\n\n"
    "Any changes you make will not be saved, unless you import this document as a new one."))

// Filtering and sorting
VANTREL_TEXT(filterPlaceholder, /*: Filter placeholder */ translate("Strings", "Filter"))
VANTREL_TEXT(ascendingTitle, /*: Increasing order */ translate("Strings", "Ascending"))
VANTREL_TEXT(descendingTitle, /*: Decreasing order */ translate("Strings", "Descending"))
VANTREL_TEXT(alphabeticalSortingTitle, /*: Alphabetical sorting title */ translate("Strings", "Alphabetical sorting"))
VANTREL_TEXT(showAllActionTitle, /*: Show All items */ translate("Strings", "Show All"))
VANTREL_TEXT(showTrashActionTitle, /*: Show Trashed items */ translate("Strings", "Show Trash"))

// Team bundles
VANTREL_TEXT(openTeamBundleActionTitle, /*: Action title. Open a Vantrel Team Bundle */ translate("Strings", "Open Team Bundle"))
VANTREL_TEXT(createNewTeamActionTitle, /*: Action title. Create a new Vantrel Team */ translate("Strings", "Create New Team"))
VANTREL_TEXT(chooseLocationButtonTitle, /*: Choose a Location for the Team Bundle */ translate("Strings", "Choose Location"))
VANTREL_TEXT(showTeamBundleInFinderActionTitle, /*: Show the current Team Bundle in finder */ translate("Strings", "Show Team Bundle in Finder"))
VANTREL_TEXT(teamBundleNamePlaceholder, /*: Supply a team bundle name */ translate("Strings", "Enter a name for your Team Bundle"))
VANTREL_TEXT(teamBundleNameMessage, /*: Message when creating a Vantrel bundle name */ translate("Strings",
    "Enter a name and pick a location. Choose a shared\n"
    "location if you’d like to collaborate with more people\n"
    "and let them open the same Team Bundle."))

// File dialogs
VANTREL_TEXT(newTeamBundleLocationDialogTitle, /*: Title of the folder chooser for a new Team Bundle */ translate("Strings", "Choose a Folder for the New Team Bundle"))
VANTREL_TEXT(exportDestinationDialogTitle, /*: Title of the folder chooser for an export */ translate("Strings", "Choose a Folder to Export To"))
VANTREL_TEXT(importDocumentDialogTitle, /*: Title of the file dialog that imports a document */ translate("Strings", "Choose a Document to Import"))
VANTREL_TEXT(teamBundlesFilterName, /*: File dialog filter for Team Bundles */ translate("Strings", "Team Bundles"))
VANTREL_TEXT(allFilesFilterName, /*: File dialog filter for any file */ translate("Strings", "All Files"))
VANTREL_TEXT(allSupportedFilterName, /*: File dialog filter for every file that may be chosen */ translate("Strings", "All Supported Documents"))
VANTREL_TEXT(noDocumentsFilterName, /*: File dialog filter when no file may be chosen */ translate("Strings", "No Documents"))
VANTREL_TEXT(chooseOnlyOneTitle, /*: Title of the alert when several files were chosen where only one can be */ translate("Strings", "Choose Only One File"))
VANTREL_TEXT(filesOfExtensionFilterName, /*: File dialog filter for files of one extension, %@ the extension */ translate("Strings", "%@ Files"))

// Onboarding
VANTREL_TEXT(getStartedButtonTitle, /*: Get Started button title */ translate("Strings", "Get Started"))
VANTREL_TEXT(nextButtonTitle, /*: Next button title */ translate("Strings", "Next"))
VANTREL_TEXT(skipOnboardingButtonTitle, /*: Skip the onboarding button title */ translate("Strings", "Skip"))
VANTREL_TEXT(openExistingTeamBundleButtonTitle, /*: Open existing team bundle */ translate("Strings", "Open an Existing Team Bundle"))
VANTREL_TEXT(createNewTeamButtonTitle, /*: Create a new team bundle */ translate("Strings", "Create a New Team"))

// Application menu
VANTREL_TEXT(aboutActionTitle, /*: About %@1 is appName */ translate("Strings", "About %@"))
VANTREL_TEXT(checkForUpdatesActionTitle, /*: Check for updates menu item title */ translate("Strings", "Check for updates"))
VANTREL_TEXT(sendFeedbackActionTitle, /*: Motivate the user to send beta build feedback */ translate("Strings", "Send Feedback"))
VANTREL_TEXT(betaPrefix, /*: A prefix to indicate a beta build */ translate("Strings", "Beta - "))
VANTREL_TEXT(oneUpdateAvailable, /*: One update */ translate("Strings", "1 update available"))
VANTREL_TEXT(updatesAvailable, /*: Multiple updates */ translate("Strings", "%u updates available"))
VANTREL_TEXT(collectLogsActionTitle, /*: Collect Logs for support */ translate("Strings", "Collect Logs for support"))
VANTREL_TEXT(fileMenuTitle, /*: The title of the File menu */ translate("Strings", "File"))
VANTREL_TEXT(helpMenuTitle, /*: The title of the Help menu */ translate("Strings", "Help"))

// Crash reports
VANTREL_TEXT(sendButtonTitle, /*: Send button title */ translate("Strings", "Send"))
VANTREL_TEXT(dontSendButtonTitle, /*: Don't send button title */ translate("Strings", "Don't Send"))
VANTREL_TEXT(crashReportMessage, /*: Crash report message description */ translate("Strings",
    "A report has been created, and is ready to be sent to Vantrel Support. "
    "We'll get back to you as soon as possible!"))

// Errors
VANTREL_TEXT(errorTitle, /*: Something went wrong. */ translate("Strings", "Error"))
VANTREL_TEXT(unexpectedErrorTitle, /*: Something unexpected happened title */ translate("Strings", "Something unexpected happened."))
VANTREL_TEXT(maximumReachedMessage, /*: The limit is reached for a finite collection. %1$@ is the type of document */ translate("Strings", "Maximum reached for %@"))
VANTREL_TEXT(checkoutError, /*: An error occurred during checkout */ translate("Strings", "An error occurred during checkout."))
VANTREL_TEXT(cancelError, /*: An error occurred during cancel */ translate("Strings", "An error occurred during cancel."))
VANTREL_TEXT(checkInError, /*: An error occurred during checking in */ translate("Strings", "An error occurred during checking in."))
VANTREL_TEXT(exportError, /*: An error occurred while exporting */ translate("Strings", "An error occurred while exporting."))
VANTREL_TEXT(createCopyError, /*: An error occurred while creating a copy */ translate("Strings", "An error occurred while creating a copy."))
VANTREL_TEXT(viewUpdateError, /*: An error occurred while updating the views */ translate("Strings", "An error occurred while updating the views."))
VANTREL_TEXT(documentBusy, /*: A check-out, check-in or discard asked for while another one still runs on the document. %@ is the document's name */ translate("Strings", "Another operation is still running on %@. Try again when it has finished."))
VANTREL_TEXT(documentNotOpenedTitle, /*: Title of the alert shown when a checked-out document did not open in its application */ translate("Strings", "The Document Didn’t Open"))
VANTREL_TEXT(openFailedKeptCheckedOut, /*: A document was checked out but its application did not open it. %1$@ is the document's name, %2$@ says what went wrong */ translate("Strings", "%@ is checked out to you, but it didn’t open. %@\n\nIt stays checked out: open it again once its application works, or discard the changes to give it back to the team."))
VANTREL_TEXT(invalidNameMessage, /*: These characters are not allowed in a name */ translate("Strings", "The name contains invalid characters."))
VANTREL_TEXT(invalidTeamNameTitle, /*: Title of the alert shown when the name of a new team can't be used */ translate("Strings", "Invalid Team Name"))
VANTREL_TEXT(invalidTeamNameMessage, /*: A new team's name becomes the name of its folder. %@ lists the characters it must not contain */ translate("Strings", "A team’s name becomes the name of its folder, so it can’t be empty, “.” or “..”, and can’t "
                                                                                                                                                                 "contain line breaks, control characters or any of these characters: %@"))

// A working copy still open in an application
VANTREL_TEXT(workingCopyInUseTitle, /*: Title of the alert shown when a document is checked in, discarded or opened again while an application still has its working copy open. %@ is the application's name (or several, as a list) */ translate("Strings", "Save and Close %@ First"))
VANTREL_TEXT(checkInWhileInUseMessage, /*: Checking in a document an application still has open. %1$@ is the document's name, %2$@ the application's name */ translate("Strings", "“%1$@” is still open in %2$@, which can’t save to it once it is checked in. Save your work and close %2$@, then check in again. If you check in anyway, the working copy is also kept in the attic."))
VANTREL_TEXT(discardWhileInUseMessage, /*: Discarding the changes of a document an application still has open. %1$@ is the document's name, %2$@ the application's name */ translate("Strings", "“%1$@” is still open in %2$@, which can’t save to it once its changes are discarded. Close %2$@ first, then discard again. If you discard anyway, the working copy is kept in the attic."))
VANTREL_TEXT(checkInAnywayButtonTitle, /*: Button that checks a document in although an application still has it open */ translate("Strings", "Check In Anyway"))
VANTREL_TEXT(discardAnywayButtonTitle, /*: Button that discards the changes of a document although an application still has it open */ translate("Strings", "Discard Anyway"))
VANTREL_TEXT(openWhileInUseMessage, /*: Opening (checking out) a document again while an application still has the working copy left from before open. %1$@ is the document's name, %2$@ the application's name */ translate("Strings", "An earlier working copy of “%1$@” is still open in %2$@. Opening it replaces that working copy with the current version, and what %2$@ saves afterwards would overwrite it. Close %2$@ first, then open again. If you open anyway, the earlier working copy is kept in the attic."))
VANTREL_TEXT(openAnywayButtonTitle, /*: Button that checks a document out although an application still has the working copy it replaces open */ translate("Strings", "Open Anyway"))
VANTREL_TEXT(changedWhileCheckingInTitle, /*: Title of the alert shown when a check-in went through but the working copy was changed, or was open in an application, while it was checked in */ translate("Strings", "Working Copy Kept in the Attic"))
VANTREL_TEXT(changedWhileCheckingInMessage, /*: A check-in went through, but the working copy changed (or an application had it open) after it was stored. %@ is the document's name */ translate("Strings", "“%@” was changed while it was checked in, or an application still had it open. The version checked in doesn’t hold those changes; that copy is kept in the attic."))
VANTREL_TEXT(changedWhileCheckingInNotKeptTitle, /*: Title of the alert shown when a check-in went through but the working copy, changed or open in an application while it was checked in, could not be kept in the attic */ translate("Strings", "Working Copy Left in Its Folder"))
VANTREL_TEXT(changedWhileCheckingInNotKeptMessage, /*: A check-in went through, but the working copy changed (or an application had it open) after it was stored, and it could not be kept in the attic. %1$@ is the document's name, %2$@ the folder it is in */ translate("Strings", "“%1$@” was changed while it was checked in, or an application still had it open. The version checked in doesn’t hold those changes, and they could not be kept in the attic: they are still in the folder “%2$@”, left as it is."))

// Onboarding pages
VANTREL_TEXT(welcomeToMessage, /*: Welcome to message */ translate("Strings", "Welcome to"))
VANTREL_TEXT(welcomeOnboardingMessage, /*: Welcome onboarding message */ translate("Strings", "Vantrel gives you the power to collaborate in your creative app of choice based on three concepts – locking, versioning, and activity logging.\n\nLocking prevents others from changing work open to you from Vantrel.\n\nVersioning lets you revert your work to a previous point in time.\n\nActivity logging displays a timeline of what you and your team have worked on."))
VANTREL_TEXT(collectionsOnboardingMessage, /*: Collections onboarding message */ translate("Strings", "Collections let you organize your work the way you want.\n\nOnce you create a Team Bundle, you’ll add one or more Collections, then fill that Collection by importing or adding Documents.\n\nThe contents of a Collection are available to all other Collections in a Team Bundle, so you can import that project file once and then add it to your other Collections later.\n\nCollections also display the lock state, available versions, and activity log of a Document."))
VANTREL_TEXT(documentsOnboardingTitle, /*: Documents title */ translate("Strings", "Documents"))
VANTREL_TEXT(documentsOnboardingMessage, /*: Documents explainer for onboarding */ translate("Strings", "Once you import your creative app’s project file into Vantrel, it becomes a Document. Vantrel lets you import any project file from any creative app as a Document.\n\nDocuments receive the Vantrel treatment – locking, versioning, and activity logging – and can exist in one or more Collections."))
VANTREL_TEXT(eventLockingOnboardingTitle, /*: Event locking title */ translate("Strings", "Event locking"))
VANTREL_TEXT(eventLockingOnboardingMessage, /*: Event locking explainer for onboarding */ translate("Strings", "Using Final Cut Pro? \n\nIf you add or import a Library into Vantrel, those\nEvents become available to any Library inside your\nTeam Bundle. Events also receive the Vantrel treatment – locking, versioning, and activity logging – giving you more flexibility and possibilities for using Events in your FCP workflow."))
VANTREL_TEXT(teamsOnboardingTitle, /*: Teams title */ translate("Strings", "Teams"))
VANTREL_TEXT(teamsOnboardingMessage, /*: Teams explainer for onboarding */ translate("Strings", "It all starts with a Team Bundle. This is where Vantrel stores your work.\n\nWorking with a team? Store your Team Bundle on shared storage, whether on-premises or remote. If someone can open that Team Bundle, they’re now a part of your team.\n\nWorking as a Team of One right now? Team Bundles give you a safety net thanks to locking and versioning, and provide an at-a-glance view of progress with activity logging in a Collection."))

// Menu bar
VANTREL_TEXT(showTeamBundleInFileManagerActionTitle, /*: Show the current Team Bundle in the file manager */ translate("Strings", "Show Team Bundle in File Manager"))
VANTREL_TEXT(goMenuTitle, /*: Go menu title */ translate("Strings", "Go"))
VANTREL_TEXT(backActionTitle, /*: Navigate back */ translate("Strings", "Back"))
VANTREL_TEXT(forwardActionTitle, /*: Navigate forward */ translate("Strings", "Forward"))
VANTREL_TEXT(homeActionTitle, /*: Navigate home */ translate("Strings", "Home"))
VANTREL_TEXT(collectingLogsProgress, /*: Progress indicator message while the logs are packed for support */ translate("Strings", "Collecting Logs..."))
VANTREL_TEXT(collectLogsFailedTitle, /*: Title of the alert shown when the logs could not be packed for support */ translate("Strings", "The logs could not be collected."))
VANTREL_TEXT(debugMenuTitle, translate("Strings", "DEBUG"))
VANTREL_TEXT(testCrashActionTitle, translate("Strings", "Test crash"))

// The button row of a selected document
VANTREL_TEXT(documentLockedHelp, /*: Help of the open button of a locked document. %1$@ is the user holding the lock, %2$@ that user's machine */ translate("Strings", "Document locked by %@ on %@"))
VANTREL_TEXT(installToOpenHelp, /*: Install to open this document where %@ is the app name */ translate("Strings", "Install %@ to open this document"))
VANTREL_TEXT(opensInHelp, /*: Help of the open button of a document of a type the program does not know, %@ the desktop's application for it */ translate("Strings", "Opens in %@"))
VANTREL_TEXT(noApplicationForKindHelp, /*: Help of the open button of a document of a type the program does not know when nothing on this computer opens it, %@ the kind of file, e.g. "Matroska video" */ translate("Strings", "No application on this computer opens files of the kind “%@”"))

// Item headers, summary labels and the trash table
VANTREL_TEXT(nameColumnTitle, /*: The name of an item */ translate("Strings", "Name"))
VANTREL_TEXT(typeColumnTitle, /*: The type of item */ translate("Strings", "Type"))
VANTREL_TEXT(lastModifiedColumnTitle, /*: Column header. The date an item was last changed */ translate("Strings", "Last Modified"))

// Relative dates
VANTREL_TEXT(relativeNow, /*: A date within a second of now */ translate("Strings", "now"))
VANTREL_TEXT(relativeYesterday, /*: A date on the previous calendar day */ translate("Strings", "yesterday"))
VANTREL_TEXT(relativeTomorrow, /*: A date on the next calendar day */ translate("Strings", "tomorrow"))
VANTREL_TEXT(relativeLastWeek, /*: A date about one week ago */ translate("Strings", "last week"))
VANTREL_TEXT(relativeNextWeek, /*: A date about one week ahead */ translate("Strings", "next week"))
VANTREL_TEXT(relativeLastMonth, /*: A date about one month ago */ translate("Strings", "last month"))
VANTREL_TEXT(relativeNextMonth, /*: A date about one month ahead */ translate("Strings", "next month"))
VANTREL_TEXT(relativeLastYear, /*: A date about one year ago */ translate("Strings", "last year"))
VANTREL_TEXT(relativeNextYear, /*: A date about one year ahead */ translate("Strings", "next year"))
VANTREL_TEXT(secondAgo, /*: One second in the past */ translate("Strings", "%d second ago"))
VANTREL_TEXT(secondsAgo, /*: Several seconds in the past. %d is the count */ translate("Strings", "%d seconds ago"))
VANTREL_TEXT(inSecond, /*: One second in the future */ translate("Strings", "in %d second"))
VANTREL_TEXT(inSeconds, /*: Several seconds in the future. %d is the count */ translate("Strings", "in %d seconds"))
VANTREL_TEXT(minuteAgo, /*: One minute in the past */ translate("Strings", "%d minute ago"))
VANTREL_TEXT(minutesAgo, /*: Several minutes in the past. %d is the count */ translate("Strings", "%d minutes ago"))
VANTREL_TEXT(inMinute, /*: One minute in the future */ translate("Strings", "in %d minute"))
VANTREL_TEXT(inMinutes, /*: Several minutes in the future. %d is the count */ translate("Strings", "in %d minutes"))
VANTREL_TEXT(hourAgo, /*: One hour in the past */ translate("Strings", "%d hour ago"))
VANTREL_TEXT(hoursAgo, /*: Several hours in the past. %d is the count */ translate("Strings", "%d hours ago"))
VANTREL_TEXT(inHour, /*: One hour in the future */ translate("Strings", "in %d hour"))
VANTREL_TEXT(inHours, /*: Several hours in the future. %d is the count */ translate("Strings", "in %d hours"))
VANTREL_TEXT(dayAgo, /*: One day in the past */ translate("Strings", "%d day ago"))
VANTREL_TEXT(daysAgo, /*: Several days in the past. %d is the count */ translate("Strings", "%d days ago"))
VANTREL_TEXT(inDay, /*: One day in the future */ translate("Strings", "in %d day"))
VANTREL_TEXT(inDays, /*: Several days in the future. %d is the count */ translate("Strings", "in %d days"))
VANTREL_TEXT(weekAgo, /*: One week in the past */ translate("Strings", "%d week ago"))
VANTREL_TEXT(weeksAgo, /*: Several weeks in the past. %d is the count */ translate("Strings", "%d weeks ago"))
VANTREL_TEXT(inWeek, /*: One week in the future */ translate("Strings", "in %d week"))
VANTREL_TEXT(inWeeks, /*: Several weeks in the future. %d is the count */ translate("Strings", "in %d weeks"))
VANTREL_TEXT(monthAgo, /*: One month in the past */ translate("Strings", "%d month ago"))
VANTREL_TEXT(monthsAgo, /*: Several months in the past. %d is the count */ translate("Strings", "%d months ago"))
VANTREL_TEXT(inMonth, /*: One month in the future */ translate("Strings", "in %d month"))
VANTREL_TEXT(inMonths, /*: Several months in the future. %d is the count */ translate("Strings", "in %d months"))
VANTREL_TEXT(yearAgo, /*: One year in the past */ translate("Strings", "%d year ago"))
VANTREL_TEXT(yearsAgo, /*: Several years in the past. %d is the count */ translate("Strings", "%d years ago"))
VANTREL_TEXT(inYear, /*: One year in the future */ translate("Strings", "in %d year"))
VANTREL_TEXT(inYears, /*: Several years in the future. %d is the count */ translate("Strings", "in %d years"))

// Activity timeline
VANTREL_TEXT(createdNewVersion, /*: description for creating a new version on a document */ translate("Strings", "created a new version"))
VANTREL_TEXT(revertedToVersion, /*: description for version revert on a document */ translate("Strings", "reverted this document to version:"))
VANTREL_TEXT(changedDescription, /*: changed the description of a document */ translate("Strings", "changed the description"))
VANTREL_TEXT(discardedChanges, /*: discarded changes on this document */ translate("Strings", "discarded changes on this document"))
VANTREL_TEXT(deletedDocument, /*: Deleted this document */ translate("Strings", "deleted this document"))
VANTREL_TEXT(exportEllipsis, /*: Export a version of a document, asking for a folder first */ translate("Strings", "Export..."))
VANTREL_TEXT(viewMenuTitle, /*: View menu title */ translate("Strings", "View"))
VANTREL_TEXT(hideSidebarActionTitle, /*: Menu item that hides the team window's sidebar */ translate("Strings", "Hide Sidebar"))
VANTREL_TEXT(showSidebarActionTitle, /*: Menu item that shows the team window's hidden sidebar */ translate("Strings", "Show Sidebar"))
#undef VANTREL_TEXT
// clang-format on

} // namespace vantrel
