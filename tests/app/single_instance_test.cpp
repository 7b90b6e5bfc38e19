#include "app/single_instance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/resource.h>
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

// A socket file bound at `path`: one that nobody listens on, as an instance that crashed leaves
// it, or (`listening`) one whose connections are queued and never taken. The descriptor, or -1.
int makeSocket(const QString& path, bool listening)
{
    QFile::remove(path);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    if (descriptor < 0 || encoded.size() >= qsizetype(sizeof address.sun_path))
        return -1;
    std::copy(encoded.begin(), encoded.end(), address.sun_path);
    if (::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || (listening && ::listen(descriptor, 8) != 0)) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

bool makeStaleSocket(const QString& path)
{
    const int descriptor = makeSocket(path, false);
    if (descriptor >= 0)
        ::close(descriptor);
    return descriptor >= 0 && QFile::exists(path);
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

    // Links far beyond what one read takes are handed over whole. A start that cannot hand over
    // (too many links, or an instance that does not answer) ends, saying why, and never runs
    // beside the instance.
    void aStartHandsOverOrEnds()
    {
        SingleInstanceServer server(testServerName());
        QVERIFY(server.listen());
        QSignalSpy received(&server, &SingleInstanceServer::urlsReceived);
        QStringList many;
        for (int i = 0; i < 300; ++i)
            many << QStringLiteral("vantrel://select/%1-").arg(i) + QString(1000, u'x');
        QCOMPARE(forwardFromChild(server.serverName(), many).exitCode, 0);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.takeFirst().at(0).toStringList(), many);

        SingleInstanceServer later(server.serverName());
        const QStringList tooMany(9000, QString(1000, u'x'));
        auto start = single_instance::handOverOrListen(tooMany, later, 5000);
        QCOMPARE(start.exitStatus, std::optional(1));
        QVERIFY2(start.message.contains(QStringLiteral("too many")), qPrintable(start.message));
        QVERIFY(!later.isListening());

        // An instance that takes the connection and never answers.
        const QString silent = testServerName();
        const int listener = makeSocket(silent, true);
        QVERIFY(listener >= 0);
        SingleInstanceServer beside(silent);
        start = single_instance::handOverOrListen({QStringLiteral("vantrel://quit")}, beside, 300);
        ::close(listener);
        QCOMPARE(start.exitStatus, std::optional(1));
        QVERIFY2(start.message.contains(QStringLiteral("did not answer")), qPrintable(start.message));
        QVERIFY(!beside.isListening());
    }

    // A burst of silent starts at the limit of open files: the instance runs out of descriptors
    // to take them with, but keeps listening, lets the silent ones go, and a start in the middle
    // of the burst still hands over.
    void aBurstAtTheDescriptorLimitLeavesTheNameServed()
    {
        SingleInstanceServer server(testServerName());
        QVERIFY(server.listen());
        QSignalSpy received(&server, &SingleInstanceServer::urlsReceived);

        QProcess burst;
        burst.setProgram(QStringLiteral(VANTREL_FORWARD_CHILD));
        burst.setArguments({QStringLiteral("--burst"), server.serverName(), QStringLiteral("1050"),
                            QString::number(SingleInstanceServer::maxPeers * 3)});
        burst.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QSignalSpy finished(&burst, &QProcess::finished);
        burst.start();
        QVERIFY(burst.waitForReadyRead(30000));
        QCOMPARE(burst.readLine(), QByteArray("ready\n"));

        // Room for fewer peers than the server waits for at once.
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const auto restore = qScopeGuard([saved] { ::setrlimit(RLIMIT_NOFILE, &saved); });
        rlimit lowered = saved;
        lowered.rlim_cur = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::NoDotAndDotDot).size()
                           + SingleInstanceServer::maxPeers / 2;
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        burst.write("go\n");
        QTRY_VERIFY_WITH_TIMEOUT(burst.canReadLine() || !finished.isEmpty(), 60000);
        const QByteArray ended = burst.readLine();
        QVERIFY2(finished.isEmpty(), ended.constData());

        ::setrlimit(RLIMIT_NOFILE, &saved); // for the process of the next start
        QVERIFY(server.isListening());
        QCOMPARE(forwardFromChild(server.serverName(), {QStringLiteral("vantrel://quit")}).exitCode, 0);
        QTRY_COMPARE(received.count(), 1);
        burst.write("done\n");
        QVERIFY(finished.wait(30000));
        QCOMPARE(burst.exitCode(), 0);
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
