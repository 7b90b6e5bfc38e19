#include "support/child_process.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace std::chrono_literals;

namespace vantrel::testing {

namespace {

using Clock = std::chrono::steady_clock;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

ChildProcess::~ChildProcess()
{
    kill();
    reap();
    closeFd(m_out);
    closeFd(m_in);
}

bool ChildProcess::start(const QString& program, const QStringList& arguments, ChildInput input,
                         const QString& errorPath)
{
    m_errorPath = errorPath;
    QList<QByteArray> argv{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        argv << QFile::encodeName(argument);
    std::vector<char*> pointers;
    for (QByteArray& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    int ownInput[2] = {-1, -1};
    if (input.kind() == ChildInput::Kind::pipe && ::pipe2(ownInput, O_CLOEXEC) != 0) {
        m_failure = QStringLiteral("pipe failed");
        return false;
    }
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        closeFd(ownInput[0]);
        closeFd(ownInput[1]);
        m_failure = QStringLiteral("pipe failed");
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, QFile::encodeName(errorPath).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    switch (input.kind()) {
    case ChildInput::Kind::none:
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        break;
    case ChildInput::Kind::pipe:
        posix_spawn_file_actions_adddup2(&actions, ownInput[0], STDIN_FILENO);
        break;
    case ChildInput::Kind::descriptor:
        posix_spawn_file_actions_adddup2(&actions, input.fd(), STDIN_FILENO);
        break;
    }
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0].constData(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    closeFd(output[1]);
    closeFd(ownInput[0]);
    m_in = ownInput[1];
    if (spawned != 0) {
        closeFd(output[0]);
        closeFd(m_in);
        m_failure = QStringLiteral("cannot start %1: %2").arg(program, QString::fromLocal8Bit(std::strerror(spawned)));
        return false;
    }
    m_pid = pid;
    m_out = output[0];
    ::fcntl(m_out, F_SETFL, ::fcntl(m_out, F_GETFL) | O_NONBLOCK);
    return true;
}

void ChildProcess::readAvailable()
{
    while (m_out >= 0) {
        char buffer[4096];
        const ssize_t count = ::read(m_out, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == EAGAIN)
            return;
        if (count <= 0) {
            closeFd(m_out);
            return;
        }
        const auto now = Clock::now();
        m_partial.append(buffer, count);
        for (qsizetype end; (end = m_partial.indexOf('\n')) >= 0;) {
            m_lines.push_back(PrintedLine{now, m_partial.left(end)});
            m_partial.remove(0, end + 1);
        }
    }
}

std::optional<PrintedLine> ChildProcess::firstLine(const QByteArray& prefix) const
{
    for (const PrintedLine& line : m_lines) {
        if (line.text.startsWith(prefix))
            return line;
    }
    return std::nullopt;
}

QString ChildProcess::waitFor(const QByteArray& prefix, std::chrono::milliseconds timeout)
{
    pumpUntil({this}, Clock::now() + timeout, [&] { return firstLine(prefix) || !isPrinting(); });
    const auto line = firstLine(prefix);
    return line ? QString::fromUtf8(line->text.mid(prefix.size())) : QString();
}

void ChildProcess::send(const QByteArray& line)
{
    const QByteArray bytes = line + '\n';
    if (m_in >= 0 && ::write(m_in, bytes.constData(), size_t(bytes.size())) != bytes.size())
        m_failure = QStringLiteral("cannot write to the child");
}

void ChildProcess::closeInput()
{
    closeFd(m_in);
}

void ChildProcess::end()
{
    closeInput();
    finish({this});
}

void ChildProcess::kill()
{
    if (m_pid > 0 && !m_reaped)
        ::kill(m_pid, SIGKILL); // not yet reaped, so `m_pid` is still this child
}

bool ChildProcess::killAt(Clock::time_point moment)
{
    pumpUntil({this}, moment - 2ms, [&] { return !isPrinting(); });
    if (!isPrinting())
        return false;
    std::this_thread::sleep_until(moment);
    kill();
    return true;
}

int ChildProcess::reap()
{
    if (m_pid > 0 && !m_reaped) {
        while (::waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
        }
        m_reaped = true;
    }
    return m_status;
}

bool ChildProcess::exitedCleanly() const
{
    return m_reaped && WIFEXITED(m_status) && WEXITSTATUS(m_status) == 0;
}

bool ChildProcess::wasKilled() const
{
    return m_reaped && WIFSIGNALED(m_status) && WTERMSIG(m_status) == SIGKILL;
}

QString ChildProcess::describe() const
{
    QByteArray printed;
    for (const PrintedLine& line : m_lines)
        printed += line.text + " | ";
    QFile errors(m_errorPath);
    errors.open(QIODevice::ReadOnly);
    return QStringLiteral("%1printed \"%2\", status %3, stderr \"%4\"")
        .arg(m_failure.isEmpty() ? QString() : m_failure + QStringLiteral("; "), QString::fromUtf8(printed))
        .arg(m_status)
        .arg(QString::fromUtf8(errors.readAll()).trimmed());
}

bool pumpUntil(const Children& children, Clock::time_point deadline, const std::function<bool()>& done)
{
    for (;;) {
        if (done())
            return true;
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        std::vector<pollfd> fds;
        std::vector<ChildProcess*> owners;
        for (ChildProcess* child : children) {
            if (child->isPrinting()) {
                fds.push_back(pollfd{child->outputFd(), POLLIN, 0});
                owners.push_back(child);
            }
        }
        if (fds.empty())
            return done();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + 1ms;
        ::poll(fds.data(), nfds_t(fds.size()), int(std::min<qint64>(left.count(), 100)));
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents != 0)
                owners[i]->readAvailable();
        }
    }
}

bool allEnded(const Children& children)
{
    return std::all_of(children.begin(), children.end(),
                       [](const ChildProcess* child) { return !child->isPrinting(); });
}

void finish(const Children& children, std::chrono::seconds timeout)
{
    pumpUntil(children, Clock::now() + timeout, [&] { return allEnded(children); });
    for (ChildProcess* child : children) {
        if (child->isPrinting())
            child->kill();
        child->reap();
        child->readAvailable();
    }
}

StartSignal::StartSignal()
{
    m_ok = ::pipe2(m_fds, O_CLOEXEC) == 0;
}

StartSignal::~StartSignal()
{
    closeReadEnd();
    fire();
}

void StartSignal::closeReadEnd()
{
    closeFd(m_fds[0]);
}

void StartSignal::fire()
{
    closeFd(m_fds[1]);
}

} // namespace vantrel::testing
