#pragma once

// The item actions of one window. Every operation a user starts on an item goes through one of
// the actions (locking, version, container and collection actions). An action holds only the
// window's callbacks it needs; calling it shows the toolbar progress, awaits the work through the
// item models, performs its follow-up (opening a file, moving the focus) and turns every failure
// into an alert. Actions never throw to their caller.

#include "actions/collection_actions.h"
#include "actions/container_actions.h"
#include "actions/item_action_callbacks.h"
#include "actions/locking_actions.h"
#include "actions/version_actions.h"

#include <optional>

namespace vantrel {

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

} // namespace vantrel
