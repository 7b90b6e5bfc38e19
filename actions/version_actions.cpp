#include "actions/version_actions.h"

#include "actions/file_importer.h"
#include "actions/item_action_tasks.h"
#include "engine/versioning_service.h"
#include "model/document.h"
#include "model/strings.h"
#include "model/text_format.h"

namespace vantrel {

using State = ToolbarProgressIndicator::State;
using item_action::fileURL;
using item_action::openMade;
using item_action::startAction;

namespace {

QCoro::Task<> revertItem(item_action::ShowProgress showProgress, std::weak_ptr<VersionedItem> weak,
                         IdFor<Versions> version)
{
    const auto item = weak.lock();
    if (!item)
        co_return;
    showProgress(State::busy(Strings::revertingProgress()));
    co_await item->revert(version);
}

QCoro::Task<> exportItem(item_action::OpenURL openURL, item_action::ShowError showError,
                         item_action::ShowProgress showProgress, std::weak_ptr<VersionedItem> weak,
                         std::optional<IdFor<Versions>> version, QUrl folder)
{
    const auto item = weak.lock();
    if (!item)
        co_return;
    showProgress(State::busy(Strings::exportingProgress()));
    co_await item->exportVersion(version, folder.toLocalFile());
    co_await openMade(openURL, showError, folder);
}

QCoro::Task<> openAttic(item_action::OpenURL openURL, item_action::AtticURL atticURL, IdFor<VersionBundle> id)
{
    const QUrl attic = co_await atticURL(id);
    co_await openURL(attic);
}

} // namespace

InitiatingItemError::InitiatingItemError(Case which)
    : Error([which] {
          switch (which) {
          case Case::checkoutFailed:
              return Strings::checkoutError();
          case Case::cancelCheckoutFailed:
              return Strings::cancelError();
          case Case::checkInFailed:
              return Strings::checkInError();
          case Case::exportFailed:
              return Strings::exportError();
          case Case::buildCopyFailed:
              return Strings::createCopyError();
          }
          return QString();
      }()),
      m_case(which)
{
}

QString InitiatingItemError::typeName() const
{
    return QStringLiteral("InitiatingItemError");
}

QCoro::Task<> OpenItemCopyAction::operator()(std::shared_ptr<Document> document,
                                             std::optional<IdFor<Versions>> version) const
{
    const auto openURL = this->openURL;
    const auto showError = this->showError;
    showProgress(State::busy(formatText(Strings::openingProgress(), {document->name()})));
    const auto service = document->versioningService();
    const QString copy = co_await service->buildCopy(version, std::nullopt, &s3Factory);
    co_await openMade(openURL, showError, fileURL(copy));
}

void OpenItemCopyAction::reportFailure() const
{
    showError(InitiatingItemError(InitiatingItemError::Case::buildCopyFailed));
}

void OpenItemCopyAction::hideProgress() const
{
    showProgress(State::idle());
}

void RevertItemAction::operator()(const std::shared_ptr<VersionedItem>& item, const IdFor<Versions>& version) const
{
    auto showProgress = this->showProgress;
    const std::weak_ptr<VersionedItem> weak = item;
    startAction(showProgress, showError,
                [showProgress, weak, version] { return revertItem(showProgress, weak, version); });
}

void ExportItemAction::operator()(const std::shared_ptr<VersionedItem>& item,
                                  std::optional<IdFor<Versions>> version) const
{
    const auto action = *this;
    const std::weak_ptr<VersionedItem> weak = item;
    selectURL({folderContentType}, [action, weak, version](const QUrl& folder) {
        if (const auto item = weak.lock())
            action.exportTo(item, version, folder);
    });
}

void ExportItemAction::exportTo(const std::shared_ptr<VersionedItem>& item, std::optional<IdFor<Versions>> version,
                                const QUrl& folder) const
{
    auto openURL = this->openURL;
    auto showProgress = this->showProgress;
    auto showError = this->showError;
    const std::weak_ptr<VersionedItem> weak = item;
    // The engine's own failure is not shown: the alert always says that exporting failed. A
    // folder that does not open after the export is told as it is.
    startTask(
        std::nullopt,
        [openURL, showError, showProgress, weak, version, folder] {
            return exportItem(openURL, showError, showProgress, weak, version, folder);
        },
        handleError(
            [showError](const Error&) { showError(InitiatingItemError(InitiatingItemError::Case::exportFailed)); }),
        [showProgress] { showProgress(State::idle()); });
}

void OpenItemInAtticAction::operator()(const std::shared_ptr<Document>& document) const
{
    auto openURL = this->openURL;
    auto showError = this->showError;
    auto atticURL = this->atticURL;
    const auto id = document->id();
    startTask(
        std::nullopt, [openURL, atticURL, id] { return openAttic(openURL, atticURL, id); },
        handleError([showError](const Error& error) { showError(error); }));
}

} // namespace vantrel
