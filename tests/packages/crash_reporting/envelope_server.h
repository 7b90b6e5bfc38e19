// A small HTTP server on 127.0.0.1 that takes crash-report envelopes: it records every request
// and answers each with the status it is given.

#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QTcpServer>

namespace vantrel::testing {

struct ReceivedRequest {
    QByteArray method;
    QByteArray path;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

class EnvelopeServer final : public QObject {
    Q_OBJECT
public:
    explicit EnvelopeServer(int status = 200);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    // "http://<key>@127.0.0.1:<port>/<project>".
    QString dsn(const QString& key = QStringLiteral("0123abcd"), const QString& project = QStringLiteral("42")) const;

    void setStatus(int status) { m_status = status; }
    // Answers with a chunked body that never ends, sent as fast as the client takes it.
    void setEndlessAnswer(bool endless) { m_endless = endless; }
    // The bytes of endless answers sent, and the connections that have ended.
    int closedConnections() const { return m_closed; }
    const QList<ReceivedRequest>& requests() const { return m_requests; }

private:
    void serve(QTcpSocket* socket);
    void answerEndlessly(QTcpSocket* socket);

    QTcpServer m_server;
    int m_status;
    bool m_endless = false;
    int m_closed = 0;
    QList<ReceivedRequest> m_requests;
};

// The three parts of an envelope, each a JSON object: its header, the item's header and the event.
struct ParsedEnvelope {
    QJsonObject header;
    QJsonObject itemHeader;
    QJsonObject event;
    bool ok = false;
};
ParsedEnvelope parseEnvelope(const QByteArray& body);

} // namespace vantrel::testing
