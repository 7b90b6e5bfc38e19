#include "desktop/folder_users.h"
#include "desktop/launched_applications.h"
#include "engine/engine_errors.h"
#include "engine/versioning_service.h"
#include "support/child_process.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/shell_child.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// A process with `path` open as its standard input, until killed.
void startHolding(ChildProcess& child, const QString& errors, const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    const bool started =
        child.start(program(QStringLiteral("sleep")), {QStringLiteral("600")}, ChildInput::descriptor(fd), errors);
    ::close(fd);
    QVERIFY2(started, qPrintable(child.describe()));
}

// A copy of this process that keeps `path` mapped into memory, its descriptor closed, until
// killed: only its list of mappings names the file. Given a `bound` folder, it first mounts it on
// `boundAt` in a mount namespace of its own, as a sandbox does, and `path` is one seen there.
pid_t startMapping(const QString& path, const QString& bound = {}, const QString& boundAt = {})
{
    const QByteArray name = QFile::encodeName(path);
    const QByteArray source = QFile::encodeName(bound);
    const QByteArray target = QFile::encodeName(boundAt);
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!source.isEmpty()
            && (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || ::mount(source.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0))
            ::_exit(1);
        const int fd = ::open(name.constData(), O_RDONLY);
        void* mapped = fd >= 0 ? ::mmap(nullptr, 1, PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
        if (fd >= 0)
            ::close(fd);
        const char answer = mapped == MAP_FAILED ? 'n' : 'y';
        [[maybe_unused]] const ssize_t written = ::write(ready[1], &answer, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char answer = 'n';
    [[maybe_unused]] const ssize_t read = ::read(ready[0], &answer, 1);
    ::close(ready[0]);
    return answer == 'y' ? pid : -1;
}

QMap<qint64, QString> byPid(const QList<FolderUser>& users)
{
    QMap<qint64, QString> found;
    for (const FolderUser& user : users)
        found.insert(user.pid, user.name);
    return found;
}

QList<qint64> pidsOf(const WorkingCopyInUseError& error)
{
    return byPid(error.users()).keys();
}

int atticEntries(const TeamFixture& fixture, const Service& service)
{
    return QDir(fixture.root() + QStringLiteral("/attic/") + service->id().toString())
        .entryList({QStringLiteral("*.json")})
        .size();
}

QByteArray currentContent(const TeamFixture& fixture, const Service& service)
{
    static int exports = 0;
    const QString folder = fixture.scratch(QStringLiteral("export-%1").arg(++exports));
    return contentOf(syncWait(service->exportVersion(std::nullopt, folder, defaultS3Factory())));
}

// Runs `operation`, which must be refused naming the processes `pids`.
template<typename Operation>
void expectRefused(Operation operation, const QList<qint64>& pids)
{
    try {
        syncWait(operation());
        QFAIL("went on while the working copy was in use");
    } catch (const WorkingCopyInUseError& error) {
        QCOMPARE(pidsOf(error), pids);
        QCOMPARE(error.itemName(), QStringLiteral("Cut"));
    }
}

// A team in which ana imported "Cut", and a file for what children print on their error output.
struct CutTeam {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> ana = fixture.client(QStringLiteral("ana"));
    Service cut = importCut();
    QString errors = fixture.scratch(QStringLiteral("errors")) + QStringLiteral("/errors");

    Service importCut()
    {
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Cut.kdenlive");
        writeFile(source, "first");
        return importInto(ana, source);
    }
};

} // namespace

class WorkingCopyInUseTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every way a process may use a folder is found, through a link to it too, and each process
    // is named the way people know it; a process using a file elsewhere is not.
    void findsEveryUseOfAFolder()
    {
        QTemporaryDir base;
        const QString working = base.path() + QStringLiteral("/working");
        const QString folder = working + QStringLiteral("/bundle");
        const QString file = folder + QStringLiteral("/Cut.kdenlive");
        const QString elsewhere = base.path() + QStringLiteral("/Cut.kdenlive");
        writeFile(file, "cut");
        writeFile(elsewhere, "other");
        const QString link = base.path() + QStringLiteral("/link");
        QVERIFY(QFile::link(working, link));
        // A desktop entry of the user's own names the program it runs: the entry that opens
        // files, not the one of its settings.
        writeFile(base.path() + QStringLiteral("/data/applications/film-reader-settings.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Film Reader Settings\nExec=sleep --settings\n");
        writeFile(base.path() + QStringLiteral("/data/applications/film-reader.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Film Reader\nExec=sleep %F\n");
        qputenv("XDG_DATA_HOME", QFile::encodeName(base.path() + QStringLiteral("/data")));
        const QString errors = base.path() + QStringLiteral("/errors");

        ChildProcess holding, throughLink, byURL, relative, inside, launched, other;
        startHolding(holding, errors, file);
        startShell(throughLink, errors, QStringLiteral("read line"), {link + QStringLiteral("/bundle/Cut.kdenlive")});
        startShell(byURL, errors, QStringLiteral("read line"),
                   {QString::fromUtf8(QUrl::fromLocalFile(file).toEncoded())});
        startShell(relative, errors, QStringLiteral("cd \"$1\" && echo ready && exec sh -c 'read line' sh \"$2\""),
                   {working, QStringLiteral("bundle/Cut.kdenlive")});
        startShell(inside, errors, QStringLiteral("cd \"$1\" && echo ready && exec sh -c 'read line'"), {folder});
        startShell(launched, errors, QStringLiteral("read line"));
        startShell(other, errors, QStringLiteral("cd \"$1\" && echo ready && exec sh -c 'read line' sh \"$2\""),
                   {base.path(), elsewhere});
        const pid_t mapping = startMapping(file);
        QVERIFY(mapping > 0);
        const auto reap = qScopeGuard([mapping] {
            ::kill(mapping, SIGKILL);
            ::waitpid(mapping, nullptr, 0);
        });
        LaunchedApplications::shared().remember({launched.pid(), file, QStringLiteral("Kdenlive")});

        const QMap<qint64, QString> found = byPid(processesUsingFolder(folder));
        const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        const QMap<qint64, QString> expected{{holding.pid(), QStringLiteral("Film Reader")},
                                             {throughLink.pid(), QStringLiteral("sh")},
                                             {byURL.pid(), QStringLiteral("sh")},
                                             {relative.pid(), QStringLiteral("sh")},
                                             {inside.pid(), QStringLiteral("sh")},
                                             {launched.pid(), QStringLiteral("Kdenlive")},
                                             {mapping, self}};
        QCOMPARE(found, expected);
        // Reached through the link, the folder is the same.
        QCOMPARE(byPid(processesUsingFolder(link + QStringLiteral("/bundle"))), expected);
        // Looked for together, each folder is given the processes that use it, in order: nothing
        // uses the folder of the desktop entries.
        const QList<QList<FolderUser>> each = processesUsingFolders({base.path() + QStringLiteral("/data"), folder});
        QCOMPARE(each.size(), 2);
        QVERIFY(each.at(0).isEmpty());
        QCOMPARE(byPid(each.at(1)), expected);

        // Once they end, nothing uses it.
        for (ChildProcess* child : {&holding, &throughLink, &byURL, &relative, &inside, &launched}) {
            child->kill();
            child->reap();
        }
        ::kill(mapping, SIGKILL);
        ::waitpid(mapping, nullptr, 0);
        QVERIFY(processesUsingFolder(folder).isEmpty());
    }

    // A check-in or discard while an editor has the working copy open, or was started on it, is
    // refused and changes nothing; told to go on, it goes through with the working copy kept in
    // the attic; once the editor is gone it goes through as always.
    void checkInAndDiscardWaitForTheEditor()
    {
        CutTeam team;
        auto& [fixture, ana, cut, errors] = team;
        const auto checkIn = [&cut](WorkingCopyInUse inUse) {
            return cut->checkIn(QStringLiteral("Edited"), defaultS3Factory(), inUse);
        };
        const auto discard = [&cut](WorkingCopyInUse inUse) { return cut->cancelCheckout(defaultS3Factory(), inUse); };

        QString workingCopy = checkOutItem(cut);
        writeFile(workingCopy, "edited");
        ChildProcess holding, startedOn;
        startHolding(holding, errors, workingCopy);
        startShell(startedOn, errors, QStringLiteral("read line"), {workingCopy});
        const QList<qint64> both{holding.pid(), startedOn.pid()};

        const QMap<QString, QByteArray> bundleBefore = describeTree(fixture.root());
        expectRefused([&] { return checkIn(WorkingCopyInUse::refuse); }, both);
        expectRefused([&] { return discard(WorkingCopyInUse::refuse); }, both);
        QCOMPARE(describeTree(fixture.root()), bundleBefore);
        QCOMPARE(contentOf(workingCopy), QByteArray("edited"));
        QVERIFY(ana->checkouts().find(cut->id()));
        QVERIFY(ana->locks().isMineNow(cut->id(), cut->id()));

        // Discarding anyway keeps the working copy in the attic, as every discard does.
        syncWait(discard(WorkingCopyInUse::keepInAttic));
        QVERIFY(!QFileInfo::exists(workingCopy));
        QVERIFY(!ana->checkouts().find(cut->id()));
        QCOMPARE(atticEntries(fixture, cut), 1);

        // The file the first one holds is gone; the second was started on the path the new
        // working copy takes again.
        QCOMPARE(checkOutItem(cut), workingCopy);
        writeFile(workingCopy, "edited");
        expectRefused([&] { return checkIn(WorkingCopyInUse::refuse); }, {startedOn.pid()});
        QCOMPARE(currentContent(fixture, cut), QByteArray("first"));
        syncWait(checkIn(WorkingCopyInUse::keepInAttic));
        QCOMPARE(currentContent(fixture, cut), QByteArray("edited"));
        QVERIFY(!QFileInfo::exists(workingCopy));
        QCOMPARE(atticEntries(fixture, cut), 2);

        startedOn.kill();
        startedOn.reap();
        workingCopy = checkOutItem(cut);
        writeFile(workingCopy, "edited again");
        syncWait(checkIn(WorkingCopyInUse::refuse));
        QCOMPARE(currentContent(fixture, cut), QByteArray("edited again"));
        QCOMPARE(atticEntries(fixture, cut), 2);
    }

    // Opening again after a teammate took the lock replaces the working copy left behind: while
    // an editor still has it open, that is refused before any lock is taken; told to go on, the
    // old copy goes to the attic and the teammate's version is written.
    void checkOutAsksBeforeReplacingAnOpenWorkingCopy()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Cut.kdenlive");
        writeFile(source, "first");
        const Service cut = importInto(ana, source);
        const QString workingCopy = checkOutItem(cut);
        writeFile(workingCopy, "ana's stale text");
        const Service bensCut = reopenAs(ben, cut);
        writeFile(checkOutItem(bensCut, {}, LockTakeover::forceUnlock), "ben's");
        syncWait(bensCut->checkIn(QStringLiteral("His"), defaultS3Factory()));
        ana->poll();
        QCOMPARE(contentOf(workingCopy), QByteArray("ana's stale text"));
        const int kept = atticEntries(fixture, cut);
        ChildProcess holding;
        startHolding(holding, fixture.scratch(QStringLiteral("errors")) + QStringLiteral("/errors"), workingCopy);
        const auto checkOut = [&cut](WorkingCopyInUse inUse) {
            return cut->checkOut({}, CheckOutOptions{.autoSave = false}, defaultS3Factory(), inUse);
        };

        const QMap<QString, QByteArray> bundleBefore = describeTree(fixture.root());
        expectRefused([&] { return checkOut(WorkingCopyInUse::refuse); }, {holding.pid()});
        QCOMPARE(describeTree(fixture.root()), bundleBefore);
        QCOMPARE(contentOf(workingCopy), QByteArray("ana's stale text"));
        QVERIFY(!ana->locks().isMineNow(cut->id(), cut->id()));

        QCOMPARE(syncWait(checkOut(WorkingCopyInUse::keepInAttic)), workingCopy);
        QCOMPARE(contentOf(workingCopy), QByteArray("ben's"));
        QCOMPARE(atticEntries(fixture, cut), kept + 1);
        QVERIFY(ana->locks().isMineNow(cut->id(), cut->id()));
    }

    // What happens to the working copy after the check-in looked for applications using it (an
    // editor opens it, or saves into it, once the versions are stored) is kept in the attic, and
    // the check-in, which went through, says so; a working copy only touched goes as always.
    void keepsWhatChangesAfterTheLook()
    {
        CutTeam team;
        auto& [fixture, ana, cut, errors] = team;
        // Checks in what `edited` wrote, `meanwhile` running once the version is published.
        const auto checkIn = [&](const QByteArray& edited, const std::function<void(const QString&)>& meanwhile) {
            const QString workingCopy = checkOutItem(cut);
            writeFile(workingCopy, edited);
            ana->setCommitObserverForTesting([&](TeamBundle::CommitStep step) {
                if (step == TeamBundle::CommitStep::published)
                    meanwhile(workingCopy);
            });
            const CheckInOutcome outcome = syncWait(cut->checkIn(QStringLiteral("Edited"), defaultS3Factory()));
            ana->setCommitObserverForTesting({});
            [&] {
                QCOMPARE(currentContent(fixture, cut), edited);
                QVERIFY(!QFileInfo::exists(workingCopy));
            }();
            return outcome.keptLateChanges;
        };

        ChildProcess opening;
        QVERIFY(checkIn("edited", [&](const QString& workingCopy) {
            startShell(opening, errors, QStringLiteral("exec 3>>\"$1\" && echo ready && read line"), {workingCopy});
        }));
        QCOMPARE(atticEntries(fixture, cut), 1);
        opening.kill();
        opening.reap();

        QVERIFY(checkIn("edited again", [](const QString& workingCopy) { writeFile(workingCopy, "saved late"); }));
        QCOMPARE(atticEntries(fixture, cut), 2);
        QVERIFY(keptInAttic(ana, cut, QStringLiteral("Cut.kdenlive")).contains("saved late"));

        QVERIFY(!checkIn("edited once more", [](const QString& workingCopy) {
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(workingCopy).constData(), nullptr, 0) == 0);
        }));
        QCOMPARE(atticEntries(fixture, cut), 2);
    }

    // An editor in a mount namespace of its own, reaching the working folder through a bind
    // mount (how sandboxed builds see the home folder), names it by other paths: holding the
    // working copy open, working in its folder or only mapping it, it is still found.
    void findsAnEditorInASandbox()
    {
        CutTeam team;
        auto& [fixture, ana, cut, errors] = team;
        const QString workingCopy = checkOutItem(cut);
        writeFile(workingCopy, "edited");
        const QString working = QFileInfo(workingCopy).path();
        const QString sandbox = fixture.scratch(QStringLiteral("sandbox"));
        const QString seen = sandbox + QStringLiteral("/Cut.kdenlive");
        const QString inSandbox =
            QStringLiteral("exec unshare -m sh -c 'mount --bind \"$1\" \"$2\" && %1' sh \"$1\" \"$2\"");

        if (QProcess::execute(
                program(QStringLiteral("unshare")),
                {QStringLiteral("-m"), program(QStringLiteral("mount")), QStringLiteral("--bind"), working, sandbox})
            != 0)
            QSKIP("A process can't have a mount namespace of its own here (it takes root and unshare).");

        ChildProcess holding, inside;
        startShell(holding, errors,
                   inSandbox.arg(QStringLiteral("cd / && exec sh -c \"echo ready; read line\" 3<\"$2/Cut.kdenlive\"")),
                   {working, sandbox});
        startShell(inside, errors, inSandbox.arg(QStringLiteral("cd \"$2\" && exec sh -c \"echo ready; read line\"")),
                   {working, sandbox});
        const pid_t mapping = startMapping(seen, working, sandbox);
        QVERIFY(mapping > 0);
        const auto reap = qScopeGuard([mapping] {
            ::kill(mapping, SIGKILL);
            ::waitpid(mapping, nullptr, 0);
        });
        QList<qint64> pids{holding.pid(), inside.pid(), mapping};
        std::sort(pids.begin(), pids.end());
        expectRefused(
            [&] { return cut->checkIn(QStringLiteral("Edited"), defaultS3Factory(), WorkingCopyInUse::refuse); }, pids);
        QCOMPARE(contentOf(workingCopy), QByteArray("edited"));
    }
};

QTEST_GUILESS_MAIN(WorkingCopyInUseTest)
#include "working_copy_in_use_test.moc"
