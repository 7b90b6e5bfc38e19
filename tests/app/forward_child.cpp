// A later start of the application, as far as the single instance goes: hands its arguments,
// turned into URLs, to the instance listening on the name given first.
// Usage: forward_child <server name> [argument...]
// Exits 0 when the running instance took them, 3 when none listens, 4 when it did not take them.
//
// Or a burst of starts that never send a thing: forward_child --burst <server name> <count> <ends>
// prints "ready", waits for a line on its standard input, opens <count> connections at once and
// waits until the instance has ended <ends> of them, says so, and exits 0 at the next line; or
// exits 5 when the instance reset or refused the rest before that (as a server that stopped
// listening does).

#include "app/single_instance.h"
#include "app/url_handler.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

int burst(const QString& serverName, int count, int ends)
{
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max; // room for every connection
    ::setrlimit(RLIMIT_NOFILE, &limit);
    sockaddr_un address{AF_UNIX, {}};
    const QByteArray path = QFile::encodeName(serverName);
    std::memcpy(address.sun_path, path.constData(), std::min(size_t(path.size()), sizeof address.sun_path - 1));
    std::printf("ready\n");
    std::fflush(stdout);
    char line[16];
    if (!std::fgets(line, sizeof line, stdin))
        return 2;
    std::vector<pollfd> open;
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            open.push_back({fd, POLLIN, 0});
        else if (fd >= 0)
            ::close(fd); // the queue is full
    }
    int ended = 0;
    while (ended < ends && !open.empty() && ::poll(open.data(), open.size(), -1) >= 0) {
        for (auto it = open.begin(); it != open.end();) {
            char byte;
            const ssize_t read = it->revents == 0 ? 1 : ::read(it->fd, &byte, 1);
            if (read > 0 || (read < 0 && errno == EAGAIN)) {
                ++it;
                continue;
            }
            ended += read == 0 ? 1 : 0; // an end of file; a reset is a connection never taken
            ::close(it->fd);
            it = open.erase(it);
        }
    }
    std::printf("%d of %d connections ended by the instance\n", ended, count);
    std::fflush(stdout);
    if (ended < ends)
        return 5;
    return std::fgets(line, sizeof line, stdin) ? 0 : 2; // the rest stay open until then
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() == 4 && arguments[0] == QLatin1String("--burst"))
        return burst(arguments[1], arguments[2].toInt(), arguments[3].toInt());
    if (arguments.isEmpty())
        return 2;
    const QString serverName = arguments.takeFirst();
    QStringList urls;
    for (const QString& argument : arguments)
        urls.append(vantrel::URLHandler::urlFromArgument(argument, QStringLiteral("vantrel")));
    switch (vantrel::single_instance::forwardToRunningInstance(urls, serverName, 20000)) {
    case vantrel::single_instance::Forwarding::accepted:
        return 0;
    case vantrel::single_instance::Forwarding::noInstance:
        return 3;
    case vantrel::single_instance::Forwarding::failed:
        return 4;
    }
    return 4;
}
