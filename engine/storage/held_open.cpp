#include "engine/storage/held_open.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace vantrel {

bool isHeldOpenError(int error, bool replacing)
{
    return error == EBUSY || error == ETXTBSY || (replacing && error == EEXIST);
}

int retryWhileHeldOpen(std::chrono::milliseconds bound, bool replacing, const std::function<int()>& step)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + bound;
    std::chrono::milliseconds pause{10};
    for (;;) {
        const int result = step();
        if (result == 0 || !isHeldOpenError(result, replacing))
            return result;
        const auto now = Clock::now();
        if (now >= deadline)
            return result;
        // Between half and all of the pause, which doubles up to half a second.
        const auto jittered = std::chrono::milliseconds(
            pause.count() / 2 + QRandomGenerator::global()->bounded(qint64(pause.count() / 2 + 1)));
        std::this_thread::sleep_for(std::min<Clock::duration>(jittered, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(500));
    }
}

} // namespace vantrel
