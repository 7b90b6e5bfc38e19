#pragma once

// Every operation a user starts on an item goes through one of these actions. An action holds
// only the window's callbacks it needs; calling it shows the toolbar progress, awaits the work
// through the item models, performs its follow-up (opening a file, moving the focus) and turns
// every failure into an alert. Actions never throw to their caller.

#include "actions/confirmation_dialogs.h"
#include "actions/indexing_options.h"
#include "actions/sheets.h"
#include "actions/toolbar_progress.h"
#include "engine/version_bundle.h"
#include "foundation/error.h"
#include "foundation/task_starter.h"
#include "model/collection.h"
#include "model/content_view_focus.h"

#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace vantrel {

// What the export and temporary-copy actions report in place of the engine's error.
class InitiatingItemError : public Error {
public:
    enum class Case { checkoutFailed, cancelCheckoutFailed, checkInFailed, exportFailed, buildCopyFailed };

    explicit InitiatingItemError(Case which);
    Case kind() const { return m_case; }

    friend bool operator==(const InitiatingItemError& a, const InitiatingItemError& b) { return a.m_case == b.m_case; }

protected:
    QString typeName() const override;

private:
    Case m_case;
};

inline size_t qHash(const InitiatingItemError& error, size_t seed = 0)
{
    return ::qHash(static_cast<int>(error.kind()), seed);
}

// The window's callbacks, as the actions hold them. All but VersionBundlesIndexer and AtticURL
// are called on the interface thread.
namespace item_action {
// Opens a file or folder with the desktop; fails (LaunchError) when nothing opened it.
using OpenURL = std::function<QCoro::Task<>(const QUrl&)>;
// Asks for a file or folder of the given types (see FileImporter::allowedContentTypes()); the
// handler gets the choice and is not called when the user cancels.
using SelectURL = std::function<void(const QStringList& allowedContentTypes, std::function<void(const QUrl&)> handler)>;
using ShowSheet = std::function<void(SheetModel::Sheet)>;
using ShowProgress = std::function<void(ToolbarProgressIndicator::State)>;
using ShowConfirmation = std::function<void(ConfirmationDialog)>;
using ShowError = std::function<void(const Error&)>;
// Shows an alert with buttons of its own (and logs it like a failure).
using ShowAlert = std::function<void(AlertDetails)>;
using Focus = std::function<void(ContentViewFocus)>;
using CreateCollection = std::function<QCoro::Task<>(QString)>;
using DeleteCollection = std::function<QCoro::Task<>(std::shared_ptr<Collection>)>;
// The index of the open team bundle; may throw.
using VersionBundlesIndexer = std::function<VersionBundlesIndex(IndexingOptions)>;
// A folder showing the attic of a bundle; may fail. Copies kept there can be large, so it is
// prepared off the interface thread.
using AtticURL = std::function<QCoro::Task<QUrl>(IdFor<VersionBundle>)>;
} // namespace item_action

// Opens a temporary, untracked copy of a version of a document.
struct OpenItemCopyAction {
    item_action::OpenURL openURL;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;

    // Builds the copy (of the current version when none is given) and opens it. The caller
    // runs it in a task, with reportFailure() and hideProgress().
    QCoro::Task<> operator()(std::shared_ptr<Document> document, std::optional<IdFor<Versions>> version) const;
    void reportFailure() const;
    void hideProgress() const;
};

// Checks a document out and opens the working copy; the focus moves to the check-in view.
struct CheckOutItemAction {
    item_action::OpenURL openURL;
    item_action::ShowProgress showProgress;
    item_action::ShowConfirmation showConfirmation;
    item_action::ShowError showError;
    item_action::Focus focus;
    // Asks whether to go on when the check-out would replace a working copy an application still
    // has open; without it, that refusal is shown like any other failure.
    item_action::ShowAlert showAlert;

    void operator()(const std::shared_ptr<Document>& document) const;
    // The check-out itself, for callers that run their own task.
    QCoro::Task<> checkOut(std::shared_ptr<Document> document) const;
    void report(const Error& error) const;
    // As report(), except that a check-out refused because an application still has the working
    // copy it would replace open asks whether to open anyway; that answer checks `document` out
    // again, in a task of its own.
    void report(const Error& error, const std::shared_ptr<Document>& document) const;
    void hideProgress() const;
    // The end of a check-out task: as hideProgress(), except while another operation still runs
    // on `document` (the request was a second click, left alone): that one's progress stays.
    void hideProgress(const std::shared_ptr<Document>& document) const;
};

