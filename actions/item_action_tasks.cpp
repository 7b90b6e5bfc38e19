#include "actions/item_action_tasks.h"

#include "desktop/desktop_launch.h"

namespace vantrel::item_action {

using State = ToolbarProgressIndicator::State;

void startAction(const ShowProgress& showProgress, const ShowError& showError, TaskOperation operation)
{
    startTask(std::nullopt, std::move(operation), handleError([showProgress, showError](const Error& error) {
                  showProgress(State::idle());
                  showError(error);
              }),
              [showProgress] { showProgress(State::idle()); });
}

QUrl fileURL(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

QCoro::Task<> openMade(OpenURL openURL, ShowError showError, QUrl url)
{
    try {
        co_await openURL(url);
    } catch (const LaunchError& failure) {
        showError(failure);
    }
}

} // namespace vantrel::item_action
