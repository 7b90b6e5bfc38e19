#include "engine/engine_errors.h"
#include "engine/share/share_probe.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/storage_error.h"
#include "support/engine_test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <future>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::testing;

Q_DECLARE_METATYPE(vantrel::ShareCapability)

namespace {

QStringList probeLeftovers(const QString& root)
{
    return QDir(root).entryList({QStringLiteral(".share-check-*")}, QDir::AllEntries | QDir::Hidden);
}

std::shared_ptr<TeamBundle> createAt(const QString& path)
{
    const QString local = QFileInfo(path).path() + QStringLiteral("/local");
    return TeamBundle::create(
        path,
        std::make_shared<SystemFileManager>(local + QStringLiteral("/data"), local + QStringLiteral("/cache"),
                                            local + QStringLiteral("/downloads")),
        std::make_shared<RecordingWorkspace>(),
        ClientIdentity{QStringLiteral("PROBER"),
                       UserIdentity{QStringLiteral("prober"), QStringLiteral("Prober"), QStringLiteral("host")}});
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// An sshd of its own on a free local port, and one sshfs mount of `export` from an SFTP server
// that lacks posix-rename. Unmounts and stops what it started when it goes.
class ShareWithoutPosixRename {
public:
    explicit ShareWithoutPosixRename(const QString& folder) : m_folder(folder)
    {
        const QString sshd = QStringLiteral("/usr/sbin/sshd");
        const QString sftpServer = QStringLiteral("/usr/lib/openssh/sftp-server");
        if (!QFileInfo::exists(QStringLiteral("/dev/fuse")))
            m_missing = QStringLiteral("FUSE (/dev/fuse)");
        else if (!QFileInfo(sshd).isExecutable() || !QFileInfo(sftpServer).isExecutable())
            m_missing = QStringLiteral("sshd and sftp-server (openssh-server)");
        else if (QStandardPaths::findExecutable(QStringLiteral("sshfs")).isEmpty())
            m_missing = QStringLiteral("sshfs");
        if (!m_missing.isEmpty())
            return;
        QDir().mkpath(exportFolder());
        QDir().mkpath(mountPoint());
        const auto key = [&](const QString& name) {
            QProcess::execute(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"),
                                                             QStringLiteral("ed25519"), QStringLiteral("-N"), QString(),
                                                             QStringLiteral("-f"), m_folder + QLatin1Char('/') + name});
        };
        key(QStringLiteral("hostkey"));
        key(QStringLiteral("userkey"));
        QFile::copy(m_folder + QStringLiteral("/userkey.pub"), m_folder + QStringLiteral("/authorized_keys"));
        const int port = freePort();
        writeFile(m_folder + QStringLiteral("/sshd_config"),
                  QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2/hostkey\nAuthorizedKeysFile "
                                 "%2/authorized_keys\nPasswordAuthentication no\nPermitRootLogin prohibit-password\n"
                                 "StrictModes no\nPidFile %2/sshd.pid\nUsePAM no\nSubsystem sftp internal-sftp\n")
                      .arg(QString::number(port), m_folder)
                      .toUtf8());
        if (QProcess::execute(sshd, {QStringLiteral("-f"), m_folder + QStringLiteral("/sshd_config"),
                                     QStringLiteral("-E"), m_folder + QStringLiteral("/sshd.log")})
            != 0) {
            m_missing = QStringLiteral("an sshd that starts (see %1/sshd.log)").arg(m_folder);
            return;
        }
        m_sshdStarted = true;
        const QString user = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
        for (int attempt = 0; attempt < 20 && !m_mounted; ++attempt) {
            QTest::qWait(100);
            m_mounted = QProcess::execute(QStringLiteral("sshfs"),
                                          {QStringLiteral("-p"), QString::number(port), QStringLiteral("-o"),
                                           QStringLiteral("IdentityFile=%1/userkey").arg(m_folder),
                                           QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=no"),
                                           QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=/dev/null"),
                                           QStringLiteral("-o"), QStringLiteral("BatchMode=yes"), QStringLiteral("-o"),
                                           QStringLiteral("sftp_server=%1 -P posix-rename").arg(sftpServer),
                                           QStringLiteral("%1@127.0.0.1:%2").arg(user, exportFolder()), mountPoint()})
                        == 0;
        }
        if (!m_mounted)
            m_missing = QStringLiteral("an sshfs mount that works");
    }
    ~ShareWithoutPosixRename()
    {
        if (m_mounted && QProcess::execute(QStringLiteral("fusermount"), {QStringLiteral("-u"), mountPoint()}) != 0)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), mountPoint()});
        QFile pidFile(m_folder + QStringLiteral("/sshd.pid"));
        if (m_sshdStarted && pidFile.open(QIODevice::ReadOnly)) {
            const pid_t pid = pidFile.readAll().trimmed().toInt();
            // It removes its pid file as it goes: gone before the folder is removed.
            for (int wait = 0; pid > 0 && ::kill(pid, wait == 0 ? SIGTERM : 0) == 0 && wait < 50; ++wait)
                QTest::qWait(20);
        }
    }

    // What is missing to run the test, empty when the share is mounted.
    const QString& missing() const { return m_missing; }
    QString mountPoint() const { return m_folder + QStringLiteral("/mount"); }

