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

QString Strings::plural(const QString& zero, const QString& one, const QString& other,
                        qint64 count)
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
    return translateJoinedKey(QStringLiteral("Enter a name for a new ") + eventTypeShortDescription
                              + u'.');
}

QString Strings::newEventCreateButton(const QString& eventTypeShortDescription)
{
    // Action to name to create a empty event
    return translateJoinedKey(QStringLiteral("Create ") + eventTypeShortDescription);
}

QString Strings::welcomeTitle()
{
    //: Welcome to Vantrel title
    static const QString text = QCoreApplication::translate("Strings", "Welcome to Vantrel");
    return text;
}

QString Strings::welcomeBack()
{
    //: Welcome back
    static const QString text = QCoreApplication::translate("Strings", "Welcome back!");
    return text;
}

QString Strings::welcomeExplainer()
{
    //: Creating a collection explainer during startup that is not the first time
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Open an existing Collection, or create a new one.");
    return text;
}

QString Strings::noCollectionsOrDocuments()
{
    //: mention that to document of collections are present
    static const QString text = QCoreApplication::translate(
        "Strings",
        "No Collections or Documents");
    return text;
}

QString Strings::createFirstCollectionButtonTitle()
{
    //: button title for creating a collection
    static const QString text = QCoreApplication::translate("Strings", "Create a Collection");
    return text;
}

QString Strings::quitActionTitle()
{
    //: Action title. Quit the application
    static const QString text = QCoreApplication::translate("Strings", "Quit");
    return text;
}

QString Strings::quitConfirmationTitle()
{
    //: Quit confirmation title
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Are you sure you want to quit?");
    return text;
}

QString Strings::closeActionTitle()
{
    //: Action title. Close the application window
    static const QString text = QCoreApplication::translate("Strings", "Close");
    return text;
}

QString Strings::closeConfirmationTitle()
{
    //: Close confirmation title
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Are you sure you want to close ?");
    return text;
}

QString Strings::cancelActionTitle()
{
    //: Action title. Cancel
    static const QString text = QCoreApplication::translate("Strings", "Cancel");
    return text;
}

QString Strings::unsavedChangesOne()
{
    //: Alert title before closing. One item is not yet saved
    static const QString text = QCoreApplication::translate(
        "Strings",
        "1 item has unsaved changes.");
    return text;
}

QString Strings::unsavedChangesOther()
{
    //: Alert title before closing. Multiple items are not yet saved. %1$d is the amount of unsaved items
    static const QString text = QCoreApplication::translate(
        "Strings",
        "%d items have unsaved changes.");
    return text;
}

QString Strings::importingProgress()
{
    //: Importing something
    static const QString text = QCoreApplication::translate("Strings", "Importing...");
    return text;
}

QString Strings::exportingProgress()
{
    //: Exporting a versioned item
    static const QString text = QCoreApplication::translate("Strings", "Exporting...");
    return text;
}

QString Strings::revertingProgress()
{
    //: Going back to a previous version
    static const QString text = QCoreApplication::translate("Strings", "Reverting...");
    return text;
}

QString Strings::discardingChangesProgress()
{
    //: Progress indicator for an action that throws away changes
    static const QString text = QCoreApplication::translate("Strings", "Discarding Changes...");
    return text;
}

QString Strings::creatingCollectionProgress()
{
    //: Creating a collection where %1$ is the name of the Collection
    static const QString text = QCoreApplication::translate("Strings", "Creating Collection %@");
    return text;
}

QString Strings::creatingLibraryProgress()
{
    //: Creating a new empty library where %1$ is the short description of the library and %2$ the name of the library.
    static const QString text = QCoreApplication::translate("Strings", "Creating %@ %@");
    return text;
}

QString Strings::removingProgress()
{
    //: Progress indicator message. Removing an item where %1$@ is the item name
    static const QString text = QCoreApplication::translate("Strings", "Removing %@...");
    return text;
}

QString Strings::movingToTrashProgress()
{
    //: Progress indicator message. Moving an item to trash where %1$@ is the item name
    static const QString text = QCoreApplication::translate("Strings", "Moving %@ to Trash...");
    return text;
}

