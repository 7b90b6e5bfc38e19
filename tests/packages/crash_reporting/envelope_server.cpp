#include "envelope_server.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <memory>

namespace vantrel::testing {

EnvelopeServer::EnvelopeServer(int status)
    : m_status(status)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

bool EnvelopeServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost);
}

QString EnvelopeServer::dsn(const QString& key, const QString& project) const
{
    return QStringLiteral("http://%1@127.0.0.1:%2/%3").arg(key).arg(port()).arg(project);
}

void EnvelopeServer::serve(QTcpSocket* socket)
{
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
        ++m_closed;
        socket->deleteLater();
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0)
            return;
        ReceivedRequest request;
        const QList<QByteArray> lines = buffer->left(end).split('\n');
        const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
        request.method = start.value(0);
        request.path = start.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length").toLongLong();
        if (buffer->size() - end - 4 < length)
            return;
        request.body = buffer->mid(end + 4, length);
        buffer->clear();
        m_requests.append(request);
        if (m_endless)
            return answerEndlessly(socket);
        const QByteArray body = R"({"id":"accepted"})";
        socket->write("HTTP/1.1 " + QByteArray::number(m_status) + " Status\r\nContent-Type: application/json\r\n"
                      "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    });
}

void EnvelopeServer::answerEndlessly(QTcpSocket* socket)
{
    static const QByteArray chunk = QByteArray::number(256 * 1024, 16) + "\r\n" + QByteArray(256 * 1024, ' ') + "\r\n";
    const auto send = [socket] {
        if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < chunk.size())
            socket->write(chunk);
    };
    socket->write("HTTP/1.1 " + QByteArray::number(m_status)
                  + " Status\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n");
    send();
    // What the client leaves unread stays in the kernel's buffers, not here.
    connect(socket, &QTcpSocket::bytesWritten, this, send);
}

ParsedEnvelope parseEnvelope(const QByteArray& body)
{
    ParsedEnvelope envelope;
    const qsizetype first = body.indexOf('\n');
    const qsizetype second = body.indexOf('\n', first + 1);
    if (first < 0 || second < 0)
        return envelope;
    envelope.header = QJsonDocument::fromJson(body.left(first)).object();
    envelope.itemHeader = QJsonDocument::fromJson(body.mid(first + 1, second - first - 1)).object();
    const qsizetype length = envelope.itemHeader.value(QStringLiteral("length")).toInteger(-1);
    const QByteArray payload = body.mid(second + 1, length);
    envelope.event = QJsonDocument::fromJson(payload).object();
    // The item is exactly as long as its header says, and the envelope ends after it.
    envelope.ok = length == payload.size() && body.mid(second + 1 + length) == "\n" && !envelope.event.isEmpty();
    return envelope;
}

} // namespace vantrel::testing
