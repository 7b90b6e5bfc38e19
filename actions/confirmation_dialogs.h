#pragma once

#include "actions/alert_models.h"
#include "actions/presented_flag.h"
#include "engine/version_bundle.h"
#include "foundation/observable_object.h"
#include "model/versioned_item.h"

#include <QList>
#include <QString>

#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

namespace vantrel {

// A question the user confirms before an action that is hard to undo. Each case holds the items
// it is about and the action to run once confirmed; the action runs at most once, on the
// interface thread. Texts read the items' names when they are built.
class ConfirmationDialog {
public:
    // Removing `item` from the container `from`.
    struct ConfirmRemove {
        std::shared_ptr<VersionedItem> item;
        std::shared_ptr<VersionedItem> from;
        std::function<void()> remove;
    };
    // Moving `item` to the Trash; `from` is the container it is deleted from, if any.
    struct ConfirmDelete {
        std::shared_ptr<VersionedItem> item;
        std::shared_ptr<VersionedItem> from;
        std::function<void()> remove;
    };
    // Opening an item in an application newer than the one that wrote it.
    struct ConfirmItemUpdate {
        std::shared_ptr<AppVersionAware> item;
        std::function<void()> update;
    };
    // Giving up a check-out with its unsaved changes.
    struct ConfirmDiscardChanges {
        std::shared_ptr<InitiatingItem> item;
        std::function<void()> cancelCheckout;
    };
    // Taking away the lock somebody else holds.
    struct ConfirmForceUnlock {
        std::shared_ptr<InitiatingItem> item;
        std::function<void()> forceUnlock;
    };
    // Making an earlier version the current one.
    struct ConfirmRevert {
        std::shared_ptr<VersionedItem> item;
        std::function<void()> revert;
    };
    // Deleting items from the Trash for good.
    struct ConfirmPermanentlyDelete {
        QList<VersionBundle::Summary> items;
        std::function<void()> permanentlyDelete;
    };

    using Question = std::variant<ConfirmRemove, ConfirmDelete, ConfirmItemUpdate, ConfirmDiscardChanges,
                                  ConfirmForceUnlock, ConfirmRevert, ConfirmPermanentlyDelete>;

    // The formatter of this toolchain cannot lay out a requires-clause.
    // clang-format off
    template<typename Case>
        requires std::constructible_from<Question, Case&&>
    ConfirmationDialog(Case&& question) : m_question(std::forward<Case>(question))
    // clang-format on
    {
    }

    const Question& question() const { return m_question; }

    QString title() const;
    QString messageText() const;
    // The button that confirms, running the case's action. The dialog adds its own Cancel.
    ButtonAction confirmButton() const;

private:
    Question m_question;
};

// The confirmation a window asks for. A new question replaces one that is still showing.
class ConfirmationDialogModel : public ObservableObject {
    Q_OBJECT
public:
    explicit ConfirmationDialogModel(QObject* parent = nullptr);

    std::optional<ConfirmationDialog> dialog() const { return m_dialog(); }
    void setDialog(std::optional<ConfirmationDialog> dialog);

Q_SIGNALS:
    void dialogChanged();

private:
    Published<std::optional<ConfirmationDialog>> m_dialog{this, &ConfirmationDialogModel::dialogChanged};
};

// Whether `model`'s question is showing; dismissing it clears the question.
PresentedFlag<ConfirmationDialogModel> presentedFlag(ConfirmationDialogModel* model);

} // namespace vantrel