// Takes the lock of a document from whoever holds it, then as a check-out.
struct ForceUnlockItemAction {
    item_action::OpenURL openURL;
    item_action::ShowConfirmation showConfirmation;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;
    item_action::Focus focus;
    item_action::ShowAlert showAlert; // as for a check-out

    void operator()(const std::shared_ptr<Document>& document) const;
};

// Checks a document in with its commit message; the focus moves to the document list. The
// check-in view runs it in a task, with report() and hideProgress().
struct CheckInItemAction {
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;
    item_action::Focus focus;
    // Asks whether to go on while an application still has the working copy open; without it,
    // that refusal is shown like any other failure.
    item_action::ShowAlert showAlert;

    QCoro::Task<> operator()(std::shared_ptr<Document> document,
                             WorkingCopyInUse inUse = WorkingCopyInUse::refuse) const;
    void report(const Error& error) const;
    // As report(), except that a check-in refused because an application still has the working
    // copy open asks whether to check in anyway; that answer checks `document` in again, in a
    // task of its own.
    void report(const Error& error, const std::shared_ptr<Document>& document) const;
    void hideProgress() const;
};

// Gives up the check-out of a document; the focus moves to the document list. Refused because
// an application still has the working copy open, it asks whether to discard anyway.
struct DiscardItemChangesAction {
    item_action::ShowConfirmation showConfirmation;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;
    item_action::Focus focus;
    item_action::ShowAlert showAlert;

    void operator()(const std::shared_ptr<Document>& document, WorkingCopyInUse inUse = WorkingCopyInUse::refuse) const;
};

// Makes an earlier version of an item the current one (after the caller's confirmation).
struct RevertItemAction {
    item_action::OpenURL openURL;
    item_action::ShowProgress showProgress;
    item_action::ShowConfirmation showConfirmation;
    item_action::ShowError showError;

    void operator()(const std::shared_ptr<VersionedItem>& item, const IdFor<Versions>& version) const;
};

// Writes a version of an item into a folder the user chooses, then opens the folder.
struct ExportItemAction {
    item_action::OpenURL openURL;
    item_action::SelectURL selectURL;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;

    void operator()(const std::shared_ptr<VersionedItem>& item, std::optional<IdFor<Versions>> version) const;
    void exportTo(const std::shared_ptr<VersionedItem>& item, std::optional<IdFor<Versions>> version,
                  const QUrl& folder) const;
};

// The failure and progress entries of the new-library flow.
struct NewFinalCutLibraryAction {
    item_action::ShowSheet showSheet;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;

    void report(const Error& error) const;
    void hideProgress() const;
};

// The failure and progress entries of the new-event flow.
struct NewFinalCutEventAction {
    item_action::ShowSheet showSheet;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;

    void report(const Error& error) const;
    void hideProgress() const;
};

// Adds existing bundles to a container through the add-existing picker.
struct AddExistingItemAction {
    item_action::ShowSheet showSheet;
    item_action::ShowError showError;
    item_action::VersionBundlesIndexer versionBundlesIndex;
};

// Imports a file the user chooses as a new item of a container.
struct ImportItemFromFileAction {
    item_action::SelectURL selectURL;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;

    template<typename Container>
    void operator()(const std::shared_ptr<Container>& container) const;
    template<typename Container>
    void importFile(const QUrl& url, const std::shared_ptr<Container>& container) const;
    void hideProgress() const;

private:
    void ask(const DocumentType& containerType, std::function<void(const QUrl&)> handler) const;
    void run(TaskOperation import) const;
};

// Opens the attic folder of a document, without progress.
struct OpenItemInAtticAction {
    item_action::OpenURL openURL;
    item_action::ShowError showError;
    item_action::AtticURL atticURL;

    void operator()(const std::shared_ptr<Document>& document) const;
};

// Takes a document or an event out of a container: removed from it when another container uses
// it too, moved to the trash otherwise.
struct RemoveOrDeleteItemAction {
    item_action::ShowConfirmation showConfirmation;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;

    // Asks the question that fits where `item` is used, and on confirmation carries it out.
    void operator()(const std::shared_ptr<NestableItem>& item, const std::shared_ptr<VersionedItem>& container) const;
    void confirmRemove(std::shared_ptr<VersionedItem> item, std::shared_ptr<VersionedItem> container,
                       std::function<void()> remove) const;
    void confirmDelete(std::shared_ptr<VersionedItem> item, std::shared_ptr<VersionedItem> container,
                       std::function<void()> remove) const;
    void report(const Error& error) const;
    void hideProgress() const;
};

// Creates a collection with the name the user gives.
struct CreateCollectionAction {
    item_action::ShowSheet showSheet;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;
    item_action::CreateCollection createCollection;

