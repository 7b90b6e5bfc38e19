#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace vantrel {

// Every text the application shows. Each text is looked up through Qt's translation system
// under the context "Strings", keyed by its English text, every time it is asked for, so a
// translator installed or removed at any time is followed. A text without a translation is its
// English key.
//
// Texts with placeholders return the localized, still unfilled format; callers fill it with
// formatText(). The comment after such an accessor names its arguments in order.
class Strings final {
public:
    Strings() = delete;

    // The format for `count` items: `zero` for 0, `one` for 1 and -1, `other` for any other
    // count, filled with the count as its only argument. The formats are already localized.
    static QString plural(const QString& zero, const QString& one, const QString& other, qint64 count);

    // Texts built around the description of a document type. The library texts fill a localized
    // format; the event texts are looked up under the joined English text ("New " + description,
    // "Enter a name for a new " + short description + ".", "Create " + short description).
    static QString newLibraryNamePlaceholder(const QString& libraryTypeDescription);
    static QString newLibraryActionTitle(const QString& libraryTypeDescription);
    static QString newEventActionTitle(const QString& eventTypeDescription);
    static QString newEventNamePlaceholder(const QString& eventTypeShortDescription);
    static QString newEventCreateButton(const QString& eventTypeShortDescription);

    // Welcome window
    static QString welcomeTitle();
    static QString welcomeBack();
    static QString welcomeExplainer();
    static QString noCollectionsOrDocuments();
    static QString createFirstCollectionButtonTitle();

    // Team window: quitting, closing and unsaved changes
    static QString quitActionTitle();
    static QString quitConfirmationTitle();
    static QString closeActionTitle();
    static QString closeConfirmationTitle();
    static QString cancelActionTitle();
    static QString unsavedChangesOne();
    static QString unsavedChangesOther(); // %d number of unsaved items
    static QString teamBundleUnreachable();

    // Progress messages
    static QString importingProgress();
    static QString exportingProgress();
    static QString revertingProgress();
    static QString discardingChangesProgress();
    static QString creatingCollectionProgress(); // %@ collection name
    static QString creatingLibraryProgress();    // %@ library short description, %@ library name
    static QString removingProgress();           // %@ item name
    static QString movingToTrashProgress();      // %@ item name
    static QString restoringProgress();          // %@ item name
    static QString openingProgress();            // %@ item name
    static QString checkingInProgress();         // %@ item name
    static QString renamingProgress();           // %@ old name, %@ new name
    static QString addingProgress();             // %@ item name

    // Item actions
    static QString copyLinkActionTitle();
    static QString discardChangesTitle();
    static QString removeFromActionTitle(); // %@ container name
    static QString deleteActionTitle();
    static QString deleteItemsActionTitle(); // %@ amount of items
    static QString moveToTrashActionTitle();
    static QString renameActionTitle();
    static QString restoreActionTitle();
    static QString addDocumentActionTitle();
    static QString openTemporaryCopyActionTitle();
    static QString openActionTitle();           // %@ item name
    static QString exportDocumentActionTitle(); // %@ document description
    static QString exportActionTitle();
    static QString addEventActionTitle();
    static QString addToCollectionActionTitle();
    static QString addToDocumentActionTitle();
    static QString addExistingActionTitle();
    static QString importActionTitle();
    static QString openAtticActionTitle();

    // Buttons of alerts and sheets
    static QString revertButtonTitle();
    static QString discardButtonTitle();
    static QString yesButtonTitle();
    static QString okButtonTitle();
    static QString forceUnlockButtonTitle();
    static QString continueButtonTitle();
    static QString addButtonTitle();

    // Confirmations and warnings
    static QString upgradeAlertTitle();
    static QString revertConfirmationMessage();      // %@ item name
    static QString moveToTrashConfirmationMessage(); // %@ item name
    static QString removeConfirmationMessage();      // %@ item name, %@ container name
    static QString areYouSureTitle();
    static QString forceUnlockConfirmationTitle(); // %@ document name
    static QString discardChangesMessage();        // %@ item name
    static QString forceUnlockExplainer();         // %@ document name, %@ document name
    // %@ app name, %@ installed version, %@ app name, %@ document version
    static QString upgradeWarningMessage();