QString Strings::restoringProgress()
{
    //: Progress indicator message. Restoring an item from the trash where %1$@ is the item name
    static const QString text = QCoreApplication::translate("Strings", "Restoring %@...");
    return text;
}

QString Strings::openingProgress()
{
    //: Opening a file progress title. %1$@ is the name of the item being opened
    static const QString text = QCoreApplication::translate("Strings", "Opening %@");
    return text;
}

QString Strings::checkingInProgress()
{
    //: Progress message. %1$@ is the name of the item being checked in
    static const QString text = QCoreApplication::translate("Strings", "Checking in %@...");
    return text;
}

QString Strings::renamingProgress()
{
    //: Renaming progress message. %1$ is the old name %2$ is the new name
    static const QString text = QCoreApplication::translate("Strings", "Renaming %@ to %@...");
    return text;
}

QString Strings::addingProgress()
{
    //: Progress indicator for adding an item where %1$@ is the added item name
    static const QString text = QCoreApplication::translate("Strings", "Adding %@...");
    return text;
}

QString Strings::copyLinkActionTitle()
{
    //: Button title. Action will copy a URL to the pasteboard
    static const QString text = QCoreApplication::translate("Strings", "Copy Link");
    return text;
}

QString Strings::discardChangesTitle()
{
    //: Discard Changes
    static const QString text = QCoreApplication::translate("Strings", "Discard");
    return text;
}

QString Strings::removeFromActionTitle()
{
    //: Remove an event from a container where %1$ is the container
    static const QString text = QCoreApplication::translate("Strings", "Remove from %@");
    return text;
}

QString Strings::deleteActionTitle()
{
    //: Delete an item
    static const QString text = QCoreApplication::translate("Strings", "Delete");
    return text;
}

QString Strings::deleteItemsActionTitle()
{
    //: Delete one or more items. %1$ is the amount of items
    static const QString text = QCoreApplication::translate("Strings", "Delete %@");
    return text;
}

QString Strings::moveToTrashActionTitle()
{
    //: Delete an item an move to the trash
    static const QString text = QCoreApplication::translate("Strings", "Move to Trash");
    return text;
}

QString Strings::renameActionTitle()
{
    //: Rename an item
    static const QString text = QCoreApplication::translate("Strings", "Rename");
    return text;
}

QString Strings::restoreActionTitle()
{
    //: Restore an item from the trash
    static const QString text = QCoreApplication::translate("Strings", "Restore");
    return text;
}

QString Strings::addDocumentActionTitle()
{
    //: Add a document to collection
    static const QString text = QCoreApplication::translate("Strings", "Add Document");
    return text;
}

QString Strings::openTemporaryCopyActionTitle()
{
    //: Open a copy of a document
    static const QString text = QCoreApplication::translate("Strings", "Open a Temporary Copy");
    return text;
}

QString Strings::openActionTitle()
{
    //: Open a file or application. %1$@ is the name of the item to open
    static const QString text = QCoreApplication::translate("Strings", "Open %@");
    return text;
}

QString Strings::exportDocumentActionTitle()
{
    //: Export document %1$@ is the document description
    static const QString text = QCoreApplication::translate("Strings", "Export %@");
    return text;
}

QString Strings::exportActionTitle()
{
    //: Export a versioned item
    static const QString text = QCoreApplication::translate("Strings", "Export");
    return text;
}

QString Strings::addEventActionTitle()
{
    //: Button title for Add Event
    static const QString text = QCoreApplication::translate("Strings", "Add Event");
    return text;
}

QString Strings::addToCollectionActionTitle()
{
    //: Add document to collection
    static const QString text = QCoreApplication::translate("Strings", "Add to Collection");
    return text;
}

QString Strings::addToDocumentActionTitle()
{
    //: Add Event to Document
    static const QString text = QCoreApplication::translate("Strings", "Add to Document");
    return text;
}

QString Strings::addExistingActionTitle()
{
    //: Add an existing version bundle
    static const QString text = QCoreApplication::translate("Strings", "Add Existing");
    return text;
}

