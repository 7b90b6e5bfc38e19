#include "actions/collection_actions.h"

#include "actions/item_action_tasks.h"
#include "model/strings.h"
#include "model/text_format.h"

#include <exception>

namespace vantrel {

using State = ToolbarProgressIndicator::State;
using item_action::startAction;

namespace {

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

} // namespace vantrel
