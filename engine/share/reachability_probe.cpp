#include "engine/share/reachability_probe.h"

#include <QFile>

#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vantrel {

struct ReachabilityProbe::Attempt {
    std::mutex mutex;
    std::condition_variable finished;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    bool done = false;
    bool readable = false;
};

namespace {

// Plain system calls only: the thread may outlive whoever started it, even the application.
bool readsByName(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status {};
    char buffer[64];
    ssize_t got = -1;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        do
            got = ::read(fd, buffer, sizeof buffer);
        while (got < 0 && errno == EINTR);
    }
    ::close(fd);
    return got > 0;
}

} // namespace

ReachabilityProbe::ReachabilityProbe(const QString& path, std::chrono::milliseconds bound)
    : m_path(QFile::encodeName(path).toStdString()),
      m_bound(bound)
{
}

bool ReachabilityProbe::check()
{
    std::shared_ptr<Attempt> attempt;
    {
        std::lock_guard lock(m_mutex);
        bool underWay = false;
        if (m_last) {
            std::lock_guard state(m_last->mutex);
            if (!m_last->done && std::chrono::steady_clock::now() - m_last->started >= m_bound)
                return false; // still hung: not asked again
            underWay = !m_last->done;
        }
        if (underWay) {
            attempt = m_last; // its answer serves this check too
        } else {
            attempt = std::make_shared<Attempt>();
            m_last = attempt;
            std::thread([attempt, path = m_path] {
                const bool readable = readsByName(path);
                {
                    std::lock_guard state(attempt->mutex);
                    attempt->readable = readable;
                    attempt->done = true;
                }
                attempt->finished.notify_all();
            }).detach();
        }
    }
    std::unique_lock state(attempt->mutex);
    attempt->finished.wait_until(state, attempt->started + m_bound, [&] { return attempt->done; });
    return attempt->done && attempt->readable;
}

std::chrono::steady_clock::duration ReachabilityProbe::unansweredFor()
{
    std::lock_guard lock(m_mutex);
    if (!m_last)
        return {};
    std::lock_guard state(m_last->mutex);
    return m_last->done ? std::chrono::steady_clock::duration{} : std::chrono::steady_clock::now() - m_last->started;
}

} // namespace vantrel
