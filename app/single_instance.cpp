#include "app/single_instance.h"

#include "engine/locks/client_lease.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace vantrel {

namespace {

constexpr qsizetype headerSize = 4;
// How long a start waits for an instance to answer on the name before it may take it over.
constexpr int probeTimeoutMs = 1000;
// How long a start waits for another start that is taking the name at the same moment.
constexpr int lockTimeoutMs = 5000;
// How soon a server that could not take a connection (out of descriptors, with no peer to let
// go) tries again.
constexpr int acceptRetryMs = 100;

// Whether the process at the other end of the connected local socket `descriptor` runs as this
// process's user.
bool peerIsThisUser(qintptr descriptor)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (descriptor < 0 || ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    return credentials.uid == ::geteuid();
}

std::optional<QStringList> decode(const QByteArray& payload)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QStringList urls;
    for (const QJsonValue& value : document.array()) {
        if (!value.isString())
            return std::nullopt;
        urls.append(value.toString());
    }
    return urls;
}

int remaining(const QDeadlineTimer& deadline)
{
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

void drop(QLocalSocket* socket)
{
    socket->abort();
    socket->deleteLater();
}

} // namespace

namespace single_instance {

QString serverName(const QString& applicationId)
{
    QString name = applicationId;
    name.replace(u'/', u'_');
    return ClientLease::lockFolder() + u'/' + name + u'.' + QString::number(::geteuid()) + QStringLiteral(".instance");
}

QByteArray encode(const QStringList& urls)
{
    const QByteArray payload = QJsonDocument(QJsonArray::fromStringList(urls)).toJson(QJsonDocument::Compact);
    if (payload.size() > maxMessageSize)
        return {};
    QByteArray message(headerSize, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(payload.size()), message.data());
    return message + payload;
}

Forwarding forwardToRunningInstance(const QStringList& urls, const QString& serverName, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(remaining(deadline))) {
        const auto error = socket.error();
        const bool nobody = error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError;
        return nobody ? Forwarding::noInstance : Forwarding::failed;
    }
    // Another user's program in our place is not our instance: tell it nothing.
    if (!peerIsThisUser(socket.socketDescriptor()))
        return Forwarding::failed;
    const QByteArray message = encode(urls);
    if (message.isEmpty())
        return Forwarding::failed;
    socket.write(message);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remaining(deadline)))
            return Forwarding::failed;
    }
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(remaining(deadline)))
            return Forwarding::failed;
    }
    char answer = 0;
    return socket.read(&answer, 1) == 1 && answer == acknowledgement ? Forwarding::accepted : Forwarding::failed;
}

Start handOverOrListen(const QStringList& urls, SingleInstanceServer& server, int timeoutMs)
{
    // Running beside the instance would open the same team bundles twice: a start that cannot
    // hand over ends instead, and says so.
    const auto refuse = [&urls, timeoutMs] {
        if (encode(urls).isEmpty())
            return Start{1, SingleInstanceServer::tr("Vantrel is already running, and these links are too many to "
                                                     "hand over to it (more than %1 MiB). Open fewer at a time.")
                                .arg(maxMessageSize / (1024 * 1024))};
        return Start{1, SingleInstanceServer::tr("Vantrel is already running but did not answer within %1 seconds, "
                                                 "so this start ends instead of running beside it. The running one "
                                                 "may still open the links once it responds.")
                            .arg(timeoutMs / 1000.0)};
    };
    Forwarding forwarding = forwardToRunningInstance(urls, server.serverName(), timeoutMs);
    if (forwarding == Forwarding::accepted)
        return {0, {}};
    if (forwarding == Forwarding::failed)
        return refuse();
    if (server.listen())
        return {};
    // Another start won the race to listen: hand it the links instead.
    forwarding = forwardToRunningInstance(urls, server.serverName(), timeoutMs);
    if (forwarding == Forwarding::accepted)
        return {0, {}};
    if (forwarding == Forwarding::failed || server.anotherInstanceAnswers())
        return refuse();
    return {std::nullopt, SingleInstanceServer::tr("Vantrel runs without receiving links from later starts: %1")
                              .arg(server.errorString())};
}

} // namespace single_instance

SingleInstanceServer::SingleInstanceServer(QString serverName, QObject* parent)
    : QObject(parent),
      m_serverName(std::move(serverName))
{
}

SingleInstanceServer::~SingleInstanceServer()
{
    release();
}

bool SingleInstanceServer::isListening() const
{
    return m_listener >= 0;
}

