#pragma once

// The actions on what a container holds: new libraries and events, adding existing bundles,
// importing a file, taking an item out of its container, and renaming an item.

#include "actions/item_action_callbacks.h"

#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

namespace vantrel {

class DocumentType;
class NestableItem;
class VersionedItem;

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

// Renames an item to the name the user gives.
struct RenameItemAction {
    item_action::ShowSheet showSheet;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;

    void operator()(const std::shared_ptr<VersionedItem>& item) const;
    void rename(const std::shared_ptr<VersionedItem>& item, const QString& newName) const;
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
