#pragma once

#include <QCoroTask>

#include <iterator>
#include <type_traits>
#include <vector>

namespace vantrel {

// Awaits `transform` for each element in turn, keeping the order; the first failure stops it.
template<typename Sequence, typename F>
auto asyncMap(const Sequence& elements, F transform)
    -> QCoro::Task<std::vector<typename std::invoke_result_t<F, decltype(*std::begin(elements))>::value_type>>
{
    using Result = typename std::invoke_result_t<F, decltype(*std::begin(elements))>::value_type;
    std::vector<Result> results;
    for (const auto& element : elements)
        results.push_back(co_await transform(element));
    co_return results;
}

// Awaits `action` for each element in turn; the first failure stops it.
template<typename Sequence, typename F>
QCoro::Task<> asyncForEach(const Sequence& elements, F action)
{
    for (const auto& element : elements)
        co_await action(element);
}

} // namespace vantrel