bool SingleInstanceServer::listen()
{
    if (isListening())
        return true;
    m_errorString.clear();
    m_anotherAnswers = false;
    // Two starts at the same moment would each find the name free, and the second to remove the
    // "stale" socket would remove the first one's live socket.
    QLockFile lock(m_serverName + QStringLiteral(".lock"));
    if (!lock.tryLock(lockTimeoutMs)) {
        m_errorString = lock.error() == QLockFile::LockFailedError
                            ? tr("Another start of the application holds %1.").arg(lock.fileName())
                            : tr("Cannot create the lock file %1.").arg(lock.fileName());
        return false;
    }
    {
        QLocalSocket probe;
        probe.connectToServer(m_serverName);
        if (probe.waitForConnected(probeTimeoutMs)) {
            probe.abort();
            m_anotherAnswers = true;
            m_errorString = tr("Another instance of the application is running.");
            return false;
        }
        // Refused: a socket file nobody listens on any more, left by an instance that crashed.
        if (probe.error() == QLocalSocket::ConnectionRefusedError)
            QLocalServer::removeServer(m_serverName);
    }
    return bindName();
}

// Bound in place: a name still taken makes listen() fail. The folder is the user's alone, and
// peers of other users are turned away anyway.
bool SingleInstanceServer::bindName()
{
    const QByteArray path = QFile::encodeName(m_serverName);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= qsizetype(sizeof address.sun_path)) {
        m_errorString = tr("The name %1 is too long for a local socket.").arg(m_serverName);
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    struct stat bound {};
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener, SOMAXCONN) != 0 || ::lstat(path.constData(), &bound) != 0) {
        m_errorString = tr("Cannot listen on %1: %2").arg(m_serverName, QString::fromLocal8Bit(std::strerror(errno)));
        if (listener >= 0)
            ::close(listener);
        return false;
    }
    m_listener = listener;
    m_fileInode = bound.st_ino;
    m_notifier = new QSocketNotifier(listener, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SingleInstanceServer::acceptConnections);
    return true;
}

void SingleInstanceServer::release()
{
    if (!isListening())
        return;
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_listener);
    m_listener = -1;
    // The file goes only if it is still the one this server made.
    const QByteArray path = QFile::encodeName(m_serverName);
    struct stat named {};
    if (::lstat(path.constData(), &named) == 0 && named.st_ino == m_fileInode)
        ::unlink(path.constData());
    for (QLocalSocket* peer : findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly)) {
        disconnect(peer, nullptr, this, nullptr);
        drop(peer);
    }
    m_waiting.clear();
}

void SingleInstanceServer::acceptConnections()
{
    // A few rounds at a time, so that a burst leaves the event loop its turn.
    for (int round = 0; isListening() && round < 2 * maxPeers; ++round) {
        const int descriptor = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (descriptor >= 0) {
            // A start writes its message as it connects: one still silent when others are queued
            // has had its turn, and gives its place (and descriptor) to the next.
            if (m_waiting.size() >= maxPeers)
                dropOldestPeer();
            serve(descriptor);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // Out of descriptors or memory: the connection stays queued, and the socket keeps
        // listening. The oldest silent peer frees a descriptor; without one, it is tried again
        // after a while (at once would only spin, since the queue still holds the connection).
        if (!m_waiting.empty()) {
            dropOldestPeer();
            continue;
        }
        m_notifier->setEnabled(false);
        QTimer::singleShot(acceptRetryMs, this, [this] {
            if (!isListening())
                return;
            m_notifier->setEnabled(true);
            acceptConnections();
        });
        return;
    }
}

void SingleInstanceServer::dropOldestPeer()
{
    QLocalSocket* oldest = m_waiting.front();
    m_waiting.pop_front();
    drop(oldest);
}

void SingleInstanceServer::serve(int descriptor)
{
    if (!peerIsThisUser(descriptor)) {
        ::close(descriptor);
        return;
    }
    auto* socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(descriptor);
        delete socket;
        return;
    }
    m_waiting.push_back(socket);
    connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
    // Room for the longest message and one byte more, to see that a peer sent too much.
    socket->setReadBufferSize(headerSize + single_instance::maxMessageSize + 1);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
    QTimer::singleShot(m_peerTimeoutMs, socket, [socket] { drop(socket); });
    readFrom(socket);
}

void SingleInstanceServer::forget(QLocalSocket* socket)
{
    m_waiting.erase(std::remove(m_waiting.begin(), m_waiting.end(), socket), m_waiting.end());
}

void SingleInstanceServer::readFrom(QLocalSocket* socket)
{
    const qint64 available = socket->bytesAvailable();
    if (available < headerSize)
        return;
    const QByteArray header = socket->peek(headerSize);
    const quint32 length = qFromBigEndian<quint32>(header.constData());
    if (length > quint32(single_instance::maxMessageSize))
        return drop(socket);
    if (available < headerSize + qint64(length))
        return;
    if (available > headerSize + qint64(length))
        return drop(socket);
    socket->skip(headerSize);
    const auto urls = decode(socket->read(length));
    if (!urls)
        return drop(socket);

    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    forget(socket);
    socket->write(&single_instance::acknowledgement, 1);
    socket->flush();
    socket->disconnectFromServer();
    // Emitted from the event loop: a receiver may open dialogs, and the sender has its answer.
    QMetaObject::invokeMethod(
        this,
        [this, urls = *urls] {
            if (isListening())
                Q_EMIT urlsReceived(urls);
        },
        Qt::QueuedConnection);
}

} // namespace vantrel
