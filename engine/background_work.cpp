#include "engine/background_work.h"

#include "engine/storage/tree_snapshot.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <mutex>
#include <vector>

namespace vantrel {

namespace {

std::mutex finishingMutex;
std::vector<std::thread>& finishingThreads()
{
    static auto* threads = new std::vector<std::thread>(); // never destroyed: used until exit
    return *threads;
}

} // namespace

void detail::adoptFinishingThread(std::thread thread)
{
    std::lock_guard lock(finishingMutex);
    finishingThreads().push_back(std::move(thread));
}

void waitForBackgroundWork()
{
    QThreadPool::globalInstance()->waitForDone();
    waitForFileLookups();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(finishingMutex);
        threads.swap(finishingThreads());
    }
    for (auto& thread : threads) {
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
            thread.join();
        else if (thread.joinable())
            thread.detach();
    }
}

} // namespace vantrel

namespace {

void waitForEngineWorkAtShutdown()
{
    vantrel::waitForBackgroundWork();
}

void registerEngineShutdown()
{
    qAddPostRoutine(waitForEngineWorkAtShutdown);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(registerEngineShutdown)
