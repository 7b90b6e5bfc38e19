#include "actions/item_actions.h"

namespace vantrel {

using State = ToolbarProgressIndicator::State;

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
