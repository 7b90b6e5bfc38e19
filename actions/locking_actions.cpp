#include "actions/locking_actions.h"

#include "actions/item_action_tasks.h"
#include "actions/working_copy_in_use_alert.h"
#include "desktop/desktop_launch.h"
#include "model/document.h"
#include "model/strings.h"
#include "model/text_format.h"

#include <QDir>

namespace vantrel {

using State = ToolbarProgressIndicator::State;
using item_action::fileURL;
using item_action::startAction;

namespace {

// Check-out and force unlock. A document on which another locking operation still runs (a
// second click) is left alone: the first one opens the working copy. The check-out stands when
// its application does not open: the alert says so, and the check-in view offers to open it again
// or to discard.
QCoro::Task<> takeLock(item_action::OpenURL openURL, item_action::ShowProgress showProgress, item_action::Focus focus,
                       std::shared_ptr<Document> document, LockTakeover takeover, WorkingCopyInUse inUse)
{
    if (!document || document->isInitiating())
        co_return;
    showProgress(State::busy(formatText(Strings::openActionTitle(), {document->name()})));
    QString workingCopy;
    if (takeover == LockTakeover::forceUnlock)
        workingCopy = co_await document->forceUnlock(inUse);
    else
        workingCopy = co_await document->checkOut(inUse);
    QCoro::Task<> opening = openURL(fileURL(workingCopy));
    focus(ContentViewFocus::checkinView);
    try {
        co_await opening;
    } catch (const LaunchError& failure) {
        throw Error(formatText(Strings::openFailedKeptCheckedOut(), {document->name(), failure.localizedDescription()}),
                    Strings::documentNotOpenedTitle());
    }
}

// A request left alone because another operation runs on the document leaves that operation's
// progress showing; the operation's own end hides it.
void hideLockProgress(const item_action::ShowProgress& showProgress, const std::shared_ptr<Document>& document)
{
    if (document && document->isInitiating())
        return;
    showProgress(State::idle());
}

// Reports a failed check-out or force unlock; one refused because an application still has the
// working copy it would replace open asks whether to go on, and going on takes the lock again.
void reportTakingLock(const CheckOutItemAction& action, const Error& error, const std::weak_ptr<Document>& weak,
                      LockTakeover takeover);

void startTakingLock(const CheckOutItemAction& action, const std::shared_ptr<Document>& document, LockTakeover takeover,
                     WorkingCopyInUse inUse = WorkingCopyInUse::refuse)
{
    const std::weak_ptr<Document> weak = document;
    startTask(
        std::nullopt,
        [action, weak, takeover, inUse] {
            return takeLock(action.openURL, action.showProgress, action.focus, weak.lock(), takeover, inUse);
        },
        handleError([action, weak, takeover](const Error& error) { reportTakingLock(action, error, weak, takeover); }),
        [action, weak] { hideLockProgress(action.showProgress, weak.lock()); });
}

void reportTakingLock(const CheckOutItemAction& action, const Error& error, const std::weak_ptr<Document>& weak,
                      LockTakeover takeover)
{
    reportGivingUp(action.showError, action.showAlert, error, GivingUpWorkingCopy::replace, [action, weak, takeover] {
        if (const auto document = weak.lock())
            startTakingLock(action, document, takeover, WorkingCopyInUse::keepInAttic);
    });
}

QCoro::Task<> discard(item_action::ShowProgress showProgress, item_action::Focus focus,
                      std::shared_ptr<Document> document, WorkingCopyInUse inUse)
{
    if (document->isInitiating())
        co_return;
    showProgress(State::busy(Strings::discardingChangesProgress()));
    co_await document->cancelCheckout(inUse);
    focus(ContentViewFocus::documentList);
}

} // namespace

void CheckOutItemAction::operator()(const std::shared_ptr<Document>& document) const
{
    startTakingLock(*this, document, LockTakeover::none);
}

QCoro::Task<> CheckOutItemAction::checkOut(std::shared_ptr<Document> document) const
{
    return takeLock(openURL, showProgress, focus, std::move(document), LockTakeover::none, WorkingCopyInUse::refuse);
}

void CheckOutItemAction::report(const Error& error) const
{
    showError(error);
}

void CheckOutItemAction::report(const Error& error, const std::shared_ptr<Document>& document) const
{
    reportTakingLock(*this, error, document, LockTakeover::none);
}

void CheckOutItemAction::hideProgress() const
{
    showProgress(State::idle());
}

void CheckOutItemAction::hideProgress(const std::shared_ptr<Document>& document) const
{
    hideLockProgress(showProgress, document);
}

void ForceUnlockItemAction::operator()(const std::shared_ptr<Document>& document) const
{
    startTakingLock(CheckOutItemAction{openURL, showProgress, showConfirmation, showError, focus, showAlert}, document,
                    LockTakeover::forceUnlock);
}

QCoro::Task<> CheckInItemAction::operator()(std::shared_ptr<Document> document, WorkingCopyInUse inUse) const
{
    // A second click while the check-in still runs is left alone.
    if (document->isInitiating())
        co_return;
    const auto focus = this->focus;
    showProgress(State::busy(formatText(Strings::checkingInProgress(), {document->name()})));
    const CheckInOutcome outcome = co_await document->checkIn(inUse);
    focus(ContentViewFocus::documentList);
    // Checked in all the same: only what was kept besides is told.
    if (outcome.keptLateChanges && showAlert)
        showAlert(AlertDetails(Strings::changedWhileCheckingInTitle(),
                               formatText(Strings::changedWhileCheckingInMessage(), {document->name()})));
    else if (!outcome.lateChangesLeftIn.isEmpty() && showAlert)
        showAlert(AlertDetails(Strings::changedWhileCheckingInNotKeptTitle(),
                               formatText(Strings::changedWhileCheckingInNotKeptMessage(),
                                          {document->name(), QDir::toNativeSeparators(outcome.lateChangesLeftIn)})));
}

void CheckInItemAction::report(const Error& error) const
{
    showError(error);
}

void CheckInItemAction::report(const Error& error, const std::shared_ptr<Document>& document) const
{
    const auto action = *this;
    const std::weak_ptr<Document> weak = document;
    reportGivingUp(showError, showAlert, error, GivingUpWorkingCopy::checkIn, [action, weak] {
        const auto document = weak.lock();
        if (!document)
            return;
        startTask(
            std::nullopt, [action, document] { return action(document, WorkingCopyInUse::keepInAttic); },
            handleError([action, document](const Error& error) { action.report(error, document); }),
            [action] { action.hideProgress(); });
    });
}

void CheckInItemAction::hideProgress() const
{
    showProgress(State::idle());
}

void DiscardItemChangesAction::operator()(const std::shared_ptr<Document>& document, WorkingCopyInUse inUse) const
{
    auto showProgress = this->showProgress;
    auto focus = this->focus;
    const auto action = *this;
    const std::weak_ptr<Document> weak = document;
    const auto report = [action, weak](const Error& error) {
        reportGivingUp(action.showError, action.showAlert, error, GivingUpWorkingCopy::discard, [action, weak] {
            if (const auto document = weak.lock())
                action(document, WorkingCopyInUse::keepInAttic);
        });
    };
    startAction(showProgress, report,
                [showProgress, focus, document, inUse] { return discard(showProgress, focus, document, inUse); });
}

} // namespace vantrel