QString Strings::importActionTitle()
{
    //: Import a from filesystem as a new versionBundle
    static const QString text = QCoreApplication::translate("Strings", "Import");
    return text;
}

QString Strings::openAtticActionTitle()
{
    //: Show the attic in the Finder for the selected document.
    static const QString text = QCoreApplication::translate("Strings", "Open Attic");
    return text;
}

QString Strings::revertButtonTitle()
{
    //: Revert title
    static const QString text = QCoreApplication::translate("Strings", "Revert");
    return text;
}

QString Strings::discardButtonTitle()
{
    //: Ignore / throw away any changes
    static const QString text = QCoreApplication::translate("Strings", "Discard");
    return text;
}

QString Strings::yesButtonTitle()
{
    //: confirm
    static const QString text = QCoreApplication::translate("Strings", "Yes");
    return text;
}

QString Strings::okButtonTitle()
{
    //: Confirm action button title
    static const QString text = QCoreApplication::translate("Strings", "OK");
    return text;
}

QString Strings::forceUnlockButtonTitle()
{
    //: Force Unlock action button title
    static const QString text = QCoreApplication::translate("Strings", "Force Unlock");
    return text;
}

QString Strings::continueButtonTitle()
{
    //: Contine action button title
    static const QString text = QCoreApplication::translate("Strings", "Continue");
    return text;
}

QString Strings::addButtonTitle()
{
    //: Add fallback button title
    static const QString text = QCoreApplication::translate("Strings", "Add");
    return text;
}

QString Strings::upgradeAlertTitle()
{
    //: Upgrade Alert title
    static const QString text = QCoreApplication::translate("Strings", "Upgrade Alert");
    return text;
}

QString Strings::revertConfirmationMessage()
{
    //: Revert item comformation where %1$ is the name of the item
    static const QString text = QCoreApplication::translate("Strings", "%@ will be reverted.");
    return text;
}

QString Strings::moveToTrashConfirmationMessage()
{
    //: Delete item comformation where %1$ is the name of the item.
    static const QString text = QCoreApplication::translate(
        "Strings",
        "%@ will be moved to Trash.");
    return text;
}

QString Strings::removeConfirmationMessage()
{
    //: Remove item comfirmation where %1$ is the name of the item to remove and %2$ is the name of the container to remove the item from
    static const QString text = QCoreApplication::translate(
        "Strings",
        "%@ will be removed from %@.");
    return text;
}

QString Strings::areYouSureTitle()
{
    //: Confirmation dialog title for cancelling a operation
    static const QString text = QCoreApplication::translate("Strings", "Are you sure?");
    return text;
}

QString Strings::forceUnlockConfirmationTitle()
{
    //: Confirmation dialog title for force unlock a document
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Are you sure you want to force unlock %@?");
    return text;
}

QString Strings::discardChangesMessage()
{
    //: Warning for discarding changes. Work may be lost. %1$ is the name of the item changes are discarded for
    static const QString text = QCoreApplication::translate(
        "Strings",
        "All unsaved changes in %@ will be discarded.");
    return text;
}

QString Strings::forceUnlockExplainer()
{
    //: Force unlock explainer
    static const QString text = QCoreApplication::translate(
        "Strings",
        "If you’re unable to open %@ because a collaborator forgot to submit changes, "
        "you can force unlock %@. "
        "Be aware that your collaborator will not be able to upload any changes. "
        "Only do this when there is no other way, and you understand the consequences.");
    return text;
}

QString Strings::upgradeWarningMessage()
{
    //: Update warning where %@1 appname, %@2 is installed app version, %@3 is appname, %@4 document version number
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Your %@ version is too new. "
        "Opening it will trigger a non-backwards compatible upgrade.\n\n"
        "Either continue, and have your collaborators upgrade to %@, or downgrade %@ to %@.");
    return text;
}

QString Strings::saveYourWorkTitle()
{
    //: Save your work title
    static const QString text = QCoreApplication::translate("Strings", "Save your work");
    return text;
}

QString Strings::describeChangesPlaceholder()
{
    //: Describe you changes
    static const QString text = QCoreApplication::translate("Strings", "Describe your changes");
    return text;
}

