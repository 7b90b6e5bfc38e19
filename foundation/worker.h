#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace vantrel {

namespace detail {

template<typename R>
struct WorkerOutcome {
    std::optional<R> value;
    std::exception_ptr failure;
};

template<>
struct WorkerOutcome<void> {
    std::exception_ptr failure;
};

// What `work` returned, or what it threw.
template<typename F>
WorkerOutcome<std::invoke_result_t<F>> outcomeOf(F& work)
{
    WorkerOutcome<std::invoke_result_t<F>> outcome;
    try {
        if constexpr (std::is_void_v<std::invoke_result_t<F>>)
            work();
        else
            outcome.value.emplace(work());
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    return outcome;
}

} // namespace detail

// Runs blocking `work` on a worker thread and resumes the awaiting coroutine on its own
// thread when it is done; whatever `work` throws is rethrown there, with its type.
//
// Name the lambda before awaiting it:
//     auto work = [self, name] { ... };
//     co_await onWorker(std::move(work));
// g++ 12 destroys a lambda written inside a co_await expression twice, which frees what the
// lambda captured while its owner still uses it. Never write a lambda inside co_await.
template<typename F>
auto onWorker(F work) -> QCoro::Task<std::invoke_result_t<F>>
{
    using R = std::invoke_result_t<F>;
    auto future = QtConcurrent::run([work = std::move(work)]() mutable { return detail::outcomeOf(work); });
    auto outcome = co_await future;
    if (outcome.failure)
        std::rethrow_exception(outcome.failure);
    if constexpr (!std::is_void_v<R>)
        co_return std::move(*outcome.value);
}

} // namespace vantrel
