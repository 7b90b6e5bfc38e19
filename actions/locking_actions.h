#pragma once

// The actions that take and give up a document's lock: check-out, force unlock, check-in and
// discarding the changes.

#include "actions/item_action_callbacks.h"
#include "engine/check_out_options.h"

#include <memory>

namespace vantrel {

class Document;

// Checks a document out and opens the working copy; the focus moves to the check-in view.
struct CheckOutItemAction {
    item_action::OpenURL openURL;
    item_action::ShowProgress showProgress;
    item_action::ShowConfirmation showConfirmation;
    item_action::ShowError showError;
    item_action::Focus focus;
    // Asks whether to go on when the check-out would replace a working copy an application still
    // has open; without it, that refusal is shown like any other failure.
    item_action::ShowAlert showAlert;

    void operator()(const std::shared_ptr<Document>& document) const;
    // The check-out itself, for callers that run their own task.
    QCoro::Task<> checkOut(std::shared_ptr<Document> document) const;
    void report(const Error& error) const;
    // As report(), except that a check-out refused because an application still has the working
    // copy it would replace open asks whether to open anyway; that answer checks `document` out
    // again, in a task of its own.
    void report(const Error& error, const std::shared_ptr<Document>& document) const;
    void hideProgress() const;
    // The end of a check-out task: as hideProgress(), except while another operation still runs
    // on `document` (the request was a second click, left alone): that one's progress stays.
    void hideProgress(const std::shared_ptr<Document>& document) const;
};

// Takes the lock of a document from whoever holds it, then as a check-out.
struct ForceUnlockItemAction {
    item_action::OpenURL openURL;
    item_action::ShowConfirmation showConfirmation;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;
    item_action::Focus focus;
    item_action::ShowAlert showAlert; // as for a check-out

    void operator()(const std::shared_ptr<Document>& document) const;
};

// Checks a document in with its commit message; the focus moves to the document list. The
// check-in view runs it in a task, with report() and hideProgress().
struct CheckInItemAction {
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;
    item_action::Focus focus;
    // Asks whether to go on while an application still has the working copy open; without it,
    // that refusal is shown like any other failure.
    item_action::ShowAlert showAlert;

    QCoro::Task<> operator()(std::shared_ptr<Document> document,
                             WorkingCopyInUse inUse = WorkingCopyInUse::refuse) const;
    void report(const Error& error) const;
    // As report(), except that a check-in refused because an application still has the working
    // copy open asks whether to check in anyway; that answer checks `document` in again, in a
    // task of its own.
    void report(const Error& error, const std::shared_ptr<Document>& document) const;
    void hideProgress() const;
};

// Gives up the check-out of a document; the focus moves to the document list. Refused because
// an application still has the working copy open, it asks whether to discard anyway.
struct DiscardItemChangesAction {
    item_action::ShowConfirmation showConfirmation;
    item_action::ShowProgress showProgress;
    item_action::ShowError showError;
    item_action::Focus focus;
    item_action::ShowAlert showAlert;

    void operator()(const std::shared_ptr<Document>& document, WorkingCopyInUse inUse = WorkingCopyInUse::refuse) const;
};

} // namespace vantrel