QString Strings::saveChangesButtonTitle()
{
    //: Save your changes
    static const QString text = QCoreApplication::translate("Strings", "Save Changes");
    return text;
}

QString Strings::newCollectionTitle()
{
    //: Create a new collection title
    static const QString text = QCoreApplication::translate("Strings", "New Collection");
    return text;
}

QString Strings::createCollectionButtonTitle()
{
    //: Create collection button title
    static const QString text = QCoreApplication::translate("Strings", "Create Collection");
    return text;
}

QString Strings::collectionNamePlaceholder()
{
    //: Placeholder for collection name
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Enter a name for your Collection.");
    return text;
}

QString Strings::renameItemTitle()
{
    //: Rename an item. %1$ is the item type.
    static const QString text = QCoreApplication::translate("Strings", "Rename %@");
    return text;
}

QString Strings::renameItemPlaceholder()
{
    //: Action name to rename an item. %1$ is the renamed item type
    static const QString text = QCoreApplication::translate("Strings", "Enter a new name %@ name");
    return text;
}

QString Strings::collectionsTitle()
{
    //: Collections list title
    static const QString text = QCoreApplication::translate("Strings", "Collections");
    return text;
}

QString Strings::documentsTitle()
{
    //: Multiple documents
    static const QString text = QCoreApplication::translate("Strings", "Documents");
    return text;
}

QString Strings::activityTitle()
{
    //: Activities title
    static const QString text = QCoreApplication::translate("Strings", "Activity");
    return text;
}

QString Strings::eventActivityTitle()
{
    //: Event activities
    static const QString text = QCoreApplication::translate("Strings", "Event Activity");
    return text;
}

QString Strings::editedDate()
{
    //: Indicates when an item has last been modified. %1$@ is the date the item was last edited
    static const QString text = QCoreApplication::translate("Strings", "Edited %@");
    return text;
}

QString Strings::librariesTitle()
{
    //: libraries amount indicator
    static const QString text = QCoreApplication::translate("Strings", "Libraries");
    return text;
}

QString Strings::eventsTitle()
{
    //: multiple events
    static const QString text = QCoreApplication::translate("Strings", "Events");
    return text;
}

QString Strings::projectsTitle()
{
    //: multiple projects
    static const QString text = QCoreApplication::translate("Strings", "Projects");
    return text;
}

QString Strings::otherTitle()
{
    //: Category title for unsorted items
    static const QString text = QCoreApplication::translate("Strings", "Other");
    return text;
}

QString Strings::usedInTitle()
{
    //: An item is used by another item
    static const QString text = QCoreApplication::translate("Strings", "Used in");
    return text;
}

QString Strings::usedInList()
{
    //: An item is used by other items. %1$@ is the list of items used in
    static const QString text = QCoreApplication::translate("Strings", "Used in: %@");
    return text;
}

QString Strings::usedInCount()
{
    //: Used in a number of items. %1$d is the number of items. %2$@ is the items description
    static const QString text = QCoreApplication::translate("Strings", "In %d %@");
    return text;
}

QString Strings::multipleItems()
{
    //: adding multiple items
    static const QString text = QCoreApplication::translate("Strings", "multiple items");
    return text;
}

QString Strings::selectedTitle()
{
    //: Multiple items selected
    static const QString text = QCoreApplication::translate("Strings", "Selected");
    return text;
}

QString Strings::nothingFound()
{
    //: search entry did give have results
    static const QString text = QCoreApplication::translate("Strings", "Nothing found");
    return text;
}

QString Strings::nothingSelected()
{
    //: no selection from a list
    static const QString text = QCoreApplication::translate("Strings", "Nothing selected");
    return text;
}

QString Strings::notInUse()
{
    //: Item not in use in container item
    static const QString text = QCoreApplication::translate("Strings", "Not in use");
    return text;
}

QString Strings::itemCountOne()
{
    //: Gingle item. %1$d is the number 1
    static const QString text = QCoreApplication::translate("Strings", "%d Item");
    return text;
}

