#pragma once

#include "foundation/error.h"

#include <QCoroTask>

#include <functional>
#include <optional>

namespace vantrel {

// How urgent a task is. Every task runs on the interface thread's event loop, in the order
// started; the priority is kept with the task for the callers that state one.
enum class TaskPriority { background, utility, low, medium, high, userInitiated };

using TaskOperation = std::function<QCoro::Task<>()>;
using TaskErrorHandler = std::function<QCoro::Task<>(const Error&)>;

// A task that has nothing to wait for.
QCoro::Task<> completedTask();

// An error handler that only runs `handler`, with nothing to wait for.
TaskErrorHandler handleError(std::function<void(const Error&)> handler);

// Starts one task on the interface thread (from any thread): it awaits `operation`; when that
// fails, it awaits `onError` with the failure; then it runs `completion`, if given, after
// success and failure alike. The task starts from the event loop, never inside this call, and
// nothing cancels it.
void startTask(std::optional<TaskPriority> priority, TaskOperation operation, TaskErrorHandler onError,
               std::function<void()> completion = {});

} // namespace vantrel
