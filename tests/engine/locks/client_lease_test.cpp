// Client ids between real processes, each a start of the application (identity_child) on a given
// machine with a given data folder, standing for the home folder: machines that share a home
// folder never act as one client, and neither do two processes of one machine.

#include "engine/locks/client_lease.h"
#include "engine/engine_errors.h"
#include "engine/storage/storage_error.h"
#include "engine/team_bundle.h"
#include "support/child_process.h"
#include "support/engine_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::testing;
using namespace Qt::StringLiterals;

namespace {

ClientIdentity identity(const QString& clientId)
{
    return ClientIdentity{clientId, UserIdentity{u"ana"_s, u"Ana"_s, u"bay-1"_s}};
}

} // namespace

class ClientLeaseTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_count = 0;

    QString scratch(const QString& name)
    {
        const QString path = m_dir.filePath(u"%1-%2"_s.arg(name).arg(++m_count));
        QDir().mkpath(path);
        return path;
    }
    // Starts identity_child on `machine` with the data folder `home`; killed when dropped.
    std::unique_ptr<ChildProcess> spawn(const QString& home, const QString& machine, const QStringList& arguments,
                                        ChildInput input = ChildInput::pipe())
    {
        auto child = std::make_unique<ChildProcess>();
        child->start(QStringLiteral(VANTREL_IDENTITY_CHILD), QStringList{home, machine} + arguments, input,
                     m_dir.filePath(u"stderr-%1.txt"_s.arg(++m_count)));
        return child;
    }
    QString idOf(const QString& home, const QString& machine)
    {
        return spawn(home, machine, {u"id"_s})->waitFor("id ");
    }

    // The ids that a process on each of `machines` gets from `home` when they all start at once:
    // each waits for the end of its standard input, which one signal ends for all.
    QStringList idsStartingTogether(const QString& home, const QStringList& machines)
    {
        StartSignal start;
        std::vector<std::unique_ptr<ChildProcess>> children;
        for (const QString& machine : machines)
            children.push_back(spawn(home, machine, {u"id"_s, u"--wait"_s}, start.input()));
        start.closeReadEnd();
        for (const auto& child : children)
            child->waitFor("ready");
        start.fire();
        QStringList ids;
        for (const auto& child : children) {
            ids << child->waitFor("id ");
            if (ids.last().isEmpty())
                qWarning("%s", qPrintable(child->describe()));
        }
        return ids;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(QStringLiteral(VANTREL_IDENTITY_CHILD)).isExecutable(), VANTREL_IDENTITY_CHILD);
        QVERIFY(m_dir.isValid());
    }

    // Lock files live in a private folder of the runtime folder, never in one that others can
    // write to or that is a link.
    void lockFolderIsPrivate()
    {
        const auto restore = qScopeGuard([saved = qgetenv("XDG_RUNTIME_DIR")] { qputenv("XDG_RUNTIME_DIR", saved); });
        const QString runtime = scratch(u"runtime"_s), link = m_dir.filePath(u"runtime-link"_s);
        QVERIFY(QFile::link(runtime, link));
        const auto folderWith = [&](const QString& value, QFile::Permissions permissions) {
            QFile::setPermissions(runtime, permissions);
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(value));
            return ClientLease::lockFolder();
        };
        const auto modeOf = [](const QString& folder) { // -1 unless a folder of ours
            struct stat info {};
            const bool ours = ::lstat(QFile::encodeName(folder).constData(), &info) == 0 && S_ISDIR(info.st_mode)
                              && info.st_uid == ::geteuid();
            return ours ? int(info.st_mode & 0777) : -1;
        };
        const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        QCOMPARE(folderWith(runtime, owner), runtime + u"/vantrel"_s);
        QCOMPARE(modeOf(runtime + u"/vantrel"_s), 0700);
        QVERIFY(
            !folderWith(runtime, owner | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther).startsWith(runtime));
        QVERIFY(!folderWith(link, owner).startsWith(link));
        QVERIFY(!folderWith(u"relative"_s, owner).startsWith(u"relative"_s));
        QCOMPARE(modeOf(folderWith(QString(), owner)) & 077, 0);
    }

    // Where no runtime folder is given, the lock folder is one of /tmp, which another user can make
    // first: it is refused, saying which folder, what is wrong and what to do; one of ours that is
    // open to others is closed.
    void aFolderInTheWayIsRefusedSayingWhy()
    {
        const QString ours = scratch(u"ours"_s);
        QVERIFY(QFile::setPermissions(ours, QFile::Permissions(0x7777)));
        QCOMPARE(ClientLease::privateFolder(ours), ours);
        QCOMPARE(QFileInfo(ours).permissions() & 0x0077, QFile::Permissions());

        const auto refusal = [](const QString& path) -> std::pair<QString, QString> {
            try {
                ClientLease::privateFolder(path);
            } catch (const StorageError& error) {
                if (!error.localizedDescription().contains(path))
                    return {u"unnamed"_s, {}};
                return {error.failureReason().value_or(QString()), error.recoverySuggestion().value_or(QString())};
            }
            return {};
        };
        const QString link = m_dir.filePath(u"link-to-ours"_s), file = m_dir.filePath(u"a-file"_s);
        QVERIFY(QFile::link(ours, link));
        writeFile(file, "x");
        QVERIFY(refusal(link).first.contains(u"link"_s));
        QVERIFY(refusal(file).first.contains(u"not a folder"_s));
        QVERIFY(refusal(file).second.contains(u"Remove it"_s));

        if (::geteuid() != 0)
            QSKIP("Giving a folder to another user needs root.");
        const QString theirs = scratch(u"theirs"_s);
        QCOMPARE(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
        QVERIFY(QFile::setPermissions(theirs, QFile::Permissions(0x7777)));
        const auto [problem, remedy] = refusal(theirs);
        QVERIFY2(problem.contains(u"belongs to"_s), qPrintable(problem));
        QVERIFY2(remedy.contains(u"administrator"_s), qPrintable(remedy));
        QCOMPARE(QFileInfo(theirs).permissions() & 0x0077, QFile::Permissions(0x0077)); // left as it was
    }

    // Machines sharing one home folder, every one with two processes starting at once: an id per
    // machine, the same for both of its processes, kept for later starts. The single id of older
    // versions, when there is one, goes to exactly one machine.
    void eachMachineOfASharedHomeIsItsOwnClient()
    {
        const QString legacy = u"0F2D3C4B-5A69-4788-9766-A5B4C3D2E1F0"_s;
        const QStringList machines{u"bay-0"_s, u"bay-0"_s, u"bay-1"_s, u"bay-1"_s,
                                   u"bay-2"_s, u"bay-2"_s, u"bay-3"_s, u"bay-3"_s};
        for (int round = 0; round <= 8; ++round) { // round 0 without an old id
            const QString home = scratch(u"home"_s);
            if (round > 0)
                writeFile(home + u"/Vantrel/client-id"_s, legacy.toUtf8() + '\n');
            const QStringList ids = idsStartingTogether(home, machines);
            QVERIFY(!ids.contains(QString()));
            for (int i = 0; i < machines.size(); i += 2) {
                QCOMPARE(ids[i + 1], ids[i]);
                QCOMPARE(idOf(home, machines[i]), ids[i]);
            }
            QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), 4);
            QCOMPARE(ids.count(legacy), round > 0 ? 2 : 0);
            QVERIFY(!QFileInfo::exists(home + u"/Vantrel/client-id"_s));
        }
        QVERIFY(idOf(scratch(u"home"_s), machines[0])
                != idOf(scratch(u"home"_s), machines[0])); // a home is an installation
    }

    // While one process of an installation runs on a machine, another is refused with a clear error,
    // however the first ends; other machines sharing the home folder are not.
    void secondProcessOfAClientIsRefused()
    {
        TeamFixture fixture;
        const QString home = scratch(u"home"_s), local = scratch(u"local"_s);
        const QStringList open{u"open"_s, fixture.root(), local};
        auto first = spawn(home, u"edit-1"_s, open);
        const QString id = first->waitFor("open ");
        QVERIFY2(!id.isEmpty(), qPrintable(first->describe()));

        auto second = spawn(home, u"edit-1"_s, open);
        const QString refused = second->waitFor("error ");
        QVERIFY2(refused.startsWith(u"clientInUse "_s) && refused.contains(u"already running"_s),
                 qPrintable(second->describe()));
        // This process is another process too, whether it opens or creates.
        try {
            TeamBundle::open(fixture.root(), localFileManager(local), std::make_shared<RecordingWorkspace>(),
                             identity(id));
            QFAIL("opened a team bundle as a client that another process is");
        } catch (const TeamBundleError& error) {
            QCOMPARE(error.kind(), TeamBundleError::Case::clientInUse);
            QVERIFY(error.recoverySuggestion().value_or(QString()).contains(u"Quit"_s));
        }
        const QString created = scratch(u"new"_s) + u"/New.vantrelteam"_s;
        QVERIFY_THROWS_EXCEPTION(
            TeamBundleError,
            TeamBundle::create(created, localFileManager(local), std::make_shared<RecordingWorkspace>(), identity(id)));
        QVERIFY(!QFileInfo::exists(created));

        const QString otherId = spawn(home, u"edit-2"_s, open)->waitFor("open ");
        QVERIFY(!otherId.isEmpty() && otherId != id); // the same home on another machine

        // Free once the first has quit, and once its successor has been killed.
        first->end();
        auto third = spawn(home, u"edit-1"_s, open);
        QCOMPARE(third->waitFor("open "), id);
        third->kill();
        third->end();
        QCOMPARE(spawn(home, u"edit-1"_s, open)->waitFor("open "), id);
    }

    // One process may open several team bundles, and one twice, with one id: the id stays taken
    // until the last of them is closed. An id that can't name a client is refused.
    void oneProcessOpensBundlesWithOneIdManyTimes()
    {
        TeamFixture fixture;
        const QString id = u"CLIENT-SHARED"_s;
        const auto manager = localFileManager(scratch(u"local"_s));
        const auto workspace = std::make_shared<RecordingWorkspace>();
        std::vector<std::shared_ptr<TeamBundle>> teams;
        teams.push_back(TeamBundle::open(fixture.root(), manager, workspace, identity(id)));
        teams.push_back(TeamBundle::open(fixture.root(), manager, workspace, identity(id)));
        teams.push_back(
            TeamBundle::create(scratch(u"other"_s) + u"/Other.vantrelteam"_s, manager, workspace, identity(id)));
        teams.push_back(TeamBundle::open(fixture.root(), manager, workspace, identity(u"CLIENT-OTHER"_s)));

        const QStringList open{u"open"_s, fixture.root(), scratch(u"child"_s), id};
        const QString home = scratch(u"home"_s);
        for (; teams.size() > 1; teams.erase(teams.begin())) {
            auto child = spawn(home, u"edit-1"_s, open);
            QVERIFY2(child->waitFor("error ").startsWith(u"clientInUse"_s), qPrintable(child->describe()));
        }
        const auto last = spawn(home, u"edit-1"_s, open); // only CLIENT-OTHER is left
        QCOMPARE(last->waitFor("open "), id);
        QVERIFY_THROWS_EXCEPTION(TeamBundleError, TeamBundle::open(fixture.root(), manager, workspace, identity(id)));

        for (const QString& bad : {QString(), u"../up"_s, u".hidden"_s, u"a\nb"_s})
            QVERIFY_THROWS_EXCEPTION(Error, TeamBundle::open(fixture.root(), manager, workspace, identity(bad)));
    }
};

QTEST_GUILESS_MAIN(ClientLeaseTest)
#include "client_lease_test.moc"
