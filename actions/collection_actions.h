#pragma once

// The actions on the team's collections: creating one and moving one to the trash.

#include "actions/item_action_callbacks.h"

#include <QString>

#include <functional>
#include <memory>

namespace vantrel {

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

} // namespace vantrel