    void operator()() const;
    void create(const QString& name) const;
};

// Moves a collection to the trash (after the caller's confirmation), then runs `then`.
struct DeleteCollectionAction {
    item_action::ShowConfirmation showConfirmation;
    item_action::ShowError showError;
    item_action::DeleteCollection deleteCollection;

    void operator()(const std::shared_ptr<Collection>& collection, std::function<void()> then) const;
};

// Renames an item to the name the user gives.
struct RenameItemAction {
    item_action::ShowSheet showSheet;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;

    void operator()(const std::shared_ptr<VersionedItem>& item) const;
    void rename(const std::shared_ptr<VersionedItem>& item, const QString& newName) const;
};

// The actions of one window, each built from the window's callbacks when first asked for.
class ItemActions {
public:
    ItemActions(item_action::OpenURL openURL, item_action::SelectURL selectURL, item_action::ShowSheet showSheet,
                item_action::ShowProgress showProgress, item_action::ShowConfirmation showConfirmation,
                item_action::ShowError showError, item_action::Focus focus,
                item_action::CreateCollection createCollection, item_action::DeleteCollection deleteCollection,
                item_action::VersionBundlesIndexer versionBundlesIndex, item_action::AtticURL atticURL,
                item_action::ShowAlert showAlert = {});

    // What views get when they are shown outside a window: nothing they ask for happens, and
    // asking for an index or an attic fails.
    static const ItemActions& placeholder();

    const OpenItemCopyAction& openCopy();
    const CheckOutItemAction& checkOut();
    const ForceUnlockItemAction& forceUnlock();
    const CheckInItemAction& checkIn();
    const DiscardItemChangesAction& discardChanges();
    const RevertItemAction& revert();
    const ExportItemAction& exportVersion();
    const NewFinalCutLibraryAction& newFinalCutLibrary();
    const NewFinalCutEventAction& newFinalCutEvent();
    const AddExistingItemAction& addExistingItem();
    const ImportItemFromFileAction& importItemFromFile();
    const OpenItemInAtticAction& openInAttic();
    const RemoveOrDeleteItemAction& removeOrDelete();
    const CreateCollectionAction& createCollection();
    const DeleteCollectionAction& deleteCollection();
    const RenameItemAction& rename();

private:
    item_action::OpenURL m_openURL;
    item_action::SelectURL m_selectURL;
    item_action::ShowSheet m_showSheet;
    item_action::ShowProgress m_showProgress;
    item_action::ShowConfirmation m_showConfirmation;
    item_action::ShowError m_showError;
    item_action::Focus m_focus;
    item_action::VersionBundlesIndexer m_versionBundlesIndex;
    item_action::AtticURL m_atticURL;
    item_action::ShowAlert m_showAlert;
    item_action::CreateCollection m_createCollection;
    item_action::DeleteCollection m_deleteCollection;

    std::optional<OpenItemCopyAction> m_openCopy;
    std::optional<CheckOutItemAction> m_checkOut;
    std::optional<ForceUnlockItemAction> m_forceUnlock;
    std::optional<CheckInItemAction> m_checkIn;
    std::optional<DiscardItemChangesAction> m_discardChanges;
    std::optional<RevertItemAction> m_revert;
    std::optional<ExportItemAction> m_export;
    std::optional<NewFinalCutLibraryAction> m_newFinalCutLibrary;
    std::optional<NewFinalCutEventAction> m_newFinalCutEvent;
    std::optional<AddExistingItemAction> m_addExistingItem;
    std::optional<ImportItemFromFileAction> m_importItemFromFile;
    std::optional<OpenItemInAtticAction> m_openInAttic;
    std::optional<RemoveOrDeleteItemAction> m_removeOrDelete;
    std::optional<CreateCollectionAction> m_createCollectionAction;
    std::optional<DeleteCollectionAction> m_deleteCollectionAction;
    std::optional<RenameItemAction> m_rename;
};

// The types the file dialog offers for importing into a container of `containerType`.
QStringList importContentTypes(const DocumentType& containerType);

template<typename Container>
void ImportItemFromFileAction::operator()(const std::shared_ptr<Container>& container) const
{
    const std::weak_ptr<Container> weak = container;
    const auto action = *this;
    ask(container->documentType(), [action, weak](const QUrl& url) {
        if (const auto container = weak.lock())
            action.importFile(url, container);
    });
}

template<typename Container>
void ImportItemFromFileAction::importFile(const QUrl& url, const std::shared_ptr<Container>& container) const
{
    // The container is held for the life of the import.
    const QString path = url.toLocalFile();
    run([container, path] { return container->createNestedItem(path); });
}

} // namespace vantrel
