#pragma once

// The operations through which the menu bar and the team window's views act on one selected
// item with an action of the window's ItemActions. Each runs on the interface thread, returns at
// once and reports only through the action's callbacks (progress, confirmation, error, opening a
// location); showing a sheet is the caller's. Asynchronous work runs as one task of the shared
// shape: the operation, on failure the action's error report, then in every case the progress
// back to idle.

#include "actions/add_existing_version_bundle.h"
#include "actions/item_actions.h"
#include "model/collection.h"
#include "model/document.h"

#include <QString>

#include <memory>
#include <optional>

namespace vantrel {

class SelectedItemCommands {
public:
    // Whether "Open" and "Open a Temporary Copy" are unavailable for `document`: while an
    // operation runs on it, when no application that opens it is installed, or when its bundle
    // refuses a check-out.
    static bool isCheckOutBlocked(const Document& document);

    // Checks `document` out and opens it; when opening would upgrade it for newer applications
    // only, asks first ("Upgrade Alert") and checks out only on "Continue".
    static void checkOut(const std::shared_ptr<Document>& document, const CheckOutItemAction& action);
    // Opens a temporary copy of `version` of `document` (its current state when absent). Every
    // failure is shown as "An error occurred while creating a copy.".
    static void openCopy(const std::shared_ptr<Document>& document, std::optional<IdFor<Versions>> version,
                         const OpenItemCopyAction& action);
    // Opens the folder showing what the attic keeps of `document`.
    static void openInAttic(const std::shared_ptr<Document>& document, const OpenItemInAtticAction& action);
    // Asks for a folder and exports `version` of `item` (its current state when absent) into it.
    static void exportItem(const std::shared_ptr<VersionedItem>& item, std::optional<IdFor<Versions>> version,
                           const ExportItemAction& action);
    // Asks for a file of a type `collection` takes and imports it as a new document.
    static void importFile(const std::shared_ptr<Collection>& collection, const ImportItemFromFileAction& action);
    // Asks for a name and creates a collection with it.
    static void newCollection(const CreateCollectionAction& action);

    // Asks for a name, then creates an empty library with it in `collection` (newLibrary below).
    static void askNewLibrary(const std::shared_ptr<Collection>& collection, const NewFinalCutLibraryAction& action);
    // Asks for a name, then creates an empty event with it in the library `document`.
    static void askNewEvent(const std::shared_ptr<Document>& document, const NewFinalCutEventAction& action);
    // Creates an empty library named `name`, nests it in `collection` and lists it there, sorted
    // by name. The new library is not selected.
    static void newLibrary(const QString& name, const NewFinalCutLibraryAction& action,
                           const std::shared_ptr<Collection>& collection);
    // The same for an empty event in the library `document`.
    static void newEvent(const QString& name, const NewFinalCutEventAction& action,
                         const std::shared_ptr<Document>& document);

    // The add-existing picker for events of the library `document` or documents of `collection`,
    // loading nothing yet. Its acceptance criteria count the container's items per type, with the
    // limit the container's type sets for each.
    static std::shared_ptr<AddExistingVersionBundle> makeAddExisting(const std::shared_ptr<Document>& document,
                                                                     AddExistingVersionBundle::IndexProvider index);
    static std::shared_ptr<AddExistingVersionBundle> makeAddExisting(const std::shared_ptr<Collection>& collection,
                                                                     AddExistingVersionBundle::IndexProvider index);
    // Shows the add-existing picker for the container; a failure to build it is an alert.
    static void addExisting(const std::shared_ptr<Document>& document, const AddExistingItemAction& action);
    static void addExisting(const std::shared_ptr<Collection>& collection, const AddExistingItemAction& action);
};

} // namespace vantrel
