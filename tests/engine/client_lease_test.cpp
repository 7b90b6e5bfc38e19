// Client ids between real processes: each start of the application is a process of its own
// (tests/engine/identity_child.cpp) given a data folder, standing for the user's home folder, and
// a machine. Several machines that share one home folder must never act as one client, and
// neither may two processes of one machine.

#include "engine/client_lease.h"
#include "engine/engine_errors.h"
#include "engine/team_bundle.h"
#include "support/child_process.h"
#include "support/engine_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A running identity_child, killed and reaped when dropped.
class Child {
public:
    // Its standard input is `input`, or a pipe of its own when that is -1.
    Child(const QString& dataFolder, const QString& machine, const QStringList& arguments, const QString& errorPath,
          int input = -1)
    {
        QList<QByteArray> argv{QByteArray(VANTREL_IDENTITY_CHILD), QFile::encodeName(dataFolder), machine.toUtf8()};
        for (const QString& argument : arguments)
            argv << QFile::encodeName(argument);
        int own[2] = {-1, -1};
        if (input < 0 && ::pipe2(own, O_CLOEXEC) != 0)
            return;
        m_pid = spawnChild(argv, QFile::encodeName(errorPath), input < 0 ? own[0] : input, m_out, m_failure);
        if (own[0] >= 0)
            ::close(own[0]);
        m_in = own[1];
    }
    ~Child()
    {
        kill();
        end();
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The rest of the first line that starts with `prefix`; empty when the child ended or did not
    // print it in time.
    QString waitFor(const QByteArray& prefix) { return line(prefix).value_or(QString()); }
    std::optional<QString> line(const QByteArray& prefix)
    {
        const auto deadline = Clock::now() + 60s;
        for (;;) {
            for (qsizetype end; (end = m_buffer.indexOf('\n')) >= 0;) {
                const QByteArray line = m_buffer.left(end);
                m_buffer.remove(0, end + 1);
                m_printed += line + " | ";
                if (line.startsWith(prefix))
                    return QString::fromUtf8(line.mid(prefix.size()));
            }
            if (m_out < 0 || Clock::now() > deadline)
                return std::nullopt;
            pollfd entry{m_out, POLLIN, 0};
            if (::poll(&entry, 1, 100) <= 0)
                continue;
            char bytes[1024];
            const ssize_t count = ::read(m_out, bytes, sizeof bytes);
            if (count > 0) {
                m_buffer.append(bytes, count);
            } else if (count == 0) {
                ::close(m_out);
                m_out = -1;
            }
        }
    }

    // Lets it end by closing its standard input, and reaps it.
    void end()
    {
        if (m_in >= 0)
            ::close(m_in);
        m_in = -1;
        if (m_pid > 0)
            reapChild(m_pid);
        m_pid = -1;
        if (m_out >= 0)
            ::close(m_out);
        m_out = -1;
    }
    void kill()
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL); // not reaped yet, so `m_pid` is still this child
    }
    QString describe() const { return m_failure + QString::fromUtf8(m_printed); }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;
    QByteArray m_buffer;
    QByteArray m_printed;
    QString m_failure;
};

// A pipe whose read end several children take as standard input: closing the write end releases
// them all at the same moment.
class StartSignal {
public:
    StartSignal() { QVERIFY(::pipe2(m_fds, O_CLOEXEC) == 0); }
    ~StartSignal()
    {
        closeReadEnd();
        fire();
    }
    StartSignal(const StartSignal&) = delete;
    StartSignal& operator=(const StartSignal&) = delete;
    int readEnd() const { return m_fds[0]; }
    void closeReadEnd() { closeEnd(0); }
    void fire() { closeEnd(1); }

private:
    void closeEnd(int end)
    {
        if (m_fds[end] >= 0)
            ::close(m_fds[end]);
        m_fds[end] = -1;
    }
    int m_fds[2] = {-1, -1};
};

ClientIdentity identity(const QString& clientId)
{
    return ClientIdentity{clientId, UserIdentity{QStringLiteral("ana"), QStringLiteral("Ana"), QStringLiteral("bay-1")}};
}

} // namespace

class ClientLeaseTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_count = 0;

    QString scratch(const QString& name)
    {
        const QString path = m_dir.filePath(QStringLiteral("%1-%2").arg(name).arg(++m_count));
        QDir().mkpath(path);
        return path;
    }
    std::unique_ptr<Child> spawn(const QString& dataFolder, const QString& machine, const QStringList& arguments, int input = -1)
    {
        return std::make_unique<Child>(dataFolder, machine, arguments, m_dir.filePath(QStringLiteral("stderr-%1").arg(++m_count)),
                                       input);
    }
    QString idOf(const QString& dataFolder, const QString& machine)
    {
        return spawn(dataFolder, machine, {QStringLiteral("id")})->waitFor("id ");
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(QStringLiteral(VANTREL_IDENTITY_CHILD)).isExecutable(), VANTREL_IDENTITY_CHILD);
        QVERIFY(m_dir.isValid());
        std::signal(SIGPIPE, SIG_IGN);
    }

    // Lock files live in a private folder of the runtime folder, and never in one that others
    // can write to or that is a link.
    void lockFolderIsPrivate()
    {
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        const QString runtime = scratch(QStringLiteral("runtime"));
        const QString link = m_dir.filePath(QStringLiteral("runtime-link"));
        QVERIFY(QFile::link(runtime, link));
        const auto folderWith = [&](const QString& value, QFile::Permissions permissions) {
            QFile::setPermissions(runtime, permissions);
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(value));
            return ClientLease::lockFolder();
        };
        const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        QCOMPARE(folderWith(runtime, owner), runtime + QStringLiteral("/vantrel"));
        struct stat info {};
        QVERIFY(::lstat(QFile::encodeName(runtime + QStringLiteral("/vantrel")).constData(), &info) == 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
        QVERIFY(!folderWith(runtime, owner | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther).startsWith(runtime));
        QVERIFY(!folderWith(link, owner).startsWith(link));
        QVERIFY(!folderWith(QStringLiteral("relative"), owner).startsWith(QStringLiteral("relative")));
        const QString fallback = folderWith(QString(), owner);
        QVERIFY(::lstat(QFile::encodeName(fallback).constData(), &info) == 0);
        QVERIFY(S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0);
        qputenv("XDG_RUNTIME_DIR", saved);
        if (saved.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
    }

    // One home folder on several machines: an id per machine, the same for every process of a
    // machine, also when they all start at once.
    void sharedHomeGivesEachMachineItsOwnId()
    {
        const QString home = scratch(QStringLiteral("home"));
        const QStringList machines{QStringLiteral("edit-1"), QStringLiteral("edit-2"), QStringLiteral("edit-3")};
        StartSignal start;
        std::vector<std::unique_ptr<Child>> children;
        for (const QString& machine : machines) {
            for (int i = 0; i < 2; ++i)
                children.push_back(spawn(home, machine, {QStringLiteral("id"), QStringLiteral("--wait")}, start.readEnd()));
        }
        start.closeReadEnd();
        for (const auto& child : children)
            QVERIFY2(child->line("ready"), qPrintable(child->describe()));
        start.fire();

        QStringList ids;
        for (const auto& child : children) {
            ids << child->waitFor("id ");
            QVERIFY2(!ids.last().isEmpty(), qPrintable(child->describe()));
        }
        for (int machine = 0; machine < int(machines.size()); ++machine) {
            QCOMPARE(ids[2 * machine + 1], ids[2 * machine]);
            QCOMPARE(idOf(home, machines[machine]), ids[2 * machine]); // kept
            for (int other = 0; other < machine; ++other)
                QVERIFY(ids[2 * machine] != ids[2 * other]);
        }
        // Another home folder is another installation.
        QVERIFY(idOf(scratch(QStringLiteral("home")), machines[0]) != ids[0]);
    }

    // The single id of an older version goes to exactly one of the machines that start at once
    // (and to every process of that machine); the others make their own.
    void legacyIdIsAdoptedByExactlyOneMachine()
    {
        const QString legacy = QStringLiteral("0F2D3C4B-5A69-4788-9766-A5B4C3D2E1F0");
        QMap<QString, int> winners;
        for (int round = 0; round < 8; ++round) {
            const QString home = scratch(QStringLiteral("legacy"));
            writeFile(home + QStringLiteral("/Vantrel/client-id"), legacy.toUtf8() + '\n');
            StartSignal start;
            std::vector<std::unique_ptr<Child>> children;
            for (int machine = 0; machine < 4; ++machine) {
                for (int i = 0; i < 2; ++i)
                    children.push_back(spawn(home, QStringLiteral("bay-%1").arg(machine),
                                             {QStringLiteral("id"), QStringLiteral("--wait")}, start.readEnd()));
            }
            start.closeReadEnd();
            for (const auto& child : children)
                QVERIFY2(child->line("ready"), qPrintable(child->describe()));
            start.fire();

            QSet<QString> machinesWithLegacy;
            QSet<QString> distinct;
            for (int machine = 0; machine < 4; ++machine) {
                const QString first = children[size_t(2 * machine)]->waitFor("id ");
                const QString second = children[size_t(2 * machine + 1)]->waitFor("id ");
                QVERIFY2(!first.isEmpty(), qPrintable(children[size_t(2 * machine)]->describe()));
                QCOMPARE(second, first);
                if (first == legacy)
                    machinesWithLegacy << QString::number(machine);
                distinct << first;
            }
            QCOMPARE(machinesWithLegacy.size(), 1);
            QCOMPARE(distinct.size(), 4);
            QVERIFY(!QFileInfo::exists(home + QStringLiteral("/Vantrel/client-id")));
            const QString winner = *machinesWithLegacy.begin();
            QCOMPARE(idOf(home, QStringLiteral("bay-") + winner), legacy); // for good
            winners[winner] += 1;
        }
        qInfo("machines that took the old id: %s", qPrintable(QStringList(winners.keys()).join(u' ')));
    }

    // A second process of one installation on one machine is refused with a clear error while
    // the first runs, however the first ends; other machines sharing the home folder are not.
    void secondProcessOfAClientIsRefused()
    {
        TeamFixture fixture;
        const QString home = scratch(QStringLiteral("home"));
        const QString local = scratch(QStringLiteral("local"));
        const QStringList open{QStringLiteral("open"), fixture.root(), local};

        auto first = spawn(home, QStringLiteral("edit-1"), open);
        const QString id = first->waitFor("open ");
        QVERIFY2(!id.isEmpty(), qPrintable(first->describe()));

        auto second = spawn(home, QStringLiteral("edit-1"), open);
        const QString refused = second->waitFor("error ");
        QVERIFY2(refused.startsWith(QLatin1String("clientInUse ")), qPrintable(second->describe()));
        QVERIFY2(refused.contains(QLatin1String("already running")), qPrintable(refused));
        // This process is another process too, whether it opens or creates.
        try {
            TeamBundle::open(fixture.root(), localFileManager(local), std::make_shared<RecordingWorkspace>(), identity(id));
            QFAIL("opened a team bundle as a client that another process is");
        } catch (const TeamBundleError& error) {
            QCOMPARE(error.which(), TeamBundleError::Case::clientInUse);
            QVERIFY(error.recoverySuggestion().value_or(QString()).contains(QLatin1String("Quit")));
        }
        const QString created = scratch(QStringLiteral("new")) + QStringLiteral("/New.vantrelteam");
        QVERIFY_THROWS_EXCEPTION(TeamBundleError, TeamBundle::create(created, localFileManager(local),
                                                                     std::make_shared<RecordingWorkspace>(), identity(id)));
        QVERIFY(!QFileInfo::exists(created));

        // The same home folder on another machine is another client.
        auto elsewhere = spawn(home, QStringLiteral("edit-2"), open);
        const QString otherId = elsewhere->waitFor("open ");
        QVERIFY2(!otherId.isEmpty() && otherId != id, qPrintable(elsewhere->describe()));

        // Free once the first has quit, and once its successor has been killed.
        first->end();
        auto third = spawn(home, QStringLiteral("edit-1"), open);
        QCOMPARE(third->waitFor("open "), id);
        third->kill();
        third->end();
        auto fourth = spawn(home, QStringLiteral("edit-1"), open);
        QCOMPARE(fourth->waitFor("open "), id);
    }

    // One process may open several team bundles, and one twice, with one id: the id stays taken
    // until the last of them is closed.
    void oneProcessOpensBundlesWithOneIdManyTimes()
    {
        TeamFixture fixture;
        const QString id = QStringLiteral("CLIENT-SHARED");
        const QString local = scratch(QStringLiteral("local"));
        const auto manager = localFileManager(local);
        const auto workspace = std::make_shared<RecordingWorkspace>();
        const QString otherRoot = scratch(QStringLiteral("other")) + QStringLiteral("/Other.vantrelteam");

        std::vector<std::shared_ptr<TeamBundle>> teams;
        teams.push_back(TeamBundle::open(fixture.root(), manager, workspace, identity(id)));
        teams.push_back(TeamBundle::open(fixture.root(), manager, workspace, identity(id)));
        teams.push_back(TeamBundle::create(otherRoot, manager, workspace, identity(id)));
        teams.push_back(TeamBundle::open(fixture.root(), manager, workspace, identity(QStringLiteral("CLIENT-OTHER"))));

        const QStringList open{QStringLiteral("open"), fixture.root(), scratch(QStringLiteral("child")), id};
        const QString home = scratch(QStringLiteral("home"));
        while (teams.size() > 1) {
            auto child = spawn(home, QStringLiteral("edit-1"), open);
            QVERIFY2(child->waitFor("error ").startsWith(QLatin1String("clientInUse")), qPrintable(child->describe()));
            teams.erase(teams.begin());
        }
        // Only CLIENT-OTHER is left.
        auto child = spawn(home, QStringLiteral("edit-1"), open);
        QCOMPARE(child->waitFor("open "), id);
        QVERIFY_THROWS_EXCEPTION(TeamBundleError, TeamBundle::open(fixture.root(), manager, workspace, identity(id)));

        // An id that can't name a client is refused before anything is touched.
        for (const QString& bad : {QString(), QStringLiteral("../up"), QStringLiteral(".hidden"), QStringLiteral("a\nb")})
            QVERIFY_THROWS_EXCEPTION(Error, TeamBundle::open(fixture.root(), manager, workspace, identity(bad)));
    }
};

QTEST_GUILESS_MAIN(ClientLeaseTest)
#include "client_lease_test.moc"