private:
    QString exportFolder() const { return m_folder + QStringLiteral("/export"); }

    QString m_folder;
    QString m_missing;
    bool m_sshdStarted = false;
    bool m_mounted = false;
};

} // namespace

class ShareProbeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        setShareProbeFaultsForTesting({});
        setShareProbeHooksForTesting({});
        setShareProbeClockForTesting(std::nullopt);
    }

    // A share that won't replace, move or remove a file held open (SMB's share modes) is used, and
    // the client says so; a local disk does all three.
    void findsWhetherFilesHeldOpenCanBeReplaced()
    {
        TeamFixture fixture;
        QVERIFY(fixture.client(QStringLiteral("ana"))->shareOpenFiles().replacesOpenFiles());
        setShareProbeFaultsForTesting([](ShareCapability tried) {
            return tried == ShareCapability::replaceOpenFile                                            ? EEXIST
                   : tried == ShareCapability::moveOpenFile || tried == ShareCapability::removeOpenFile ? EBUSY
                                                                                                        : 0;
        });
        const auto ben = fixture.client(QStringLiteral("ben"));
        QVERIFY(!ben->writeProblem());
        const OpenFileHandling& found = ben->shareOpenFiles();
        QCOMPARE((QList<int>{found.replace, found.moveAside, found.remove}), (QList<int>{EEXIST, EBUSY, EBUSY}));
        QVERIFY(!found.replacesOpenFiles());
        const QByteArray log =
            contentOf(fixture.root() + QStringLiteral("/logs/") + ben->clientId() + QStringLiteral(".log"));
        QVERIFY2(log.contains("refuses to replace, move or remove a file held open"), log.constData());
        QCOMPARE(probeLeftovers(fixture.root()), QStringList());
    }

    // A teammate who swaps the scratch folder for a link between its making and its use: nothing
    // is made where the link leads.
    void neverFollowsASwappedScratchFolder()
    {
        TeamFixture fixture;
        const QString elsewhere = fixture.scratch(QStringLiteral("elsewhere"));
        const QString moved = fixture.scratch(QStringLiteral("moved")) + QStringLiteral("/scratch");
        bool swapped = false;
        setShareProbeHooksForTesting([&](const QString& scratch) {
            if (!std::exchange(swapped, true)) {
                QVERIFY(::rename(QFile::encodeName(scratch).constData(), QFile::encodeName(moved).constData()) == 0);
                plantLink(scratch, elsewhere);
            }
        });
        // Looked at while the probe's first file is there (it is removed at the end).
        const auto entriesOf = [](const QString& folder) {
            return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        };
        QStringList whileProbing{QStringLiteral("not looked at")};
        setShareProbeFaultsForTesting([&](ShareCapability tried) {
            if (tried == ShareCapability::flush)
                whileProbing = entriesOf(elsewhere) + entriesOf(moved);
            return 0;
        });
        QVERIFY(fixture.client(QStringLiteral("ana")));
        QCOMPARE(whileProbing, QStringList());
        QCOMPARE(entriesOf(elsewhere), QStringList());
        QCOMPARE(QDir(moved).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        // Only the planted link is left, untouched.
        const QStringList left = probeLeftovers(fixture.root());
        QCOMPARE(left.size(), 1);
        QCOMPARE(QFileInfo(fixture.root() + QLatin1Char('/') + left[0]).symLinkTarget(), elsewhere);
    }

    // A share whose flush doesn't return (a cluster file system waiting for space): creating a team
    // fails in time, opening one opens it for reading, and the probe left behind tidies up itself.
    // A slow share that answers each step in time is waited for, however long they take together.
    // Time passes by the test's clock only, as each step of the share says.
    void aFlushThatHangsIsGivenUpInTime()
    {
        TeamFixture fixture;
        const auto now = std::make_shared<std::atomic<int>>(0);
        const auto pass = [now](int milliseconds) {
            setShareProbeClockForTesting(std::chrono::milliseconds(*now += milliseconds));
        };
        pass(0);
        setShareProbeHooksForTesting({}, std::chrono::milliseconds(1000));
        setShareProbeFaultsForTesting([pass](ShareCapability) {
            pass(600);
            return 0;
        });
        QVERIFY(!fixture.client(QStringLiteral("ana"))->writeProblem());
        QVERIFY(*now > 1000);
        std::promise<void> hangs;
        bool hanging = true;
        const auto release = [&] {
            if (std::exchange(hanging, false))
                hangs.set_value();
        };
        const auto releaseOnFailure = qScopeGuard(release);
        setShareProbeFaultsForTesting([pass, released = hangs.get_future().share()](ShareCapability tried) {
            // Time goes on while the flush hangs, whenever the prober looks at it.
            if (tried == ShareCapability::flush) {
                while (released.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
                    pass(100);
            }
            return 0;
        });
        const QString made = fixture.scratch(QStringLiteral("new")) + QStringLiteral("/New.vantrelteam");
        try {
            createAt(made);
            QFAIL("a team was made on a share that didn't flush");
        } catch (const StorageError& failure) {
            QVERIFY2(failure.localizedDescription().contains(QStringLiteral("in time")),
                     qPrintable(failure.localizedDescription()));
        }
        const auto team = fixture.client(QStringLiteral("ben"));
        QVERIFY(team->writeProblem());
        QVERIFY2(team->writeProblem()->localizedDescription().contains(QStringLiteral("wasn’t stored within")),
                 qPrintable(team->writeProblem()->localizedDescription()));
        // Only now do the flushes return.
        QVERIFY(QFileInfo::exists(made));
        release();
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(made) && probeLeftovers(fixture.root()).isEmpty(), 60000);
    }

    // The folder a team is created in, on a share that fails to answer (a mount whose server
    // stopped) or never does (one whose server hangs): it can't be reached, never "could not be
    // found", and nothing is made. A folder that isn't there is not found.
    void aFolderThatDoesNotAnswerCannotBeReached()
    {
        QTemporaryDir folder;
        std::promise<void> hangs;
        const auto release = qScopeGuard([&] { hangs.set_value(); });
        const std::shared_future<void> released = hangs.get_future().share();
        const auto refusal = [](const QString& path) {
            try {
                createAt(path);
            } catch (const TeamBundleError& error) {
                return std::pair(error.kind(), error.localizedDescription());
            }
            return std::pair(TeamBundleError::Case::alreadyExists, QStringLiteral("a team was made"));
        };
        const QString path = folder.filePath(QStringLiteral("Team.vantrelteam"));
        // Until released, however long the probe waits.
        setShareProbeHooksForTesting({}, std::chrono::milliseconds(200));
        for (const int error : {ENOTCONN, EIO, 0}) {
            setShareProbeFaultsForTesting([error, released](ShareCapability tried) {
                if (tried == ShareCapability::reach && error == 0)
                    released.wait();
                return tried == ShareCapability::reach ? error : 0;
            });
            const auto [kind, description] = refusal(path);
            QCOMPARE(kind, TeamBundleError::Case::unreachable);
            QVERIFY2(description.contains(QStringLiteral("can’t be reached")), qPrintable(description));
            QVERIFY(!QFileInfo::exists(path));
        }
        setShareProbeFaultsForTesting({});
        setShareProbeHooksForTesting({}, std::chrono::minutes(5));
        QCOMPARE(refusal(folder.filePath(QStringLiteral("gone/Team.vantrelteam"))).first,
                 TeamBundleError::Case::missingFolder);
    }

    void refusesAShareThatCannotKeepThePromises_data()
    {
        QTest::addColumn<ShareCapability>("capability");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("fileSystem");
        QTest::addColumn<QString>("expected"); // in the refusal; empty when the share is accepted
        QTest::newRow("sshfs without posix-rename")
            << ShareCapability::replaceByRename << EPERM << QStringLiteral("fuse.sshfs")
            << QStringLiteral("workaround=rename");
        QTest::newRow("no rename over a file")
            << ShareCapability::replaceByRename << EPERM << QString() << QStringLiteral("renaming another over it");
        QTest::newRow("links failing") << ShareCapability::hardLink << EIO << QString()
                                       << QStringLiteral("hard link fails");
        QTest::newRow("no links at all") << ShareCapability::hardLink << EPERM << QString() << QString();
        QTest::newRow("create not exclusive")
            << ShareCapability::exclusiveCreate << EEXIST << QString() << QStringLiteral("exclusively");
        QTest::newRow("mkdir not exclusive")
            << ShareCapability::exclusiveFolder << EPERM << QString() << QStringLiteral("make a folder");
        QTest::newRow("flush refused") << ShareCapability::flush << EPERM << QString() << QStringLiteral("flush");
    }
    void refusesAShareThatCannotKeepThePromises()
    {
        QFETCH(ShareCapability, capability);
        QFETCH(int, error);
        QFETCH(QString, fileSystem);
        QFETCH(QString, expected);
        TeamFixture fixture;
        setShareProbeFaultsForTesting(
            [capability, error](ShareCapability tried) { return tried == capability ? error : 0; }, fileSystem);
        try {
            fixture.client(QStringLiteral("ana"));
            QVERIFY2(expected.isEmpty(), "the share was accepted");
        } catch (const TeamBundleError& refusal) {
            QVERIFY2(!expected.isEmpty(), qPrintable(refusal.localizedDescription()));
            QCOMPARE(refusal.kind(), TeamBundleError::Case::unsupportedShare);
            QVERIFY2(refusal.localizedDescription().contains(expected), qPrintable(refusal.localizedDescription()));
            QVERIFY(!refusal.localizedDescription().contains(QStringLiteral("permission")));
        }
        QCOMPARE(probeLeftovers(fixture.root()), QStringList());
    }

    void refusesAnRcloneMountBeforeWritingAnything()
    {
        QTemporaryDir folder;
        setShareProbeFaultsForTesting({}, QStringLiteral("fuse.rclone"));
        const QString path = folder.filePath(QStringLiteral("Team.vantrelteam"));
        try {
            createAt(path);
            QFAIL("an rclone mount was accepted");
        } catch (const TeamBundleError& refusal) {
            QCOMPARE(refusal.kind(), TeamBundleError::Case::unsupportedShare);
            QVERIFY(refusal.localizedDescription().contains(QStringLiteral("rclone")));
        }
        QVERIFY(!QFileInfo::exists(path));
    }

    void aBundleThisUserCannotWriteStillOpens()
    {
        if (::geteuid() == 0)
            QSKIP("the superuser can write to any folder");
        TeamFixture fixture;
        QVERIFY(::chmod(QFile::encodeName(fixture.root()).constData(), 0555) == 0);
        const auto team = fixture.client(QStringLiteral("ana"));
        ::chmod(QFile::encodeName(fixture.root()).constData(), 0755);
        QVERIFY(team);
    }

    void realShareWithoutPosixRename()
    {
        QTemporaryDir folder;
        ShareWithoutPosixRename share(folder.path());
        if (!share.missing().isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs %1").arg(share.missing())));
        QCOMPARE(fileSystemTypeOf(share.mountPoint()), QStringLiteral("fuse.sshfs"));
        try {
            createAt(share.mountPoint() + QStringLiteral("/Team.vantrelteam"));
            QFAIL("a share without posix-rename was accepted");
        } catch (const TeamBundleError& refusal) {
            QCOMPARE(refusal.kind(), TeamBundleError::Case::unsupportedShare);
            QVERIFY2(refusal.localizedDescription().contains(QStringLiteral("workaround=rename")),
                     qPrintable(refusal.localizedDescription()));
        }
        QCOMPARE(QDir(share.mountPoint()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        // Replacing a file there is no question of permission either.
        const QString file = share.mountPoint() + QStringLiteral("/note");
        writeFileAtomically(file, "first");
        try {
            writeFileAtomically(file, "second");
            QFAIL("the share replaced a file by rename");
        } catch (const StorageError& failure) {
            QVERIFY(failure.kind() != StorageError::Kind::permissionDenied);
            QVERIFY(failure.recoverySuggestion().value_or(QString()).contains(QStringLiteral("workaround=rename")));
        }
    }
};

QTEST_GUILESS_MAIN(ShareProbeTest)
#include "share_probe_test.moc"
