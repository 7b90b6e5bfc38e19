#pragma once

// The actions on the kept versions of an item: opening a temporary copy of one, making an earlier
// one current, exporting one, and opening the attic of a document.

#include "actions/item_action_callbacks.h"

#include <memory>
#include <optional>

namespace vantrel {

class Document;
class VersionedItem;

// What the export and temporary-copy actions report in place of the engine's error.
class InitiatingItemError : public Error {
public:
    enum class Case { checkoutFailed, cancelCheckoutFailed, checkInFailed, exportFailed, buildCopyFailed };

    explicit InitiatingItemError(Case which);
    Case kind() const { return m_case; }

    friend bool operator==(const InitiatingItemError& a, const InitiatingItemError& b) { return a.m_case == b.m_case; }

protected:
    QString typeName() const override;

private:
    Case m_case;
};

inline size_t qHash(const InitiatingItemError& error, size_t seed = 0)
{
    return ::qHash(static_cast<int>(error.kind()), seed);
}

// Opens a temporary, untracked copy of a version of a document.
struct OpenItemCopyAction {
    item_action::OpenURL openURL;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;

    // Builds the copy (of the current version when none is given) and opens it. The caller
    // runs it in a task, with reportFailure() and hideProgress().
    QCoro::Task<> operator()(std::shared_ptr<Document> document, std::optional<IdFor<Versions>> version) const;
    void reportFailure() const;
    void hideProgress() const;
};

// Makes an earlier version of an item the current one (after the caller's confirmation).
struct RevertItemAction {
    item_action::OpenURL openURL;
    item_action::ShowProgress showProgress;
    item_action::ShowConfirmation showConfirmation;
    item_action::ShowError showError;

    void operator()(const std::shared_ptr<VersionedItem>& item, const IdFor<Versions>& version) const;
};

// Writes a version of an item into a folder the user chooses, then opens the folder.
struct ExportItemAction {
    item_action::OpenURL openURL;
    item_action::SelectURL selectURL;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;

    void operator()(const std::shared_ptr<VersionedItem>& item, std::optional<IdFor<Versions>> version) const;
    void exportTo(const std::shared_ptr<VersionedItem>& item, std::optional<IdFor<Versions>> version,
                  const QUrl& folder) const;
};

// Opens the attic folder of a document, without progress.
struct OpenItemInAtticAction {
    item_action::OpenURL openURL;
    item_action::ShowError showError;
    item_action::AtticURL atticURL;

    void operator()(const std::shared_ptr<Document>& document) const;
};

} // namespace vantrel
