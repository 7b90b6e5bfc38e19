#include "app/single_instance.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel {

namespace {

constexpr qsizetype headerSize = 4;
// How long a start waits for an instance to answer on the name before it may take it over.
constexpr int probeTimeoutMs = 1000;
// How long a start waits for another start that is taking the name at the same moment.
constexpr int lockTimeoutMs = 5000;

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
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + u'/' + name + u'.'
           + QString::number(::geteuid()) + QStringLiteral(".instance");
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
    return m_server && m_server->isListening();
}

bool SingleInstanceServer::listen()
{
    if (isListening())
        return true;
    m_errorString.clear();
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
            m_errorString = tr("Another instance of the application is running.");
            return false;
        }
        // Refused: a socket file nobody listens on any more, left by an instance that crashed.
        if (probe.error() == QLocalSocket::ConnectionRefusedError)
            QLocalServer::removeServer(m_serverName);
    }
    // Bound in place, without Qt's access options (which bind elsewhere and rename over the
    // name, replacing whatever socket is there): a name still taken makes listen() fail. The
    // runtime folder is the user's alone, and peers of other users are turned away anyway.
    auto server = std::make_unique<QLocalServer>();
    if (!server->listen(m_serverName)) {
        m_errorString = server->errorString();
        return false;
    }
    connect(server.get(), &QLocalServer::newConnection, this, &SingleInstanceServer::acceptConnections);
    m_server = std::move(server);
    return true;
}

void SingleInstanceServer::release()
{
    if (!m_server)
        return;
    // Closing removes the socket file.
    m_server->close();
    for (QLocalSocket* peer : m_server->findChildren<QLocalSocket*>())
        peer->abort();
    m_server.reset();
}

void SingleInstanceServer::acceptConnections()
{
    while (m_server && m_server->hasPendingConnections()) {
        QLocalSocket* socket = m_server->nextPendingConnection();
        if (!peerIsThisUser(socket->socketDescriptor())) {
            drop(socket);
            continue;
        }
        // Room for the longest message and one byte more, to see that a peer sent too much.
        socket->setReadBufferSize(headerSize + single_instance::maxMessageSize + 1);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        QTimer::singleShot(m_peerTimeoutMs, socket, [socket] { drop(socket); });
        readFrom(socket);
    }
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
    socket->write(&single_instance::acknowledgement, 1);
    socket->flush();
    socket->disconnectFromServer();
    // Emitted from the event loop: a receiver may open dialogs, and the sender has its answer.
    QMetaObject::invokeMethod(
        this,
        [this, urls = *urls] {
            if (m_server)
                Q_EMIT urlsReceived(urls);
        },
        Qt::QueuedConnection);
}

} // namespace vantrel