    // Saving changes
    static QString saveYourWorkTitle();
    static QString describeChangesPlaceholder();
    static QString saveChangesButtonTitle();

    // Naming sheets
    static QString newCollectionTitle();
    static QString createCollectionButtonTitle();
    static QString collectionNamePlaceholder();
    static QString renameItemTitle();       // %@ item type
    static QString renameItemPlaceholder(); // %@ item type

    // Lists, categories and item details
    static QString collectionsTitle();
    static QString documentsTitle();
    static QString activityTitle();
    static QString eventActivityTitle();
    static QString editedDate(); // %@ date of the last edit
    static QString librariesTitle();
    static QString eventsTitle();
    static QString projectsTitle();
    static QString otherTitle();
    static QString usedInTitle();
    static QString usedInList();  // %@ list of items
    static QString usedInCount(); // %d number of items, %@ items description
    static QString multipleItems();
    static QString selectedTitle();
    static QString nothingFound();
    static QString nothingSelected();
    static QString notInUse();
    static QString itemCountOne();   // %d number of items
    static QString itemCountOther(); // %d number of items

    // Trash
    static QString trashTitle();
    static QString openTrashActionTitle();
    static QString emptyTitle();
    static QString permanentDeleteMessage(); // %@ description of the deleted items

    // Untracked and force-unlocked documents
    static QString untrackedDocumentTitle();
    static QString untrackedDocumentExplainer();
    static QString forceUnlockedDocumentExplainer(); // %@ name of who force unlocked

    // Filtering and sorting
    static QString filterPlaceholder();
    static QString ascendingTitle();
    static QString descendingTitle();
    static QString alphabeticalSortingTitle();
    static QString showAllActionTitle();
    static QString showTrashActionTitle();

    // Team bundles
    static QString openTeamBundleActionTitle();
    static QString createNewTeamActionTitle();
    static QString chooseLocationButtonTitle();
    static QString showTeamBundleInFinderActionTitle();
    static QString teamBundleNamePlaceholder();
    static QString teamBundleNameMessage();

    // File dialogs: their titles and the names of their filters
    static QString newTeamBundleLocationDialogTitle();
    static QString exportDestinationDialogTitle();
    static QString importDocumentDialogTitle();
    static QString teamBundlesFilterName();
    static QString allFilesFilterName();
    static QString allSupportedFilterName();
    static QString noDocumentsFilterName();
    static QString filesOfExtensionFilterName(); // %@ the extension in capitals
    static QString chooseOnlyOneTitle();
    static QString chooseOnlyOneMessage(const QStringList& names);
    // The name of a document type, looked up under its English description.
    static QString documentTypeName(const QString& typeDescription);

    // Onboarding
    static QString getStartedButtonTitle();
    static QString nextButtonTitle();
    static QString skipOnboardingButtonTitle();
    static QString openExistingTeamBundleButtonTitle();
    static QString createNewTeamButtonTitle();

    // Application menu
    static QString aboutActionTitle(); // %@ app name
    static QString checkForUpdatesActionTitle();
    static QString sendFeedbackActionTitle();
    static QString betaPrefix();
    static QString oneUpdateAvailable();
    static QString updatesAvailable(); // %u number of updates
    static QString collectLogsActionTitle();
    static QString fileMenuTitle();
    static QString helpMenuTitle();

    // Crash reports
    static QString sendButtonTitle();
    static QString dontSendButtonTitle();
    static QString crashReportMessage();

    // Errors
    static QString errorTitle();
    static QString unexpectedErrorTitle();
    static QString maximumReachedMessage(); // %@ document type
    static QString checkoutError();
    static QString cancelError();
    static QString checkInError();
    static QString exportError();
    static QString createCopyError();
    static QString viewUpdateError();
    static QString documentBusy(); // %@ document name
    // A check-out whose application did not open the working copy.
    static QString documentNotOpenedTitle();
    static QString openFailedKeptCheckedOut(); // %@ document name, %@ what went wrong
    static QString invalidNameMessage();
    // Refusing the name of a new team, which becomes a folder name.
    static QString invalidTeamNameTitle();
    static QString invalidTeamNameMessage(); // %@ the characters a team name must not contain

