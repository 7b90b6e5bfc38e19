#pragma once

// How the item actions run their work: a task that shows the toolbar progress and ends with an
// alert on failure, and the opening of what an action made.

#include "actions/item_action_callbacks.h"

#include <QString>
#include <QUrl>

namespace vantrel::item_action {

// The common shape of an action: `operation` in a task; on failure the progress goes idle, then
// the alert; the progress is idle at the end in every case.
void startAction(const ShowProgress& showProgress, const ShowError& showError, TaskOperation operation);

QUrl fileURL(const QString& path);

// Opens what an action made; an application that did not open it is reported at once as it is
// (the work itself is done).
QCoro::Task<> openMade(OpenURL openURL, ShowError showError, QUrl url);

} // namespace vantrel::item_action
