#include "foundation/task_starter.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMetaObject>

namespace vantrel {

Q_LOGGING_CATEGORY(lcTasks, "vantrel.tasks")

namespace {

QCoro::Task<> runTask(TaskOperation operation, TaskErrorHandler onError, std::function<void()> completion)
{
    std::exception_ptr failure;
    try {
        if (operation)
            co_await operation();
    } catch (...) {
        failure = std::current_exception();
    }

    if (failure) {
        const auto error = errorFrom(failure);
        if (onError) {
            std::exception_ptr handlerFailure;
            try {
                co_await onError(*error);
            } catch (...) {
                handlerFailure = std::current_exception();
            }
            if (handlerFailure)
                qCWarning(lcTasks).noquote()
                    << "The error handler failed too:" << errorFrom(handlerFailure)->debugDescription();
        } else {
            qCWarning(lcTasks).noquote() << "A task failed with no error handler:" << error->debugDescription();
        }
    }

    if (completion)
        completion();
}

} // namespace

QCoro::Task<> completedTask()
{
    co_return;
}

TaskErrorHandler handleError(std::function<void(const Error&)> handler)
{
    return [handler = std::move(handler)](const Error& error) {
        handler(error);
        return completedTask();
    };
}

void startTask(std::optional<TaskPriority> priority, TaskOperation operation, TaskErrorHandler onError,
               std::function<void()> completion)
{
    Q_UNUSED(priority);
    auto* application = QCoreApplication::instance();
    Q_ASSERT_X(application, "startTask", "tasks need a running application");
    QMetaObject::invokeMethod(
        application,
        [operation = std::move(operation), onError = std::move(onError), completion = std::move(completion)]() mutable {
            runTask(std::move(operation), std::move(onError), std::move(completion));
        },
        Qt::QueuedConnection);
}

} // namespace vantrel