QString Strings::itemCountOther()
{
    //: Multiple items. %1$d is the number of items
    static const QString text = QCoreApplication::translate("Strings", "%d Items");
    return text;
}

QString Strings::trashTitle()
{
    //: The trash bin
    static const QString text = QCoreApplication::translate("Strings", "Trash");
    return text;
}

QString Strings::openTrashActionTitle()
{
    //: Action title. Open the trash view
    static const QString text = QCoreApplication::translate("Strings", "Open Trash");
    return text;
}

QString Strings::emptyTitle()
{
    //: Nothing inside.
    static const QString text = QCoreApplication::translate("Strings", "Empty");
    return text;
}

QString Strings::permanentDeleteMessage()
{
    //: Warning message for permanently deleting items. %1$@ is the description of the deleted items
    static const QString text = QCoreApplication::translate(
        "Strings",
        "%@ will be permenently deleted. Vantrel cannot revert this action.");
    return text;
}

QString Strings::untrackedDocumentTitle()
{
    //: Untracked document title
    static const QString text = QCoreApplication::translate("Strings", "Untracked Document");
    return text;
}

QString Strings::untrackedDocumentExplainer()
{
    //: UntrackedDocument explainer
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Someone else beat you to opening this document first!\n\n"
        "Any changes you make will not be saved, unless you import this document as a new one.");
    return text;
}

QString Strings::forceUnlockedDocumentExplainer()
{
    //: Force unlocked document explainer
    static const QString text = QCoreApplication::translate(
        "Strings",
        "%@ force unlocked this document!\n\n"
        "Any changes you make will not be saved, unless you import this document as a new one.");
    return text;
}

QString Strings::filterPlaceholder()
{
    //: Filter placeholder
    static const QString text = QCoreApplication::translate("Strings", "Filter");
    return text;
}

QString Strings::ascendingTitle()
{
    //: Increasing order
    static const QString text = QCoreApplication::translate("Strings", "Ascending");
    return text;
}

QString Strings::descendingTitle()
{
    //: Decreasing order
    static const QString text = QCoreApplication::translate("Strings", "Descending");
    return text;
}

QString Strings::alphabeticalSortingTitle()
{
    //: Alphabetical sorting title
    static const QString text = QCoreApplication::translate("Strings", "Alphabetical sorting");
    return text;
}

QString Strings::showAllActionTitle()
{
    //: Show All items
    static const QString text = QCoreApplication::translate("Strings", "Show All");
    return text;
}

QString Strings::showTrashActionTitle()
{
    //: Show Trashed items
    static const QString text = QCoreApplication::translate("Strings", "Show Trash");
    return text;
}

QString Strings::openTeamBundleActionTitle()
{
    //: Action title. Open a Vantrel Team Bundle
    static const QString text = QCoreApplication::translate("Strings", "Open Team Bundle");
    return text;
}

QString Strings::createNewTeamActionTitle()
{
    //: Action title. Create a new Vantrel Team
    static const QString text = QCoreApplication::translate("Strings", "Create New Team");
    return text;
}

QString Strings::chooseLocationButtonTitle()
{
    //: Choose a Location for the Team Bundle
    static const QString text = QCoreApplication::translate("Strings", "Choose Location");
    return text;
}

QString Strings::showTeamBundleInFinderActionTitle()
{
    //: Show the current Team Bundle in finder
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Show Team Bundle in Finder");
    return text;
}

QString Strings::teamBundleNamePlaceholder()
{
    //: Supply a team bundle name
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Enter a name for your Team Bundle");
    return text;
}

QString Strings::teamBundleNameMessage()
{
    //: Message when creating a Vantrel bundle name
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Enter a name and pick a location. Choose a shared\n"
        "location if you’d like to collaborate with more people\n"
        "and let them open the same Team Bundle.");
    return text;
}

QString Strings::aboutActionTitle()
{
    //: About %@1 is appName
    static const QString text = QCoreApplication::translate("Strings", "About %@");
    return text;
}

QString Strings::checkForUpdatesActionTitle()
{
    //: Check for updates menu item title
    static const QString text = QCoreApplication::translate("Strings", "Check for updates");
    return text;
}

