#pragma once

// A small HTTP server on 127.0.0.1 for the update checks: it answers every GET with `body` and
// `status`, then closes the connection, and counts the requests.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <memory>

namespace vantrel::testing {

class FeedServer {
public:
    FeedServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                auto request = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                    *request += socket->readAll();
                    if (!request->contains("\r\n\r\n") || request->isEmpty())
                        return;
                    ++requests;
                    request->clear();
                    const QByteArray reason = status == 200 ? "OK" : "Error";
                    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason
                                  + "\r\nContent-Type: application/json\r\nContent-Length: "
                                  + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
    }

    bool isListening() const { return m_server.isListening(); }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/feed.json").arg(m_server.serverPort())); }
    // Stops listening: later checks find nobody at the address.
    void close() { m_server.close(); }

    QByteArray body;
    int status = 200;
    int requests = 0;

private:
    QTcpServer m_server;
};

// A server on 127.0.0.1 that answers every GET with `status` and a chunked body that never ends,
// sent as fast as the client takes it, and counts the body bytes sent until the client closed.
class EndlessServer {
public:
    EndlessServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                    ++closed;
                    socket->deleteLater();
                });
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n") || socket->property("answered").toBool())
                        return;
                    socket->setProperty("answered", true);
                    socket->write("HTTP/1.1 " + QByteArray::number(status)
                                  + " Endless\r\nContent-Type: application/json\r\nLocation: /elsewhere.json\r\n"
                                    "Transfer-Encoding: chunked\r\n\r\n");
                    sendChunk(socket);
                });
                // What the client leaves unread stays in the kernel's buffers, not here.
                QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket] {
                    if (socket->bytesToWrite() < chunkSize)
                        sendChunk(socket);
                });
            }
        });
    }

    bool isListening() const { return m_server.isListening(); }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/feed.json").arg(m_server.serverPort())); }

    int status = 200;
    qint64 sent = 0;
    int closed = 0;

private:
    static constexpr int chunkSize = 256 * 1024;

    void sendChunk(QTcpSocket* socket)
    {
        if (socket->state() != QAbstractSocket::ConnectedState)
            return;
        static const QByteArray chunk =
            QByteArray::number(chunkSize, 16) + "\r\n" + QByteArray(chunkSize, ' ') + "\r\n";
        socket->write(chunk);
        sent += chunkSize;
    }

    QTcpServer m_server;
};

// One build of a feed.
inline QJsonObject feedBuild(qint64 build, bool withdrawn = false, const QString& version = QString())
{
    return QJsonObject{
        {QStringLiteral("build"), build},
        {QStringLiteral("version"), version.isEmpty() ? QStringLiteral("1.%1").arg(build) : version},
        {QStringLiteral("downloadURL"), QStringLiteral("https://vantrel.app/download/%1").arg(build)},
        {QStringLiteral("withdrawn"), withdrawn},
    };
}

// A feed document with the given channels ({"production": [...], ...}).
inline QByteArray feedDocument(const QJsonObject& channels)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("format"), 1}, {QStringLiteral("channels"), channels}})
        .toJson(QJsonDocument::Compact);
}

inline QByteArray productionFeed(const QJsonArray& builds)
{
    return feedDocument(QJsonObject{{QStringLiteral("production"), builds}});
}

} // namespace vantrel::testing
