#include "actions/selected_item_commands.h"

#include "engine/logger.h"
#include "engine/team_bundle.h"
#include "model/container_operations.h"
#include "model/strings.h"
#include "model/text_format.h"

namespace vantrel {

namespace {

using State = ToolbarProgressIndicator::State;

// Which engine call makes the new, empty bundle a container receives.
using CreateBundle = QCoro::Task<std::shared_ptr<VersioningService>> (*)(QString, std::shared_ptr<TeamBundle>,
                                                                         std::shared_ptr<FileManaging>,
                                                                         std::shared_ptr<WorkspaceInterfacing>);

// A bundle the engine made but could not nest would be listed nowhere: it goes to the trash, where
// the user can still find it, rather than being deleted. Failing that it is left as it is; the
// nesting failure is what the user is told.
QCoro::Task<> moveStrayToTrash(std::shared_ptr<VersioningService> created)
{
    try {
        co_await created->removeOrDelete(nullptr, &s3Factory);
    } catch (const std::exception&) {
        created->teamBundle()->log().event(
            QStringLiteral("Could not move a new bundle that was not nested to the trash"), created->id().toString(),
            Logger::Level::error);
    }
}

// Creates an empty bundle named `name` with `create`, nests it in `container` and lists it there.
template<typename Container>
QCoro::Task<> createNested(std::shared_ptr<Container> container, QString name, QString typeDescription,
                           CreateBundle create, item_action::ShowProgress showProgress)
{
    showProgress(State::busy(formatText(Strings::creatingLibraryProgress(), {typeDescription, name})));
    const auto service = container->versioningService();
    const auto team = service->teamBundle();
    const auto created = co_await create(name, team, team->sharedFileManager(), team->sharedWorkspace());
    std::exception_ptr nestingFailure;
    try {
        co_await service->addNestedVersionBundle(created, QString(), &s3Factory);
    } catch (...) {
        nestingFailure = std::current_exception();
    }
    if (nestingFailure) {
        co_await moveStrayToTrash(created);
        std::rethrow_exception(nestingFailure);
    }
    // The engine's change publisher may have reloaded the list with the new bundle already.
    container_detail::insertNestedItem(*container, created);
}

template<typename Container>
AddExistingVersionBundle::AcceptanceCriteria acceptanceCriteria(const Container& container)
{
    AddExistingVersionBundle::AcceptanceCriteria criteria;
    const DocumentType& containerType = container.documentType();
    for (const auto& item : container.nestedItems()) {
        const DocumentType& type = item->documentType();
        auto entry = criteria.find(type);
        if (entry == criteria.end())
            entry = criteria.insert(type, ItemAcceptanceCriteria{containerType.nestedItemsLimit(type), 0});
        ++entry->currentItems;
    }
    return criteria;
}

template<typename Container>
void showAddExisting(const std::shared_ptr<Container>& container, const AddExistingItemAction& action)
{
    std::shared_ptr<AddExistingVersionBundle> picker;
    try {
        picker = SelectedItemCommands::makeAddExisting(container, action.versionBundlesIndex);
    } catch (...) {
        action.showError(*errorFrom(std::current_exception()));
        return;
    }
    action.showSheet(SheetModel::AddExisting{std::move(picker)});
}

} // namespace

bool SelectedItemCommands::isCheckOutBlocked(const Document& document)
{
    if (document.isInitiating())
        return true;
    if (!document.application().isInstalled())
        return true;
    try {
        return !document.versioningService()->canCheckout();
    } catch (const std::exception&) {
        // A bundle that can no longer be read cannot be checked out either.
        return true;
    }
}

void SelectedItemCommands::checkOut(const std::shared_ptr<Document>& document, const CheckOutItemAction& action)
{
    if (!document->application().itemUpdateNeeded()) {
        startTask(
            std::nullopt, [action, document] { return action.checkOut(document); },
            handleError([action, document](const Error& error) { action.report(error, document); }),
            [action, document] { action.hideProgress(document); });
        return;
    }
    const std::weak_ptr<Document> weak = document;
    action.showConfirmation(ConfirmationDialog::ConfirmItemUpdate{document, [action, weak] {
                                                                      if (const auto document = weak.lock())
                                                                          action(document);
                                                                  }});
}

void SelectedItemCommands::openCopy(const std::shared_ptr<Document>& document, std::optional<IdFor<Versions>> version,
                                    const OpenItemCopyAction& action)
{
    // Whatever the engine says, the alert says that the copy could not be made.
    startTask(
        std::nullopt, [action, document, version] { return action(document, version); },
        handleError([action](const Error&) { action.reportFailure(); }), [action] { action.hideProgress(); });
}

void SelectedItemCommands::openInAttic(const std::shared_ptr<Document>& document, const OpenItemInAtticAction& action)
{
    action(document);
}

void SelectedItemCommands::exportItem(const std::shared_ptr<VersionedItem>& item,
                                      std::optional<IdFor<Versions>> version, const ExportItemAction& action)
{
    action(item, version);
}

void SelectedItemCommands::importFile(const std::shared_ptr<Collection>& collection,
                                      const ImportItemFromFileAction& action)
{
    action(collection);
}

void SelectedItemCommands::newCollection(const CreateCollectionAction& action)
{
    action();
}

void SelectedItemCommands::askNewLibrary(const std::shared_ptr<Collection>& collection,
                                         const NewFinalCutLibraryAction& action)
{
    const std::weak_ptr<Collection> weak = collection;
    action.showSheet(SheetModel::NewFinalCutLibrary{[action, weak](const QString& name) {
        if (const auto collection = weak.lock())
            newLibrary(name, action, collection);
    }});
}

void SelectedItemCommands::askNewEvent(const std::shared_ptr<Document>& document, const NewFinalCutEventAction& action)
{
    const std::weak_ptr<Document> weak = document;
    action.showSheet(SheetModel::NewFinalCutEvent{[action, weak](const QString& name) {
        if (const auto document = weak.lock())
            newEvent(name, action, document);
    }});
}

void SelectedItemCommands::newLibrary(const QString& name, const NewFinalCutLibraryAction& action,
                                      const std::shared_ptr<Collection>& collection)
{
    const auto showProgress = action.showProgress;
    startTask(
        std::nullopt,
        [collection, name, showProgress] {
            return createNested(collection, name, DocumentType::library().shortDescription(),
                                &VersioningService::createLibrary, showProgress);
        },
        handleError([action](const Error& error) { action.report(error); }), [action] { action.hideProgress(); });
}

void SelectedItemCommands::newEvent(const QString& name, const NewFinalCutEventAction& action,
                                    const std::shared_ptr<Document>& document)
{
    const auto showProgress = action.showProgress;
    startTask(
        std::nullopt,
        [document, name, showProgress] {
            return createNested(document, name, DocumentType::event().description(), &VersioningService::createEvent,
                                showProgress);
        },
        handleError([action](const Error& error) { action.report(error); }), [action] { action.hideProgress(); });
}

std::shared_ptr<AddExistingVersionBundle>
SelectedItemCommands::makeAddExisting(const std::shared_ptr<Document>& document,
                                      AddExistingVersionBundle::IndexProvider index)
{
    return std::make_shared<AddExistingVersionBundle>(document, std::move(index), &VersionBundlesIndex::events,
                                                      acceptanceCriteria(*document));
}

std::shared_ptr<AddExistingVersionBundle>
SelectedItemCommands::makeAddExisting(const std::shared_ptr<Collection>& collection,
                                      AddExistingVersionBundle::IndexProvider index)
{
    return std::make_shared<AddExistingVersionBundle>(collection, std::move(index), &VersionBundlesIndex::documents,
                                                      acceptanceCriteria(*collection));
}

void SelectedItemCommands::addExisting(const std::shared_ptr<Document>& document, const AddExistingItemAction& action)
{
    showAddExisting(document, action);
}

void SelectedItemCommands::addExisting(const std::shared_ptr<Collection>& collection,
                                       const AddExistingItemAction& action)
{
    showAddExisting(collection, action);
}

} // namespace vantrel