    // A working copy still open in an application when it is checked in, discarded or replaced
    static QString workingCopyInUseTitle();       // %@ application names
    static QString checkInWhileInUseMessage();    // %1$@ item name, %2$@ application names
    static QString discardWhileInUseMessage();    // %1$@ item name, %2$@ application names
    static QString checkInAnywayButtonTitle();
    static QString discardAnywayButtonTitle();
    static QString openWhileInUseMessage();       // %1$@ item name, %2$@ application names
    static QString openAnywayButtonTitle();
    // A working copy changed, or open in an application, while it was checked in
    static QString changedWhileCheckingInTitle();
    static QString changedWhileCheckingInMessage(); // %@ item name
    static QString changedWhileCheckingInNotKeptTitle();
    static QString changedWhileCheckingInNotKeptMessage(); // %1$@ item name, %2$@ folder

    // Onboarding pages (the Collections page's title is a plain "Collections", never translated)
    static QString welcomeToMessage();
    static QString welcomeOnboardingMessage();
    static QString collectionsOnboardingMessage();
    static QString documentsOnboardingTitle();
    static QString documentsOnboardingMessage();
    static QString eventLockingOnboardingTitle();
    static QString eventLockingOnboardingMessage();
    static QString teamsOnboardingTitle();
    static QString teamsOnboardingMessage();

    // Menu bar
    static QString showTeamBundleInFileManagerActionTitle();
    static QString goMenuTitle();
    static QString viewMenuTitle();
    static QString hideSidebarActionTitle();
    static QString showSidebarActionTitle();
    static QString backActionTitle();
    static QString forwardActionTitle();
    static QString homeActionTitle();
    static QString collectingLogsProgress();
    static QString collectLogsFailedTitle();
    static QString debugMenuTitle();
    static QString testCrashActionTitle();

    // The button row of a selected document
    static QString documentLockedHelp(); // %@ user holding the lock, %@ that user's machine
    static QString installToOpenHelp();  // %@ application name
    static QString opensInHelp();        // %@ application name
    static QString noApplicationForKindHelp(); // %@ the desktop's name of the kind of file

    // Item headers, summary labels and the trash table
    static QString nameColumnTitle();
    static QString typeColumnTitle();
    static QString lastModifiedColumnTitle();

    // Relative dates (relativeDescription); the counted ones take %d, the count
    static QString relativeNow();
    static QString relativeYesterday();
    static QString relativeTomorrow();
    static QString relativeLastWeek();
    static QString relativeNextWeek();
    static QString relativeLastMonth();
    static QString relativeNextMonth();
    static QString relativeLastYear();
    static QString relativeNextYear();
    static QString secondAgo();  // %d count
    static QString secondsAgo(); // %d count
    static QString inSecond();   // %d count
    static QString inSeconds();  // %d count
    static QString minuteAgo();  // %d count
    static QString minutesAgo(); // %d count
    static QString inMinute();   // %d count
    static QString inMinutes();  // %d count
    static QString hourAgo();    // %d count
    static QString hoursAgo();   // %d count
    static QString inHour();     // %d count
    static QString inHours();    // %d count
    static QString dayAgo();     // %d count
    static QString daysAgo();    // %d count
    static QString inDay();      // %d count
    static QString inDays();     // %d count
    static QString weekAgo();    // %d count
    static QString weeksAgo();   // %d count
    static QString inWeek();     // %d count
    static QString inWeeks();    // %d count
    static QString monthAgo();   // %d count
    static QString monthsAgo();  // %d count
    static QString inMonth();    // %d count
    static QString inMonths();   // %d count
    static QString yearAgo();    // %d count
    static QString yearsAgo();   // %d count
    static QString inYear();     // %d count
    static QString inYears();    // %d count
    // Activity timeline
    static QString createdNewVersion();
    static QString revertedToVersion();
    static QString changedDescription();
    static QString discardedChanges();
    static QString deletedDocument();
    static QString exportEllipsis();
};

} // namespace vantrel
