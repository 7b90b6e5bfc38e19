#include "actions/container_actions.h"

#include "actions/item_action_tasks.h"
#include "engine/document_type.h"
#include "engine/versioning_service.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "model/versioned_item.h"

namespace vantrel {

using State = ToolbarProgressIndicator::State;
using item_action::startAction;

namespace {

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

QCoro::Task<> renameItem(item_action::ShowProgress showProgress, std::weak_ptr<VersionedItem> weak, QString newName)
{
    const auto item = weak.lock();
    if (!item)
        co_return;
    showProgress(State::busy(formatText(Strings::renamingProgress(), {item->name(), newName})));
    co_await item->rename(newName);
}

} // namespace

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

} // namespace vantrel
