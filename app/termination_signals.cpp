#include "app/termination_signals.h"

#include <QList>
#include <QPointer>
#include <QSocketNotifier>
#include <QtGlobal>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace vantrel {

namespace {

constexpr std::array handledSignals{SIGTERM, SIGINT, SIGHUP};

// What the handler may touch: the write end of the socket pair, nothing else.
std::atomic<int> signalWriteFd{-1};
std::array<struct sigaction, handledSignals.size()> previousActions{};
bool handlersInstalled = false;

void onTerminationSignal(int number)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(number);
    const int fd = signalWriteFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        // The socket never blocks; when it is full, enough requests are already waiting.
        const ssize_t written = ::write(fd, &byte, 1);
        static_cast<void>(written);
    }
    errno = savedErrno;
}

void restoreHandlers(std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        ::sigaction(handledSignals[i], &previousActions[i], nullptr);
}

} // namespace

std::unique_ptr<TerminationSignals> TerminationSignals::install()
{
    if (handlersInstalled) {
        qWarning("Termination signals are already handled.");
        return nullptr;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
        qWarning("Termination signals cannot be handled: no socket pair (errno %d).", errno);
        return nullptr;
    }
    signalWriteFd.store(fds[1]);

    struct sigaction action {};
    action.sa_handler = &onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < handledSignals.size(); ++i) {
        if (::sigaction(handledSignals[i], &action, &previousActions[i]) != 0) {
            qWarning("Termination signals cannot be handled: signal %d refused (errno %d).", handledSignals[i], errno);
            restoreHandlers(i);
            signalWriteFd.store(-1);
            ::close(fds[0]);
            ::close(fds[1]);
            return nullptr;
        }
    }
    handlersInstalled = true;
    return std::unique_ptr<TerminationSignals>(new TerminationSignals(fds[0]));
}

TerminationSignals::TerminationSignals(int readFd)
    : m_readFd(readFd),
      m_notifier(new QSocketNotifier(readFd, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPending);
}

TerminationSignals::~TerminationSignals()
{
    restoreHandlers(handledSignals.size());
    const int writeFd = signalWriteFd.exchange(-1);
    handlersInstalled = false;
    delete m_notifier;
    ::close(writeFd);
    ::close(m_readFd);
}

void TerminationSignals::readPending()
{
    QList<int> numbers;
    char buffer[64];
    for (;;) {
        const ssize_t count = ::read(m_readFd, buffer, sizeof buffer);
        if (count > 0) {
            for (ssize_t i = 0; i < count; ++i)
                numbers.append(static_cast<unsigned char>(buffer[i]));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        break;
    }
    // A receiver may delete this object.
    const QPointer<TerminationSignals> self(this);
    for (const int number : numbers) {
        if (!self)
            return;
        Q_EMIT received(number);
    }
}

} // namespace vantrel
