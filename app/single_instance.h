#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QLocalServer;
class QLocalSocket;

namespace vantrel {

// One running instance of the application per user. The first start listens on a local socket
// in the user's runtime folder; a later start hands its URLs to it and exits.
//
// On the socket, a start that forwards sends one message: a 4-byte big-endian length and that
// many bytes (at most maxMessageSize) of UTF-8 JSON, an array of URL strings (possibly empty: a
// plain second start, after which the running instance only comes to the front). The running
// instance answers with one acknowledgement byte once it has taken them, then closes the
// connection. A peer that sends anything else, too much, or not all of it within the peer
// timeout, or that belongs to another user, is dropped without an answer.
namespace single_instance {

constexpr qsizetype maxMessageSize = 64 * 1024;
constexpr char acknowledgement = '\x06';

// The socket of `applicationId` for the current user: a file in the user's runtime folder
// ($XDG_RUNTIME_DIR, or the private folder Qt makes in its place).
QString serverName(const QString& applicationId);

// The message that carries `urls`; empty when it would exceed maxMessageSize.
QByteArray encode(const QStringList& urls);

enum class Forwarding {
    accepted,   // the running instance took the URLs: this start is done
    noInstance, // nobody listens: this start becomes the running instance
    failed,     // an instance listens but did not take them (no answer in time, too many URLs)
};

// Hands `urls` to the instance listening on `serverName`, waiting at most `timeoutMs` for it
// to connect, read and acknowledge. Blocks; needs no event loop.
Forwarding forwardToRunningInstance(const QStringList& urls, const QString& serverName, int timeoutMs);

} // namespace single_instance

// The listening side. Lives on the thread whose event loop runs it (the GUI thread) and emits
// urlsReceived() there, from the event loop, after the sender was acknowledged.
class SingleInstanceServer : public QObject {
    Q_OBJECT
public:
    explicit SingleInstanceServer(QString serverName, QObject* parent = nullptr);
    ~SingleInstanceServer() override;

    // Starts listening. False, with errorString() set, when another instance answers on the
    // name (or the name cannot be taken). A socket file left by an instance that ended without
    // closing it is removed, but only after connecting to it failed; starts that race for the
    // name are kept apart by a lock file beside it.
    bool listen();
    bool isListening() const;
    // Stops listening and frees the name, dropping peers not yet answered, so that a new process
    // (a restart) can take it. Nothing is emitted afterwards. Also done on destruction.
    void release();

    const QString& serverName() const { return m_serverName; }
    const QString& errorString() const { return m_errorString; }

    // How long a connected peer has to deliver its whole message (5 s unless set).
    void setPeerTimeout(int milliseconds) { m_peerTimeoutMs = milliseconds; }

Q_SIGNALS:
    // The URLs a later start forwarded, in its order; empty when it had none.
    void urlsReceived(const QStringList& urls);

private:
    void acceptConnections();
    void readFrom(QLocalSocket* socket);

    QString m_serverName;
    QString m_errorString;
    int m_peerTimeoutMs = 5000;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace vantrel
