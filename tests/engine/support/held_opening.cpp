#include "support/held_opening.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <unistd.h>

namespace vantrel::testing {

HeldOpening::HeldOpening(const QString& folder, QString prefix) : m_prefix(std::move(prefix))
{
    m_fanotify = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC | O_LARGEFILE);
    if (m_fanotify < 0) {
        m_failure = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    if (::fanotify_mark(m_fanotify, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                        QFile::encodeName(folder).constData())
        != 0) {
        m_failure = QString::fromLocal8Bit(std::strerror(errno));
        ::close(m_fanotify);
        m_fanotify = -1;
        return;
    }
    m_wake = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { answer(); });
}

HeldOpening::~HeldOpening()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        wake();
        m_thread.join();
    }
    if (m_wake >= 0)
        ::close(m_wake);
    if (m_fanotify >= 0)
        ::close(m_fanotify); // lets any opening still held through
}

bool HeldOpening::waitUntilHeld(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_heldFd >= 0 || m_released; });
}

void HeldOpening::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
    }
    wake();
}

void HeldOpening::wake()
{
    const quint64 one = 1;
    [[maybe_unused]] const auto written = ::write(m_wake, &one, sizeof one);
}

void HeldOpening::allow(int fd)
{
    const fanotify_response response{fd, FAN_ALLOW};
    [[maybe_unused]] const auto written = ::write(m_fanotify, &response, sizeof response);
    ::close(fd);
}

void HeldOpening::answer()
{
    alignas(fanotify_event_metadata) char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{m_fanotify, POLLIN, 0}, {m_wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0) {
            quint64 count = 0;
            [[maybe_unused]] const auto read = ::read(m_wake, &count, sizeof count);
            std::lock_guard lock(m_mutex);
            if ((m_released || m_stopping) && m_heldFd >= 0) {
                allow(m_heldFd);
                m_heldFd = -1;
            }
            if (m_stopping)
                return;
        }
        if (fds[0].revents == 0)
            continue;
        ssize_t length = ::read(m_fanotify, buffer, sizeof buffer);
        if (length <= 0)
            continue;
        auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
        for (; FAN_EVENT_OK(event, length); event = FAN_EVENT_NEXT(event, length)) {
            if (event->fd < 0)
                continue;
            if (!(event->mask & FAN_OPEN_PERM)) {
                ::close(event->fd);
                continue;
            }
            const QString name =
                QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(event->fd))).fileName();
            std::lock_guard lock(m_mutex);
            if (!m_used && !m_released && name.startsWith(m_prefix)) {
                m_used = true;
                m_heldFd = event->fd;
                m_changed.notify_all();
            } else {
                allow(event->fd);
            }
        }
    }
}

} // namespace vantrel::testing
