#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

class QLocalSocket;
class QSocketNotifier;

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

// Far more than a command line can carry, so that every start can hand its links over; the bound
// only keeps what the running instance holds in memory for its peers within reason.
constexpr qsizetype maxMessageSize = 8 * 1024 * 1024;
constexpr char acknowledgement = '\x06';

// The socket of `applicationId` for the current user: a file in the private folder that also
// holds the engine's client locks (ClientLease::lockFolder()). Throws StorageError, saying why,
// when there is no such folder that is safe to use.
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

class SingleInstanceServer;

namespace single_instance {

// What a start does about the running instance. It hands its URLs over and ends (status 0); or,
// when an instance runs but did not take them, ends without running beside it (status 1, and the
// message says why); or becomes the running instance, listening with `server` (no status; the
// message says why it could not listen, when it could not).
struct Start {
    std::optional<int> exitStatus;
    QString message;
};
Start handOverOrListen(const QStringList& urls, SingleInstanceServer& server, int timeoutMs);

} // namespace single_instance

// The listening side. Lives on the thread whose event loop runs it (the GUI thread) and emits
// urlsReceived() there, from the event loop, after the sender was acknowledged. It waits for a
// few peers at a time, each for at most the peer timeout, and keeps listening when the process
// runs out of descriptors: connections it can't take yet wait in the socket's queue until it can.
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
    // Whether the last listen() failed because an instance answers on the name.
    bool anotherInstanceAnswers() const { return m_anotherAnswers; }

    // How long a connected peer has to deliver its whole message (5 s unless set).
    void setPeerTimeout(int milliseconds) { m_peerTimeoutMs = milliseconds; }

    // At most this many peers are waited for at once: when more are queued, the one that has
    // been silent longest is let go.
    static constexpr int maxPeers = 16;

Q_SIGNALS:
    // The URLs a later start forwarded, in its order; empty when it had none.
    void urlsReceived(const QStringList& urls);

private:
    bool bindName();
    void acceptConnections();
    void serve(int descriptor);
    void dropOldestPeer();
    void forget(QLocalSocket* socket);
    void readFrom(QLocalSocket* socket);

    QString m_serverName;
    QString m_errorString;
    int m_peerTimeoutMs = 5000;
    int m_listener = -1;
    // The socket file this server made, to remove it and nothing else in its place.
    quint64 m_fileInode = 0;
    QSocketNotifier* m_notifier = nullptr;
    // The peers not answered yet, oldest first.
    std::deque<QLocalSocket*> m_waiting;
    bool m_anotherAnswers = false;
};

} // namespace vantrel