QString Strings::sendFeedbackActionTitle()
{
    //: Motivate the user to send beta build feedback
    static const QString text = QCoreApplication::translate("Strings", "Send Feedback");
    return text;
}

QString Strings::betaPrefix()
{
    //: A prefix to indicate a beta build
    static const QString text = QCoreApplication::translate("Strings", "Beta - ");
    return text;
}

QString Strings::collectLogsActionTitle()
{
    //: Collect Logs for support
    static const QString text = QCoreApplication::translate("Strings", "Collect Logs for support");
    return text;
}

QString Strings::sendButtonTitle()
{
    //: Send button title
    static const QString text = QCoreApplication::translate("Strings", "Send");
    return text;
}

QString Strings::dontSendButtonTitle()
{
    //: Don't send button title
    static const QString text = QCoreApplication::translate("Strings", "Don't Send");
    return text;
}

QString Strings::crashReportMessage()
{
    //: Crash report message description
    static const QString text = QCoreApplication::translate(
        "Strings",
        "A report has been created, and is ready to be sent to Vantrel Support. "
        "We'll get back to you as soon as possible!");
    return text;
}

QString Strings::errorTitle()
{
    //: Something went wrong.
    static const QString text = QCoreApplication::translate("Strings", "Error");
    return text;
}

QString Strings::unexpectedErrorTitle()
{
    //: Something unexpected happened title
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Something unexpected happened.");
    return text;
}

QString Strings::maximumReachedMessage()
{
    //: The limit is reached for a finite collection. %1$@ is the type of document
    static const QString text = QCoreApplication::translate("Strings", "Maximum reached for %@");
    return text;
}

QString Strings::checkoutError()
{
    //: An error occurred during checkout
    static const QString text = QCoreApplication::translate(
        "Strings",
        "An error occurred during checkout.");
    return text;
}

QString Strings::cancelError()
{
    //: An error occurred during cancel
    static const QString text = QCoreApplication::translate(
        "Strings",
        "An error occurred during cancel.");
    return text;
}

QString Strings::checkInError()
{
    //: An error occurred during checking in
    static const QString text = QCoreApplication::translate(
        "Strings",
        "An error occurred during checking in.");
    return text;
}

QString Strings::exportError()
{
    //: An error occurred while exporting
    static const QString text = QCoreApplication::translate(
        "Strings",
        "An error occurred while exporting.");
    return text;
}

QString Strings::createCopyError()
{
    //: An error occurred while creating a copy
    static const QString text = QCoreApplication::translate(
        "Strings",
        "An error occurred while creating a copy.");
    return text;
}

QString Strings::viewUpdateError()
{
    //: An error occurred while updating the views
    static const QString text = QCoreApplication::translate(
        "Strings",
        "An error occurred while updating the views.");
    return text;
}

QString Strings::invalidNameMessage()
{
    //: These characters are not allowed in a name
    static const QString text = QCoreApplication::translate(
        "Strings",
        "The name contains invalid characters.");
    return text;
}

QString Strings::invalidTeamNameTitle()
{
    //: Title of the alert shown when the name of a new team can't be used
    static const QString text = QCoreApplication::translate("Strings", "Invalid Team Name");
    return text;
}

QString Strings::invalidTeamNameMessage()
{
    //: A new team's name becomes the name of its folder. %@ lists the characters it must not contain
    static const QString text = QCoreApplication::translate(
        "Strings",
        "A team’s name becomes the name of its folder, so it can’t be empty, “.” or “..”, and can’t "
        "contain line breaks, control characters or any of these characters: %@");
    return text;
}

QString Strings::documentBusy()
{
    //: A check-out, check-in or discard asked for while another one still runs on the document. %@ is the document's name
    static const QString text = QCoreApplication::translate(
        "Strings",
        "Another operation is still running on %@. Try again when it has finished.");
    return text;
}

QString Strings::helpMenuTitle()
{
    //: The title of the Help menu
    static const QString text = QCoreApplication::translate("Strings", "Help");
    return text;
}

} // namespace vantrel
