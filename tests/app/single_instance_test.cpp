#include "app/single_instance.h"

#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vantrel;
using single_instance::Forwarding;

namespace {

// A name of its own for each test, in the test's runtime folder (kept short: a socket's path
// has room for about a hundred bytes).
QString testServerName()
{
    static int count = 0;
    return single_instance::serverName(QStringLiteral("test%1").arg(++count));
}

struct ChildResult {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
};

// Runs forward_child with `arguments` in `folder`, serving the event loop meanwhile.
ChildResult forwardFromChild(const QString& serverName, const QStringList& arguments, const QString& folder = {})
{
    QProcess child;
    child.setProgram(QStringLiteral(VANTREL_FORWARD_CHILD));
    child.setArguments(QStringList{serverName} + arguments);
    child.setWorkingDirectory(folder.isEmpty() ? QDir::currentPath() : folder);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QSignalSpy finished(&child, &QProcess::finished);
    child.start();
    if (!finished.wait(60000)) {
        child.kill();
        child.waitForFinished();
        return {};
    }
    return {child.exitCode(), child.exitStatus()};
}

// A socket file that nobody listens on, as an instance that crashed leaves it.
bool makeStaleSocket(const QString& path)
{
    QFile::remove(path);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    if (descriptor < 0 || encoded.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::copy(encoded.begin(), encoded.end(), address.sun_path);
    const bool bound = ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(descriptor);
    return bound && QFile::exists(path);
}

QByteArray header(quint32 length)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(length, bytes.data());
    return bytes;
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theNameIsTheUsersOwn()
    {
        const QString name = single_instance::serverName(QStringLiteral("org.vantrel.Vantrel"));
        QVERIFY(name.startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/'));
        QVERIFY(name.contains(QStringLiteral("org.vantrel.Vantrel")));
    }

    void laterStartsHandTheirURLsOver()
    {
        SingleInstanceServer server(testServerName());
        QVERIFY2(server.listen(), qPrintable(server.errorString()));
        QSignalSpy received(&server, &SingleInstanceServer::urlsReceived);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());

        const QString select = QStringLiteral("vantrel://select/0F5C3E0A-9B1D-4C2E-8F7A-1D2B3C4D5E6F");
        const ChildResult withURLs =
            forwardFromChild(server.serverName(), {select, QStringLiteral("Our #team.vantrelteam")}, folder.path());
        QCOMPARE(withURLs.status, QProcess::NormalExit);
        QCOMPARE(withURLs.exitCode, 0);
        QTRY_COMPARE(received.count(), 1);
        const QString bundle =
            QUrl::fromLocalFile(folder.filePath(QStringLiteral("Our #team.vantrelteam"))).toString(QUrl::FullyEncoded);
        QCOMPARE(received.takeFirst().at(0).toStringList(), QStringList({select, bundle}));

        // A plain second start: the running instance is told, with no URL, to come forward.
        const ChildResult plain = forwardFromChild(server.serverName(), {});
        QCOMPARE(plain.exitCode, 0);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.takeFirst().at(0).toStringList(), QStringList());
    }

    void oneServerPerName()
    {
        const QString name = testServerName();
        QCOMPARE(single_instance::forwardToRunningInstance({}, name, 5000), Forwarding::noInstance);
        QCOMPARE(forwardFromChild(name, {}).exitCode, 3);

        SingleInstanceServer first(name);
        QVERIFY(first.listen());
        SingleInstanceServer second(name);
        QVERIFY(!second.listen());
        QVERIFY(!second.errorString().isEmpty());
        QVERIFY(first.isListening());
        QSignalSpy received(&first, &SingleInstanceServer::urlsReceived);
        QCOMPARE(forwardFromChild(name, {QStringLiteral("vantrel://quit")}).exitCode, 0);
        QTRY_COMPARE(received.count(), 1);

        // A restart frees the name before the new process starts.
        first.release();
        QVERIFY(!first.isListening());
        QVERIFY(!QFile::exists(name));
        QCOMPARE(single_instance::forwardToRunningInstance({}, name, 5000), Forwarding::noInstance);
        QVERIFY(second.listen());
    }

    void aStaleSocketIsTakenOver()
    {
        const QString name = testServerName();
        QVERIFY(makeStaleSocket(name));
        QCOMPARE(single_instance::forwardToRunningInstance({}, name, 5000), Forwarding::noInstance);

        SingleInstanceServer server(name);
        QVERIFY2(server.listen(), qPrintable(server.errorString()));
        QSignalSpy received(&server, &SingleInstanceServer::urlsReceived);
        QCOMPARE(forwardFromChild(name, {QStringLiteral("vantrel://update")}).exitCode, 0);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.takeFirst().at(0).toStringList(), QStringList{QStringLiteral("vantrel://update")});
    }

    void tooManyURLsAreNotSent()
    {
        SingleInstanceServer server(testServerName());
        QVERIFY(server.listen());
        const QStringList urls(100, QString(1000, u'x'));
        QVERIFY(single_instance::encode(urls).isEmpty());
        QCOMPARE(single_instance::forwardToRunningInstance(urls, server.serverName(), 5000), Forwarding::failed);
    }

    void peersThatBreakTheProtocolAreDropped_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("accepted");
        const QByteArray good = single_instance::encode({QStringLiteral("vantrel://quit")});
        QTest::newRow("a good message") << good << true;
        QTest::newRow("nothing") << QByteArray() << false;
        QTest::newRow("less than announced") << header(10) + "[\"a\"" << false;
        QTest::newRow("more than announced") << good + "x" << false;
        QTest::newRow("announces too much") << header(0xFFFFFFFF) + "[]" << false;
        QTest::newRow("not JSON") << header(5) + "hello" << false;
        QTest::newRow("not strings") << header(5) + "[1,2]" << false;
    }

    void peersThatBreakTheProtocolAreDropped()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, accepted);
        SingleInstanceServer server(testServerName());
        server.setPeerTimeout(200);
        QVERIFY(server.listen());
        QSignalSpy received(&server, &SingleInstanceServer::urlsReceived);

        QLocalSocket peer;
        QByteArray answer;
        connect(&peer, &QLocalSocket::readyRead, this, [&] { answer += peer.readAll(); });
        QSignalSpy disconnected(&peer, &QLocalSocket::disconnected);
        peer.connectToServer(server.serverName());
        QVERIFY(peer.waitForConnected(5000));
        peer.write(bytes);
        QVERIFY(disconnected.wait(30000));
        QCOMPARE(answer, accepted ? QByteArray(1, single_instance::acknowledgement) : QByteArray());
        if (accepted) {
            QTRY_COMPARE(received.count(), 1);
        } else {
            QCoreApplication::processEvents();
            QCOMPARE(received.count(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
