#pragma once

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace vantrel {

// Runs work(0) ... work(count - 1) on a few threads of its own, the calling one included, in
// batches of `perThread`; on the calling thread alone when there are too few to share. For
// short CPU-bound work that does not throw (decoding records, building bundle states).
template<typename Work>
void parallelFor(qsizetype count, qsizetype perThread, const Work& work)
{
    const qsizetype threads =
        std::min<qsizetype>({qsizetype(std::max(1u, std::thread::hardware_concurrency())), 8, count / perThread});
    if (threads <= 1) {
        for (qsizetype i = 0; i < count; ++i)
            work(i);
        return;
    }
    std::atomic<qsizetype> next{0};
    const auto run = [&] {
        for (qsizetype from; (from = next.fetch_add(perThread)) < count;) {
            for (qsizetype i = from; i < std::min(count, from + perThread); ++i)
                work(i);
        }
    };
    std::vector<std::thread> helpers;
    for (qsizetype i = 1; i < threads; ++i)
        helpers.emplace_back(run);
    run();
    for (auto& helper : helpers)
        helper.join();
}

} // namespace vantrel
