#include "actions/item_actions.h"

#include "actions/file_importer.h"
#include "actions/working_copy_in_use_alert.h"
#include "desktop/desktop_launch.h"
#include "engine/check_out_options.h"
#include "engine/team_bundle.h"
#include "model/document.h"
#include "model/strings.h"
#include "model/text_format.h"

namespace vantrel {

using State = ToolbarProgressIndicator::State;

namespace {

// The common shape of an action: `operation` in a task; on failure the progress goes idle, then
// the alert; the progress is idle at the end in every case.
void startAction(const item_action::ShowProgress& showProgress, const item_action::ShowError& showError,
                 TaskOperation operation)
{
    startTask(std::nullopt, std::move(operation), handleError([showProgress, showError](const Error& error) {
                  showProgress(State::idle());
                  showError(error);
              }),
              [showProgress] { showProgress(State::idle()); });
}

QUrl fileURL(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

// Opens what an action made; an application that did not open it is reported at once as it is
// (the work itself is done).
QCoro::Task<> openMade(item_action::OpenURL openURL, item_action::ShowError showError, QUrl url)
{
    try {
        co_await openURL(url);
    } catch (const LaunchError& failure) {
        showError(failure);
    }
}

// Check-out and force unlock. A document on which another locking operation still runs (a
// second click) is left alone: the first one opens the working copy. The check-out stands when
// its application does not open: the alert says so, and the check-in view offers to open it again
// or to discard.
QCoro::Task<> takeLock(item_action::OpenURL openURL, item_action::ShowProgress showProgress, item_action::Focus focus,
                       std::shared_ptr<Document> document, LockTakeover takeover, WorkingCopyInUse inUse)
{
    if (!document || document->isInitiating())
        co_return;
    showProgress(State::busy(formatText(Strings::openActionTitle(), {document->name()})));
    QString workingCopy;
    if (takeover == LockTakeover::forceUnlock)
        workingCopy = co_await document->forceUnlock(inUse);
    else
        workingCopy = co_await document->checkOut(inUse);
    QCoro::Task<> opening = openURL(fileURL(workingCopy));
    focus(ContentViewFocus::checkinView);
    try {
        co_await opening;
    } catch (const LaunchError& failure) {
        throw Error(formatText(Strings::openFailedKeptCheckedOut(), {document->name(), failure.localizedDescription()}),
                    Strings::documentNotOpenedTitle());
    }
}

// A request left alone because another operation runs on the document leaves that operation's
// progress showing; the operation's own end hides it.
void hideLockProgress(const item_action::ShowProgress& showProgress, const std::shared_ptr<Document>& document)
{
    if (document && document->isInitiating())
        return;
    showProgress(State::idle());
}

// Reports a failed check-out or force unlock; one refused because an application still has the
// working copy it would replace open asks whether to go on, and going on takes the lock again.
void reportTakingLock(const CheckOutItemAction& action, const Error& error, const std::weak_ptr<Document>& weak,
                      LockTakeover takeover);

void startTakingLock(const CheckOutItemAction& action, const std::shared_ptr<Document>& document, LockTakeover takeover,
                     WorkingCopyInUse inUse = WorkingCopyInUse::refuse)
{
    const std::weak_ptr<Document> weak = document;
    startTask(
        std::nullopt,
        [action, weak, takeover, inUse] {
            return takeLock(action.openURL, action.showProgress, action.focus, weak.lock(), takeover, inUse);
        },
        handleError([action, weak, takeover](const Error& error) { reportTakingLock(action, error, weak, takeover); }),
        [action, weak] { hideLockProgress(action.showProgress, weak.lock()); });
}

void reportTakingLock(const CheckOutItemAction& action, const Error& error, const std::weak_ptr<Document>& weak,
                      LockTakeover takeover)
{
    reportGivingUp(action.showError, action.showAlert, error, GivingUpWorkingCopy::replace, [action, weak, takeover] {
        if (const auto document = weak.lock())
            startTakingLock(action, document, takeover, WorkingCopyInUse::keepInAttic);
    });
}

QCoro::Task<> discard(item_action::ShowProgress showProgress, item_action::Focus focus,
                      std::shared_ptr<Document> document, WorkingCopyInUse inUse)
{
    if (document->isInitiating())
        co_return;
    showProgress(State::busy(Strings::discardingChangesProgress()));
    co_await document->cancelCheckout(inUse);
    focus(ContentViewFocus::documentList);
}

QCoro::Task<> revertItem(item_action::ShowProgress showProgress, std::weak_ptr<VersionedItem> weak,
                         IdFor<Versions> version)
{
    const auto item = weak.lock();
    if (!item)
        co_return;
    showProgress(State::busy(Strings::revertingProgress()));
    co_await item->revert(version);
}

QCoro::Task<> renameItem(item_action::ShowProgress showProgress, std::weak_ptr<VersionedItem> weak, QString newName)
{
    const auto item = weak.lock();
    if (!item)
        co_return;
    showProgress(State::busy(formatText(Strings::renamingProgress(), {item->name(), newName})));
    co_await item->rename(newName);
}

QCoro::Task<> exportItem(item_action::OpenURL openURL, item_action::ShowError showError,
                         item_action::ShowProgress showProgress, std::weak_ptr<VersionedItem> weak,
                         std::optional<IdFor<Versions>> version, QUrl folder)
{
    const auto item = weak.lock();
    if (!item)
        co_return;
    showProgress(State::busy(Strings::exportingProgress()));
    co_await item->exportVersion(version, folder.toLocalFile());
    co_await openMade(openURL, showError, folder);
}

QCoro::Task<> openAttic(item_action::OpenURL openURL, item_action::AtticURL atticURL, IdFor<VersionBundle> id)
{
    const QUrl attic = co_await atticURL(id);
    co_await openURL(attic);
}

QCoro::Task<> importInto(item_action::ShowProgress showProgress, TaskOperation import)
{
    showProgress(State::busy(Strings::importingProgress()));
    co_await import();
}

QCoro::Task<> removeFromContainer(item_action::ShowProgress showProgress, std::weak_ptr<VersionedItem> weakItem,
                                  std::weak_ptr<VersionedItem> weakContainer, bool usedElsewhere)
{
    const auto item = weakItem.lock();
    const auto container = weakContainer.lock();
    if (!item || !container)
        co_return;
    const QString format = usedElsewhere ? Strings::removingProgress() : Strings::movingToTrashProgress();
    showProgress(State::busy(formatText(format, {item->name()})));
    const auto service = item->versioningService();
    co_await service->removeOrDelete(container->versioningService(), &s3Factory);
}

QCoro::Task<> createCollection(item_action::ShowProgress showProgress, item_action::CreateCollection create,
                               QString name)
{
    showProgress(State::busy(formatText(Strings::creatingCollectionProgress(), {name})));
    co_await create(name);
}

// `then` runs after the deletion, also when it failed; the failure then goes on to the alert.
QCoro::Task<> deleteCollection(item_action::DeleteCollection remove, std::weak_ptr<Collection> weak,
                               std::function<void()> then)
{
    const auto collection = weak.lock();
    std::exception_ptr failure;
    if (collection) {
        try {
            co_await remove(collection);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (then)
        then();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

InitiatingItemError::InitiatingItemError(Case which)
    : Error([which] {
          switch (which) {
          case Case::checkoutFailed:
              return Strings::checkoutError();
          case Case::cancelCheckoutFailed:
              return Strings::cancelError();
          case Case::checkInFailed:
              return Strings::checkInError();
          case Case::exportFailed:
              return Strings::exportError();
          case Case::buildCopyFailed:
              return Strings::createCopyError();
          }
          return QString();
      }()),
      m_case(which)
{
}

QString InitiatingItemError::typeName() const
{
    return QStringLiteral("InitiatingItemError");
}

QCoro::Task<> OpenItemCopyAction::operator()(std::shared_ptr<Document> document,
                                             std::optional<IdFor<Versions>> version) const
{
    const auto openURL = this->openURL;
    const auto showError = this->showError;
    showProgress(State::busy(formatText(Strings::openingProgress(), {document->name()})));
    const auto service = document->versioningService();
    const QString copy = co_await service->buildCopy(version, std::nullopt, &s3Factory);
    co_await openMade(openURL, showError, fileURL(copy));
}

void OpenItemCopyAction::reportFailure() const
{
    showError(InitiatingItemError(InitiatingItemError::Case::buildCopyFailed));
}

void OpenItemCopyAction::hideProgress() const
{
    showProgress(State::idle());
}

void CheckOutItemAction::operator()(const std::shared_ptr<Document>& document) const
{
    startTakingLock(*this, document, LockTakeover::none);
}

QCoro::Task<> CheckOutItemAction::checkOut(std::shared_ptr<Document> document) const
{
    return takeLock(openURL, showProgress, focus, std::move(document), LockTakeover::none, WorkingCopyInUse::refuse);
}

void CheckOutItemAction::report(const Error& error) const
{
    showError(error);
}

void CheckOutItemAction::report(const Error& error, const std::shared_ptr<Document>& document) const
{
    reportTakingLock(*this, error, document, LockTakeover::none);
}

void CheckOutItemAction::hideProgress() const
{
    showProgress(State::idle());
}

void CheckOutItemAction::hideProgress(const std::shared_ptr<Document>& document) const
{
    hideLockProgress(showProgress, document);
}

void ForceUnlockItemAction::operator()(const std::shared_ptr<Document>& document) const
{
    startTakingLock(CheckOutItemAction{openURL, showProgress, showConfirmation, showError, focus, showAlert}, document,
                    LockTakeover::forceUnlock);
}

QCoro::Task<> CheckInItemAction::operator()(std::shared_ptr<Document> document, WorkingCopyInUse inUse) const
{
    // A second click while the check-in still runs is left alone.
    if (document->isInitiating())
        co_return;
    const auto focus = this->focus;
    showProgress(State::busy(formatText(Strings::checkingInProgress(), {document->name()})));
    const CheckInOutcome outcome = co_await document->checkIn(inUse);
    focus(ContentViewFocus::documentList);
    // Checked in all the same: only what was kept besides is told.
    if (outcome.keptLateChanges && showAlert)
        showAlert(AlertDetails(Strings::changedWhileCheckingInTitle(),
                               formatText(Strings::changedWhileCheckingInMessage(), {document->name()})));
}

void CheckInItemAction::report(const Error& error) const
{
    showError(error);
}

void CheckInItemAction::report(const Error& error, const std::shared_ptr<Document>& document) const
{
    const auto action = *this;
    const std::weak_ptr<Document> weak = document;
    reportGivingUp(showError, showAlert, error, GivingUpWorkingCopy::checkIn, [action, weak] {
        const auto document = weak.lock();
        if (!document)
            return;
        startTask(
            std::nullopt, [action, document] { return action(document, WorkingCopyInUse::keepInAttic); },
            handleError([action, document](const Error& error) { action.report(error, document); }),
            [action] { action.hideProgress(); });
    });
}

void CheckInItemAction::hideProgress() const
{
    showProgress(State::idle());
}

void DiscardItemChangesAction::operator()(const std::shared_ptr<Document>& document, WorkingCopyInUse inUse) const
{
    auto showProgress = this->showProgress;
    auto focus = this->focus;
    const auto action = *this;
    const std::weak_ptr<Document> weak = document;
    const auto report = [action, weak](const Error& error) {
        reportGivingUp(action.showError, action.showAlert, error, GivingUpWorkingCopy::discard, [action, weak] {
            if (const auto document = weak.lock())
                action(document, WorkingCopyInUse::keepInAttic);
        });
    };
    startAction(showProgress, report,
                [showProgress, focus, document, inUse] { return discard(showProgress, focus, document, inUse); });
}

void RevertItemAction::operator()(const std::shared_ptr<VersionedItem>& item, const IdFor<Versions>& version) const
{
    auto showProgress = this->showProgress;
    const std::weak_ptr<VersionedItem> weak = item;
    startAction(showProgress, showError,
                [showProgress, weak, version] { return revertItem(showProgress, weak, version); });
}

void ExportItemAction::operator()(const std::shared_ptr<VersionedItem>& item,
                                  std::optional<IdFor<Versions>> version) const
{
    const auto action = *this;
    const std::weak_ptr<VersionedItem> weak = item;
    selectURL({folderContentType}, [action, weak, version](const QUrl& folder) {
        if (const auto item = weak.lock())
            action.exportTo(item, version, folder);
    });
}

void ExportItemAction::exportTo(const std::shared_ptr<VersionedItem>& item, std::optional<IdFor<Versions>> version,
                                const QUrl& folder) const
{
    auto openURL = this->openURL;
    auto showProgress = this->showProgress;
    auto showError = this->showError;
    const std::weak_ptr<VersionedItem> weak = item;
    // The engine's own failure is not shown: the alert always says that exporting failed. A
    // folder that does not open after the export is told as it is.
    startTask(
        std::nullopt,
        [openURL, showError, showProgress, weak, version, folder] {
            return exportItem(openURL, showError, showProgress, weak, version, folder);
        },
        handleError(
            [showError](const Error&) { showError(InitiatingItemError(InitiatingItemError::Case::exportFailed)); }),
        [showProgress] { showProgress(State::idle()); });
}

void NewFinalCutLibraryAction::report(const Error& error) const
{
    showProgress(State::idle());
    showError(error);
}

void NewFinalCutLibraryAction::hideProgress() const
{
    showProgress(State::idle());
}

void NewFinalCutEventAction::report(const Error& error) const
{
    showProgress(State::idle());
    showError(error);
}

void NewFinalCutEventAction::hideProgress() const
{
    showProgress(State::idle());
}

QStringList importContentTypes(const DocumentType& containerType)
{
    QStringList types;
    for (const auto& contentType : containerType.allowedContentTypes()) {
        for (const QString& extension : contentType.extensions)
            types << QStringLiteral("*.") + extension + (contentType.isPackage ? QStringLiteral("/") : QString());
    }
    // A container that holds files of any kind offers every file too.
    if (containerType.canNest(DocumentType::unknown(QString())))
        types << QStringLiteral("*");
    return types;
}

void ImportItemFromFileAction::ask(const DocumentType& containerType, std::function<void(const QUrl&)> handler) const
{
    selectURL(importContentTypes(containerType), std::move(handler));
}

void ImportItemFromFileAction::run(TaskOperation import) const
{
    auto showProgress = this->showProgress;
    startAction(showProgress, showError, [showProgress, import] { return importInto(showProgress, import); });
}

void ImportItemFromFileAction::hideProgress() const
{
    showProgress(State::idle());
}

void OpenItemInAtticAction::operator()(const std::shared_ptr<Document>& document) const
{
    auto openURL = this->openURL;
    auto showError = this->showError;
    auto atticURL = this->atticURL;
    const auto id = document->id();
    startTask(
        std::nullopt, [openURL, atticURL, id] { return openAttic(openURL, atticURL, id); },
        handleError([showError](const Error& error) { showError(error); }));
}

void RemoveOrDeleteItemAction::operator()(const std::shared_ptr<NestableItem>& item,
                                          const std::shared_ptr<VersionedItem>& container) const
{
    // The same test as the list's menu title, so that the question asked matches the menu item
    // chosen.
    const bool usedElsewhere = item->isUsedInOtherContainers();
    const auto action = *this;
    const std::weak_ptr<VersionedItem> weakItem = std::static_pointer_cast<VersionedItem>(item);
    const std::weak_ptr<VersionedItem> weakContainer = container;
    auto remove = [action, weakItem, weakContainer, usedElsewhere] {
        const auto showProgress = action.showProgress;
        startTask(
            std::nullopt,
            [showProgress, weakItem, weakContainer, usedElsewhere] {
                return removeFromContainer(showProgress, weakItem, weakContainer, usedElsewhere);
            },
            handleError([action](const Error& error) { action.report(error); }), [action] { action.hideProgress(); });
    };
    if (usedElsewhere)
        confirmRemove(item, container, remove);
    else
        confirmDelete(item, container, remove);
}

void RemoveOrDeleteItemAction::confirmRemove(std::shared_ptr<VersionedItem> item,
                                             std::shared_ptr<VersionedItem> container,
                                             std::function<void()> remove) const
{
    showConfirmation(ConfirmationDialog::ConfirmRemove{std::move(item), std::move(container), std::move(remove)});
}

void RemoveOrDeleteItemAction::confirmDelete(std::shared_ptr<VersionedItem> item,
                                             std::shared_ptr<VersionedItem> container,
                                             std::function<void()> remove) const
{
    showConfirmation(ConfirmationDialog::ConfirmDelete{std::move(item), std::move(container), std::move(remove)});
}

void RemoveOrDeleteItemAction::report(const Error& error) const
{
    showError(error);
}

void RemoveOrDeleteItemAction::hideProgress() const
{
    showProgress(State::idle());
}

void CreateCollectionAction::operator()() const
{
    const auto action = *this;
    showSheet(SheetModel::CreateNewCollection{[action](const QString& name) { action.create(name); }});
}

void CreateCollectionAction::create(const QString& name) const
{
    auto showProgress = this->showProgress;
    auto create = createCollection;
    startAction(showProgress, showError,
                [showProgress, create, name] { return vantrel::createCollection(showProgress, create, name); });
}

void DeleteCollectionAction::operator()(const std::shared_ptr<Collection>& collection, std::function<void()> then) const
{
    auto remove = deleteCollection;
    auto showError = this->showError;
    const std::weak_ptr<Collection> weak = collection;
    startTask(
        std::nullopt, [remove, weak, then] { return vantrel::deleteCollection(remove, weak, then); },
        handleError([showError](const Error& error) { showError(error); }));
}

void RenameItemAction::operator()(const std::shared_ptr<VersionedItem>& item) const
{
    const auto action = *this;
    const std::weak_ptr<VersionedItem> weak = item;
    showSheet(SheetModel::RenameItem{item, [action, weak](const QString& name) {
                                         if (const auto item = weak.lock())
                                             action.rename(item, name);
                                     }});
}

void RenameItemAction::rename(const std::shared_ptr<VersionedItem>& item, const QString& newName) const
{
    auto showProgress = this->showProgress;
    const std::weak_ptr<VersionedItem> weak = item;
    startAction(showProgress, showError,
                [showProgress, weak, newName] { return renameItem(showProgress, weak, newName); });
}

ItemActions::ItemActions(item_action::OpenURL openURL, item_action::SelectURL selectURL,
                         item_action::ShowSheet showSheet, item_action::ShowProgress showProgress,
                         item_action::ShowConfirmation showConfirmation, item_action::ShowError showError,
                         item_action::Focus focus, item_action::CreateCollection createCollection,
                         item_action::DeleteCollection deleteCollection,
                         item_action::VersionBundlesIndexer versionBundlesIndex, item_action::AtticURL atticURL,
                         item_action::ShowAlert showAlert)
    : m_openURL(std::move(openURL)),
      m_selectURL(std::move(selectURL)),
      m_showSheet(std::move(showSheet)),
      m_showProgress(std::move(showProgress)),
      m_showConfirmation(std::move(showConfirmation)),
      m_showError(std::move(showError)),
      m_focus(std::move(focus)),
      m_versionBundlesIndex(std::move(versionBundlesIndex)),
      m_atticURL(std::move(atticURL)),
      m_showAlert(std::move(showAlert)),
      m_createCollection(std::move(createCollection)),
      m_deleteCollection(std::move(deleteCollection))
{
}

const ItemActions& ItemActions::placeholder()
{
    static const ItemActions actions(
        [](const QUrl&) { return completedTask(); }, [](const QStringList&, std::function<void(const QUrl&)>) {},
        [](SheetModel::Sheet) {}, [](State) {}, [](ConfirmationDialog) {}, [](const Error&) {}, [](ContentViewFocus) {},
        [](QString) { return completedTask(); }, [](std::shared_ptr<Collection>) { return completedTask(); },
        [](IndexingOptions) -> VersionBundlesIndex {
            throw UnexpectedError(QStringLiteral("not implemented: no team window is open"));
        },
        [](IdFor<VersionBundle>) -> QCoro::Task<QUrl> {
            throw UnexpectedError(QStringLiteral("not implemented: no team window is open"));
        });
    return actions;
}

const OpenItemCopyAction& ItemActions::openCopy()
{
    if (!m_openCopy)
        m_openCopy = OpenItemCopyAction{m_openURL, m_showProgress, m_showError};
    return *m_openCopy;
}

const CheckOutItemAction& ItemActions::checkOut()
{
    if (!m_checkOut)
        m_checkOut =
            CheckOutItemAction{m_openURL, m_showProgress, m_showConfirmation, m_showError, m_focus, m_showAlert};
    return *m_checkOut;
}

const ForceUnlockItemAction& ItemActions::forceUnlock()
{
    if (!m_forceUnlock)
        m_forceUnlock =
            ForceUnlockItemAction{m_openURL, m_showConfirmation, m_showProgress, m_showError, m_focus, m_showAlert};
    return *m_forceUnlock;
}

const CheckInItemAction& ItemActions::checkIn()
{
    if (!m_checkIn)
        m_checkIn = CheckInItemAction{m_showProgress, m_showError, m_focus, m_showAlert};
    return *m_checkIn;
}

const DiscardItemChangesAction& ItemActions::discardChanges()
{
    if (!m_discardChanges)
        m_discardChanges =
            DiscardItemChangesAction{m_showConfirmation, m_showProgress, m_showError, m_focus, m_showAlert};
    return *m_discardChanges;
}

const RevertItemAction& ItemActions::revert()
{
    if (!m_revert)
        m_revert = RevertItemAction{m_openURL, m_showProgress, m_showConfirmation, m_showError};
    return *m_revert;
}

const ExportItemAction& ItemActions::exportVersion()
{
    if (!m_export)
        m_export = ExportItemAction{m_openURL, m_selectURL, m_showProgress, m_showError};
    return *m_export;
}

const NewFinalCutLibraryAction& ItemActions::newFinalCutLibrary()
{
    if (!m_newFinalCutLibrary)
        m_newFinalCutLibrary = NewFinalCutLibraryAction{m_showSheet, m_showProgress, m_showError};
    return *m_newFinalCutLibrary;
}

const NewFinalCutEventAction& ItemActions::newFinalCutEvent()
{
    if (!m_newFinalCutEvent)
        m_newFinalCutEvent = NewFinalCutEventAction{m_showSheet, m_showProgress, m_showError};
    return *m_newFinalCutEvent;
}

const AddExistingItemAction& ItemActions::addExistingItem()
{
    if (!m_addExistingItem)
        m_addExistingItem = AddExistingItemAction{m_showSheet, m_showError, m_versionBundlesIndex};
    return *m_addExistingItem;
}

const ImportItemFromFileAction& ItemActions::importItemFromFile()
{
    if (!m_importItemFromFile)
        m_importItemFromFile = ImportItemFromFileAction{m_selectURL, m_showProgress, m_showError};
    return *m_importItemFromFile;
}

const OpenItemInAtticAction& ItemActions::openInAttic()
{
    if (!m_openInAttic)
        m_openInAttic = OpenItemInAtticAction{m_openURL, m_showError, m_atticURL};
    return *m_openInAttic;
}

const RemoveOrDeleteItemAction& ItemActions::removeOrDelete()
{
    if (!m_removeOrDelete)
        m_removeOrDelete = RemoveOrDeleteItemAction{m_showConfirmation, m_showProgress, m_showError};
    return *m_removeOrDelete;
}

const CreateCollectionAction& ItemActions::createCollection()
{
    if (!m_createCollectionAction)
        m_createCollectionAction = CreateCollectionAction{m_showSheet, m_showProgress, m_showError, m_createCollection};
    return *m_createCollectionAction;
}

const DeleteCollectionAction& ItemActions::deleteCollection()
{
    if (!m_deleteCollectionAction)
        m_deleteCollectionAction = DeleteCollectionAction{m_showConfirmation, m_showError, m_deleteCollection};
    return *m_deleteCollectionAction;
}

const RenameItemAction& ItemActions::rename()
{
    if (!m_rename)
        m_rename = RenameItemAction{m_showSheet, m_showProgress, m_showError};
    return *m_rename;
}

} // namespace vantrel
