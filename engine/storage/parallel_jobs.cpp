#include "engine/storage/parallel_jobs.h"

#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>

namespace vantrel {

int storageWorkerCount()
{
    return std::clamp(QThread::idealThreadCount(), 4, 16);
}

void runInParallel(qsizetype count, const std::function<qint64(qsizetype)>& job, qint64 totalBytes,
                   const TreeProgress& progress, qint64 doneBefore)
{
    if (progress) {
        progress(0, totalBytes);
        if (doneBefore > 0)
            progress(doneBefore, totalBytes);
    }
    if (count == 0)
        return;

    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        qsizetype remaining = 0;
        qint64 doneBytes = 0;
        std::exception_ptr failure;
        std::atomic<bool> stop = false;
    } state;
    state.remaining = count;
    state.doneBytes = doneBefore;

    QThreadPool pool;
    pool.setMaxThreadCount(int(std::min<qsizetype>(storageWorkerCount(), count)));
    for (qsizetype index = 0; index < count; ++index) {
        pool.start([&state, &job, index] {
            qint64 bytes = 0;
            std::exception_ptr failure;
            if (!state.stop.load()) {
                try {
                    bytes = job(index);
                } catch (...) {
                    failure = std::current_exception();
                    state.stop = true;
                }
            }
            const std::lock_guard lock(state.mutex);
            if (failure && !state.failure)
                state.failure = failure;
            state.doneBytes += bytes;
            --state.remaining;
            state.changed.notify_all();
        });
    }

    try {
        std::unique_lock lock(state.mutex);
        qint64 reported = doneBefore;
        while (state.remaining > 0) {
            state.changed.wait(lock);
            if (progress && !state.stop && state.doneBytes != reported) {
                reported = state.doneBytes;
                lock.unlock();
                progress(reported, totalBytes);
                lock.lock();
            }
        }
    } catch (...) {
        state.stop = true;
        pool.waitForDone();
        throw;
    }
    pool.waitForDone();
    if (state.failure)
        std::rethrow_exception(state.failure);
}

} // namespace vantrel
