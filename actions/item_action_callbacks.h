#pragma once

// The window's callbacks, as the item actions hold them: each action keeps only those it needs.

#include "actions/confirmation_dialogs.h"
#include "actions/indexing_options.h"
#include "actions/sheets.h"
#include "actions/toolbar_progress.h"
#include "engine/version_bundle.h"
#include "foundation/error.h"
#include "foundation/task_starter.h"
#include "model/collection.h"
#include "model/content_view_focus.h"

#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

namespace vantrel {

// All but VersionBundlesIndexer and AtticURL are called on the interface thread.
namespace item_action {
// Opens a file or folder with the desktop; fails (LaunchError) when nothing opened it.
using OpenURL = std::function<QCoro::Task<>(const QUrl&)>;
// Asks for a file or folder of the given types (see FileImporter::allowedContentTypes()); the
// handler gets the choice and is not called when the user cancels.
using SelectURL = std::function<void(const QStringList& allowedContentTypes, std::function<void(const QUrl&)> handler)>;
using ShowSheet = std::function<void(SheetModel::Sheet)>;
using ShowProgress = std::function<void(ToolbarProgressIndicator::State)>;
using ShowConfirmation = std::function<void(ConfirmationDialog)>;
using ShowError = std::function<void(const Error&)>;
// Shows an alert with buttons of its own (and logs it like a failure).
using ShowAlert = std::function<void(AlertDetails)>;
using Focus = std::function<void(ContentViewFocus)>;
using CreateCollection = std::function<QCoro::Task<>(QString)>;
using DeleteCollection = std::function<QCoro::Task<>(std::shared_ptr<Collection>)>;
// The index of the open team bundle; may throw.
using VersionBundlesIndexer = std::function<VersionBundlesIndex(IndexingOptions)>;
// A folder showing the attic of a bundle; may fail. Copies kept there can be large, so it is
// prepared off the interface thread.
using AtticURL = std::function<QCoro::Task<QUrl>(IdFor<VersionBundle>)>;
} // namespace item_action

} // namespace vantrel
