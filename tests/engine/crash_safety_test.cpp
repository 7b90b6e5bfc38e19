// Kills a writer (tests/engine/crash_child.cpp) at many moments of an import, a revert and a
// check-in, and reads the team bundle afterwards as another client: the previous state must be
// intact, and the change must be either absent or complete.

#include "desktop/system_services.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/manifest.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"
#include "engine/version_bundles.h"
#include "engine/versioning_service.h"
#include "foundation/error.h"
#include "support/child_process.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::testing;
using namespace std::chrono_literals;

namespace {

using Service = std::shared_ptr<VersioningService>;
using Tree = QMap<QString, QByteArray>;
using Clock = std::chrono::steady_clock;

const QString childClientId = QStringLiteral("CRASH-CHILD");
const QString setupClientId = QStringLiteral("SETUP");

// A library package with settings, templates and `eventCount` event folders holding media.
void makeLibrary(const QString& path, quint32 seed, int eventCount, int clipsPerEvent, qsizetype clipSize)
{
    writeFile(path + QStringLiteral("/Settings.plist"), "settings " + QByteArray::number(seed));
    writeFile(path + QStringLiteral("/Motion Templates/title.moti"), noise(seed, 5000));
    QDir().mkpath(path + QStringLiteral("/Render Cache"));
    for (int event = 1; event <= eventCount; ++event) {
        const QString folder = path + QStringLiteral("/Day %1.videoevent").arg(event);
        writeFile(folder + QStringLiteral("/Info.plist"), "event " + QByteArray::number(event));
        for (int clip = 0; clip < clipsPerEvent; ++clip)
            writeFile(folder + QStringLiteral("/Original Media/clip%1.mov").arg(clip),
                      noise(seed * 104729u + quint32(event * 1000 + clip), clipSize));
    }
}

QSet<IdFor<VersionBundle>> idsOf(const VersionBundlesIndex& index)
{
    QSet<IdFor<VersionBundle>> ids;
    for (const auto& summary : index.all)
        ids.insert(summary.id());
    return ids;
}

// Left-overs of killed writers: hidden temporary files and contents being written.
QStringList leftovers(const QString& root)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().startsWith(QLatin1String(".tmp-")) || path.contains(QLatin1String("/objects/tmp/")))
            found << path.mid(root.size());
    }
    return found;
}

// How one run of the child ended.
struct ChildRun {
    bool completed = false;                // exited 0 after printing "done"
    bool killed = false;                   // ended by our SIGKILL
    std::chrono::microseconds duration{0}; // from "open" until it ended
    QString failure;                       // anything else: what happened and what it printed on stderr
};

// Sets or clears the immutable attribute of a folder: nothing can then be created, renamed or
// removed in it, even by root, which is what a share that went away looks like to a writer.
bool setImmutable(const QString& path, bool immutable)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

class ImmutableFolder {
public:
    explicit ImmutableFolder(QString path) : m_path(std::move(path))
    {
        m_active = setImmutable(m_path, true);
        if (m_active) {
            // Some file systems accept the flag and ignore it.
            const QString probe = m_path + QStringLiteral("/probe");
            const int fd = ::open(QFile::encodeName(probe).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                ::unlink(QFile::encodeName(probe).constData());
                release();
            }
        }
    }
    ~ImmutableFolder() { release(); }
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;

    bool isActive() const { return m_active; }
    void release()
    {
        if (m_active)
            setImmutable(m_path, false);
        m_active = false;
    }

private:
    QString m_path;
    bool m_active = false;
};

// A team bundle with a collection and a document package with two versions, the local folders of
// the clients that read it, and the child that writes to it.
class Scene {
    QTemporaryDir m_dir; // first, so that it is removed after everything that uses it

public:
    Scene()
    {
        m_root = m_dir.filePath(QStringLiteral("Studio.vantrelteam"));
        m_setup = TeamBundle::create(m_root, fileManager(QStringLiteral("setup")),
                                     std::make_shared<RecordingWorkspace>(), identity(setupClientId));
        m_setup->setPollInterval(std::chrono::hours(1));
        collection = syncWait(VersioningService::createCollection(QStringLiteral("Promos"), m_setup, nullptr, nullptr));

        const QString edit = scratch(QStringLiteral("edit")) + QStringLiteral("/Edit.dra");
        makeProject(edit, 1, 6, 30000, 7);
        document = syncWait(VersioningService::import(VersioningServiceType::document, edit, std::nullopt, std::nullopt,
                                                      std::nullopt, QStringLiteral("First cut"),
                                                      DocumentApplication::none(), m_setup, nullptr, nullptr));
        syncWait(collection->addNestedVersionBundle(document, QString(), defaultS3Factory()));
        first = *document->currentVersionID();
        expected.insert(first, describeTree(edit));

        QDir(edit).removeRecursively();
        makeProject(edit, 2, 8, 40000, 7);
        second = syncWait(document->storeVersion(edit, QStringLiteral("Second cut"), VersionOrigin::checkedIn));
        expected.insert(second, describeTree(edit));
        known = idsOf(m_setup->versionBundles().liveIndex());
    }

    const QString& root() const { return m_root; }
    const std::shared_ptr<TeamBundle>& setup() const { return m_setup; }

    // A new, empty folder for sources and exports.
    QString scratch(const QString& name)
    {
        const QString path = m_dir.filePath(QStringLiteral("scratch/%1-%2").arg(name).arg(++m_scratchCount));
        QDir().mkpath(path);
        return path;
    }

    // Removes every folder scratch() made.
    void clearScratch() { QDir(m_dir.filePath(QStringLiteral("scratch"))).removeRecursively(); }

    // The team bundle as a client that has just started.
    std::shared_ptr<TeamBundle> openReader(const QString& clientId = QStringLiteral("READER"))
    {
        auto team =
            TeamBundle::open(m_root, fileManager(clientId), std::make_shared<RecordingWorkspace>(), identity(clientId));
        team->setPollInterval(std::chrono::hours(1));
        return team;
    }

    // Runs the child with `arguments` after the team bundle and local folder, and kills it
    // `killAfter` after it has opened the team bundle.
    ChildRun runChild(const QStringList& arguments, std::optional<std::chrono::microseconds> killAfter = std::nullopt)
    {
        ChildRun run;
        ChildProcess child;
        const QString local = m_dir.filePath(QStringLiteral("local/child"));
        if (!child.start(QStringLiteral(VANTREL_CRASH_CHILD), QStringList{m_root, local} + arguments,
                         ChildInput::none(), m_dir.filePath(QStringLiteral("child-stderr.txt")))) {
            run.failure = child.describe();
            return run;
        }

        // Until the child has opened the team bundle, then for as long as asked; a child that
        // hangs is killed after a minute and reported.
        pumpUntil({&child}, Clock::now() + 60s, [&] { return child.firstLine("open") || !child.isPrinting(); });
        const auto opened = child.firstLine("open");
        const bool killedHere = opened && killAfter && child.killAt(opened->arrived + *killAfter);
        finish({&child});
        if (opened)
            run.duration = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - opened->arrived);

        if (child.exitedCleanly() && child.firstLine("done")) {
            run.completed = true;
        } else if (killedHere && child.wasKilled()) {
            run.killed = true;
        } else {
            run.failure = QStringLiteral("the child did not end as it should: ") + child.describe();
        }
        return run;
    }

    Service service(const std::shared_ptr<TeamBundle>& team, VersioningServiceType type, const IdFor<VersionBundle>& id)
    {
        return openService(team, type, id);
    }

    // The tree written by exporting `version` (the current one when absent) of `service`.
    Tree exported(const Service& service, std::optional<IdFor<Versions>> version = std::nullopt)
    {
        return exportedTree(service, version, scratch(QStringLiteral("export")));
    }

    Service collection;
    Service document;
    IdFor<Versions> first;
    IdFor<Versions> second;
    // What every version of the document holds, as far as the test knows it.
    QHash<IdFor<Versions>, Tree> expected;
    QSet<IdFor<Versions>> exportedVersions;
    // The bundles in the live index before the run being checked.
    QSet<IdFor<VersionBundle>> known;
    // Runs killed after their change had become visible.
    int killedWhenVisible = 0;

private:
    std::shared_ptr<FileManaging> fileManager(const QString& client) const
    {
        return localFileManager(m_dir.filePath(QStringLiteral("local/") + client));
    }
    static ClientIdentity identity(const QString& clientId)
    {
        return ClientIdentity{clientId, UserIdentity{clientId.toLower(), clientId + QStringLiteral(" Editor"),
                                                     QStringLiteral("host-") + clientId.toLower()}};
    }

    QString m_root;
    std::shared_ptr<TeamBundle> m_setup;
    int m_scratchCount = 0;
};

// Checks the team bundle after one run of the child: `reader` has just opened it.
using Check = std::function<void(Scene&, const std::shared_ptr<TeamBundle>& reader, const ChildRun&)>;
// The arguments of one run; `seed` picks the contents it writes.
using Prepare = std::function<QStringList(Scene&, quint32 seed)>;

// Every version of the document still holds what it held. Each version is exported the first
// time it is seen (every time with `exportEvery`), the current one always; the others are read
// back from the content store.
void checkDocumentVersions(Scene& scene, const std::shared_ptr<TeamBundle>& reader, bool exportEvery = false)
{
    const Service document = scene.service(reader, VersioningServiceType::document, scene.document->id());
    const auto state = reader->snapshot()->find(scene.document->id());
    QVERIFY(state);
    QVERIFY(state->versions.size() >= 2);
    QVERIFY(state->versions[0].id == scene.first);
    QVERIFY(state->versions[1].id == scene.second);
    const IdFor<Versions> current = state->versions.last().id;
    for (const VersionInfo& version : state->versions) {
        QVERIFY2(scene.expected.contains(version.id), "a version the test does not know of");
        const Tree expected = scene.expected.value(version.id);
        QCOMPARE(storedTree(reader->contents(), version.manifest), expected);
        if (version.id != current && (exportEvery || !scene.exportedVersions.contains(version.id))) {
            QCOMPARE(scene.exported(document, version.id), expected);
            scene.exportedVersions.insert(version.id);
        }
    }
    QCOMPARE(scene.exported(document), scene.expected.value(current));
    scene.exportedVersions.insert(current);
}

// Opens the team bundle as a client that has just started, and checks what holds after any run:
// it opens without problems, nothing that was there went away and nothing went to the trash.
std::shared_ptr<TeamBundle> openAndCheck(Scene& scene)
{
    std::shared_ptr<TeamBundle> reader;
    try {
        reader = scene.openReader();
    } catch (const Error& error) {
        qWarning("%s", qPrintable(error.debugDescription()));
    }
    [&] {
        QVERIFY2(reader, "the team bundle cannot be opened");
        QCOMPARE(reader->problems(), QStringList());
        QVERIFY(idsOf(reader->versionBundles().liveIndex()).contains(scene.known));
        QVERIFY(reader->versionBundles().trashIndex().all.isEmpty());
    }();
    return QTest::currentTestFailed() ? nullptr : reader;
}

// Runs the child uninterrupted to learn how long the operation takes, then `kills` times,
// killing it at moments spread evenly over that time, then once more uninterrupted, writing the
// same contents as a run killed midway, among what the killed runs left behind. `check` runs
// after every run; every version of the document is exported at the end.
void exercise(Scene& scene, const char* what, int kills, const Prepare& prepare, const Check& check)
{
    // `check` first learns of the new versions the run made; then every version is checked.
    const auto runAndCheck = [&](quint32 seed, std::optional<std::chrono::microseconds> killAfter) {
        const ChildRun run = scene.runChild(prepare(scene, seed), killAfter);
        if (!run.completed && !run.killed) {
            QTest::qFail(qPrintable(run.failure), __FILE__, __LINE__);
            return run;
        }
        try {
            if (const auto reader = openAndCheck(scene)) {
                check(scene, reader, run);
                if (!QTest::currentTestFailed())
                    checkDocumentVersions(scene, reader);
                scene.known = idsOf(reader->versionBundles().liveIndex());
            }
        } catch (const Error& error) {
            QTest::qFail(qPrintable(error.debugDescription()), __FILE__, __LINE__);
        }
        scene.clearScratch();
        return run;
    };

    QElapsedTimer timer;
    timer.start();
    // How long a run takes varies with the load of the machine: the middle of three runs, made
    // shorter whenever a run ends before its kill. The kills reach a little past it so that the
    // last moments are covered too.
    std::vector<std::chrono::microseconds> measured;
    for (quint32 seed : {997u, 998u, 999u}) {
        const ChildRun run = runAndCheck(seed, std::nullopt);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(run.completed);
        measured.push_back(run.duration);
    }
    std::sort(measured.begin(), measured.end());
    auto duration = measured[1];

    int killed = 0;
    for (int i = 0; i < kills; ++i) {
        const auto delay = duration * 11 * i / (10 * kills);
        const ChildRun run = runAndCheck(quint32(1001 + i), delay);
        if (QTest::currentTestFailed()) {
            qWarning("%s: the child was %s %lld us after opening the team bundle", what,
                     run.killed ? "killed" : "not killed", qlonglong(delay.count()));
            return;
        }
        if (run.killed)
            ++killed;
        else
            duration = std::min(duration, run.duration);
    }
    const int leftoverCount = int(leftovers(scene.root()).size());
    // The contents of a run killed midway are partly stored already.
    const ChildRun last = runAndCheck(quint32(1001 + kills / 2), std::nullopt);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(last.completed);
    checkDocumentVersions(scene, scene.openReader(), true);
    if (QTest::currentTestFailed())
        return;
    qInfo("%s: %lld us uninterrupted, %d of %d runs killed (%d after the change had become visible), "
          "%d left-over temporary files, %lld ms in all",
          what, qlonglong(duration.count()), killed, kills, scene.killedWhenVisible, leftoverCount,
          qlonglong(timer.elapsed()));
    // Many runs must have been cut short, or the test proved little.
    QVERIFY2(killed >= kills / 3, qPrintable(QStringLiteral("only %1 of %2 runs were killed").arg(killed).arg(kills)));
}

// The bundles that appeared in the live index since the last check.
QSet<IdFor<VersionBundle>> newBundles(const Scene& scene, const std::shared_ptr<TeamBundle>& reader)
{
    return idsOf(reader->versionBundles().liveIndex()) - scene.known;
}

} // namespace

class CrashSafetyTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<Scene> m_scene; // the last exerciseImport()'s

    // Imports of the package `fill` makes, killed at moments spread over an import.
    void exerciseImport(const char* what, int kills, const std::function<void(const QString&, quint32)>& fill)
    {
        m_scene = std::make_unique<Scene>();
        Tree source;
        const Prepare prepare = [&](Scene& scene, quint32 seed) {
            const QString path = scene.scratch(QStringLiteral("import")) + QStringLiteral("/Reel.dra");
            fill(path, seed);
            source = describeTree(path);
            return QStringList{QStringLiteral("import"), path, scene.collection->id().toString()};
        };
        const Check check = [&](Scene& scene, const std::shared_ptr<TeamBundle>& reader, const ChildRun& run) {
            const auto added = newBundles(scene, reader);
            if (added.isEmpty()) {
                QVERIFY2(!run.completed, "a finished import is not in the index");
                return;
            }
            scene.killedWhenVisible += run.killed ? 1 : 0;
            QCOMPARE(added.size(), 1);
            const auto id = *added.begin();
            const Service imported = scene.service(reader, VersioningServiceType::document, id);
            QCOMPARE(imported->name(), QStringLiteral("Reel"));
            QCOMPARE(imported->versionIDs().size(), 1);
            QCOMPARE(scene.exported(imported), source);
            // Nesting is a record of its own, written after the import.
            const bool nested = reader->snapshot()->find(scene.collection->id())->children.contains(id);
            QVERIFY(nested || !run.completed);
        };
        exercise(*m_scene, what, kills, prepare, check);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(QStringLiteral(VANTREL_CRASH_CHILD)).isExecutable(), VANTREL_CRASH_CHILD);
    }
    void cleanup() { m_scene.reset(); }

    // An import shows either nothing or the whole package, never part of it.
    void interruptedImportShowsNothingOrTheWholeDocument()
    {
        exerciseImport("import", 40, [](const QString& path, quint32 seed) { makeProject(path, seed, 150, 3 << 20, 7); });
    }

    // So does one of large files, killed while it writes their packs: the next import works, and
    // a collection removes what the killed runs left.
    void interruptedImportOfLargeFilesShowsNothingOrTheWholeDocument()
    {
        exerciseImport("large import", 16, [](const QString& path, quint32 seed) {
            writeFile(path + QStringLiteral("/take.mov"), noise(seed, 40 << 20));
            writeFile(path + QStringLiteral("/notes.txt"), noise(seed + 1, 3000));
        });
        Scene* scene = m_scene.get();
        if (QTest::currentTestFailed() || !scene)
            return;
        const auto reader = scene->openReader();
        reader->collectGarbage(std::chrono::seconds(0));
        const QStringList left = leftovers(scene->root());
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
        checkDocumentVersions(*scene, reader, true);
    }

    // Two computers import one large file at the same moment, each writing the same chunks into
    // packs of its own, while a third collects: both documents read back whole, and so they do
    // after a collection once both are published.
    void twoWritersOfOneLargeFileAtOnceBothKeepIt()
    {
        Scene scene;
        const QString source = scene.scratch(QStringLiteral("both")) + QStringLiteral("/Reel.dra");
        writeFile(source + QStringLiteral("/take.mov"), noise(5, 40 << 20));
        writeFile(source + QStringLiteral("/notes.txt"), noise(6, 3000));
        const Tree expected = describeTree(source);
        ChildProcess ana;
        ChildProcess ben;
        const auto start = [&](ChildProcess& child, const QString& client) {
            return child.start(QStringLiteral(VANTREL_CRASH_CHILD),
                               {scene.root(), scene.scratch(client), QStringLiteral("import"), source,
                                scene.collection->id().toString(), client},
                               ChildInput::none(), scene.scratch(QStringLiteral("errors")) + QStringLiteral("/") + client);
        };
        QVERIFY(start(ana, QStringLiteral("ANA")) && start(ben, QStringLiteral("BEN")));
        pumpUntil({&ana, &ben}, Clock::now() + 60s, [&] { return ana.firstLine("open") || !ana.isPrinting(); });
        scene.openReader(QStringLiteral("CY"))->collectGarbage(std::chrono::minutes(10));
        finish({&ana, &ben});
        QVERIFY2(ana.exitedCleanly() && ben.exitedCleanly(), qPrintable(ana.describe() + ben.describe()));
        for (const bool collected : {false, true}) {
            const auto reader = scene.openReader();
            const auto added = newBundles(scene, reader);
            QCOMPARE(added.size(), 2);
            for (const auto& id : added)
                QCOMPARE(scene.exported(scene.service(reader, VersioningServiceType::document, id)), expected);
            if (!collected)
                reader->collectGarbage(std::chrono::seconds(0));
        }
        checkDocumentVersions(scene, scene.openReader());
    }

    // A library and its events appear together, or not at all.
    void interruptedLibraryImportShowsNothingOrTheWholeLibrary()
    {
        Scene scene;
        constexpr int eventCount = 4;
        Tree source;
        const Prepare prepare = [&](Scene& scene, quint32 seed) {
            const QString path = scene.scratch(QStringLiteral("library")) + QStringLiteral("/Feature.videolibrary");
            makeLibrary(path, seed, eventCount, 10, 50000);
            source = describeTree(path);
            return QStringList{QStringLiteral("import"), path, scene.collection->id().toString()};
        };
        const Check check = [&](Scene& scene, const std::shared_ptr<TeamBundle>& reader, const ChildRun& run) {
            const auto added = newBundles(scene, reader);
            if (added.isEmpty()) {
                QVERIFY2(!run.completed, "a finished import is not in the index");
                return;
            }
            scene.killedWhenVisible += run.killed ? 1 : 0;
            QCOMPARE(added.size(), 1 + eventCount);
            const auto snapshot = reader->snapshot();
            std::optional<IdFor<VersionBundle>> library;
            QSet<IdFor<VersionBundle>> events;
            for (const auto& id : added) {
                const auto state = snapshot->find(id);
                QVERIFY(state);
                if (state->type.isLibrary()) {
                    QVERIFY(!library);
                    library = id;
                } else {
                    QVERIFY(state->type.isEvent());
                    events.insert(id);
                }
            }
            QVERIFY(library);
            const auto children = snapshot->find(*library)->children;
            QCOMPARE(QSet<IdFor<VersionBundle>>(children.begin(), children.end()), events);
            const Service imported = scene.service(reader, VersioningServiceType::library, *library);
            QCOMPARE(scene.exported(imported), source);
            const bool nested = snapshot->find(scene.collection->id())->children.contains(*library);
            QVERIFY(nested || !run.completed);
        };
        exercise(scene, "library import", 30, prepare, check);
    }

    // After a revert the current version is the old one or the reverted-to one, with its bytes.
    void interruptedRevertKeepsOneOfTheTwoVersions()
    {
        Scene scene;
        QList<IdFor<Versions>> before{scene.first, scene.second};
        IdFor<Versions> target;
        const Prepare prepare = [&](Scene& scene, quint32) {
            // Back to whichever of the two first versions the document does not hold now.
            target =
                scene.expected.value(before.last()) == scene.expected.value(scene.first) ? scene.second : scene.first;
            return QStringList{QStringLiteral("revert"), scene.document->id().toString(), target.toString()};
        };
        const Check check = [&](Scene& scene, const std::shared_ptr<TeamBundle>& reader, const ChildRun& run) {
            QVERIFY(newBundles(scene, reader).isEmpty());
            const auto state = reader->snapshot()->find(scene.document->id());
            QList<IdFor<Versions>> versions;
            for (const auto& version : state->versions)
                versions << version.id;
            if (versions == before) {
                QVERIFY2(!run.completed, "a finished revert is not in the history");
                return;
            }
            scene.killedWhenVisible += run.killed ? 1 : 0;
            QCOMPARE(versions.size(), before.size() + 1);
            QVERIFY(versions.first(before.size()) == before);
            const VersionInfo& reverted = state->versions.last();
            QVERIFY(reverted.origin == VersionOrigin::reverted);
            QVERIFY(reverted.revertedTo == target);
            // Exported with every other version after this check.
            scene.expected.insert(reverted.id, scene.expected.value(target));
            before = versions;
        };
        exercise(scene, "revert", 40, prepare, check);
    }

    // A check-in adds a complete version or nothing; the previous one stays current otherwise.
    void interruptedCheckInKeepsThePreviousVersion()
    {
        Scene scene;
        QList<IdFor<Versions>> before{scene.first, scene.second};
        Tree source;
        const Prepare prepare = [&](Scene& scene, quint32 seed) {
            const QString path = scene.scratch(QStringLiteral("checkin")) + QStringLiteral("/Edit.dra");
            makeProject(path, seed, 60, 1 << 20, 7);
            source = describeTree(path);
            return QStringList{QStringLiteral("version"), scene.document->id().toString(), path};
        };
        const Check check = [&](Scene& scene, const std::shared_ptr<TeamBundle>& reader, const ChildRun& run) {
            QVERIFY(newBundles(scene, reader).isEmpty());
            const auto versions =
                scene.service(reader, VersioningServiceType::document, scene.document->id())->versionIDs();
            if (versions == before) {
                QVERIFY2(!run.completed, "a finished check-in is not in the history");
                return;
            }
            scene.killedWhenVisible += run.killed ? 1 : 0;
            QCOMPARE(versions.size(), before.size() + 1);
            QVERIFY(versions.first(before.size()) == before);
            scene.expected.insert(versions.last(), source);
            before = versions;
        };
        exercise(scene, "check-in", 30, prepare, check);
    }

    // A new version that shares most of its folder trees with the one before (one file edited,
    // one added, the rest hashed and found unchanged, a large file stored in chunks edited in
    // one place): a run killed at any moment leaves every version complete, and collecting what
    // killed runs left never takes a tree or chunk a version uses.
    void interruptedVersionSharingFolderTreesKeepsEveryVersion()
    {
        Scene scene;
        const QString basePath = scene.scratch(QStringLiteral("base")) + QStringLiteral("/Edit.dra");
        const QByteArray large = noise(5, 12 << 20);
        makeProject(basePath, 5, 60, 1 << 20, 7);
        writeFile(basePath + QStringLiteral("/media/large.bin"), large);
        const auto third =
            syncWait(scene.document->storeVersion(basePath, QStringLiteral("Third cut"), VersionOrigin::checkedIn));
        scene.expected.insert(third, describeTree(basePath));
        QList<IdFor<Versions>> before{scene.first, scene.second, third};
        Tree source;
        int checks = 0;
        const Prepare prepare = [&](Scene& scene, quint32 seed) {
            const QString path = scene.scratch(QStringLiteral("shared")) + QStringLiteral("/Edit.dra");
            makeProject(path, 5, 60, 1 << 20, 7);
            writeFile(path + QStringLiteral("/media/large.bin"),
                      QByteArray(large).replace(qsizetype(seed % 12) << 20, 65536, noise(seed, 65536)));
            const QString edited = path + QStringLiteral("/media/reel3/clip10.bin");
            writeFile(edited, noise(seed, QFileInfo(edited).size()));
            writeFile(path + QStringLiteral("/media/reel%1/takes/take%2.bin").arg(seed % 7).arg(seed),
                      noise(seed + 7, 20000));
            source = describeTree(path);
            return QStringList{QStringLiteral("version"), scene.document->id().toString(), path};
        };
        const Check check = [&](Scene& scene, const std::shared_ptr<TeamBundle>& reader, const ChildRun& run) {
            QVERIFY(newBundles(scene, reader).isEmpty());
            const auto versions =
                scene.service(reader, VersioningServiceType::document, scene.document->id())->versionIDs();
            if (versions == before) {
                QVERIFY2(!run.completed, "a finished version is not in the history");
            } else {
                scene.killedWhenVisible += run.killed ? 1 : 0;
                QCOMPARE(versions.size(), before.size() + 1);
                QVERIFY(versions.first(before.size()) == before);
                scene.expected.insert(versions.last(), source);
                before = versions;
            }
            // Every version is read back from the store after this check.
            if (++checks % 3 == 0)
                reader->collectGarbage(0s);
        };
        exercise(scene, "shared version", 30, prepare, check);
    }

    // The contents are stored but the record cannot be written (the share went read-only, or
    // away): the import fails and leaves no bundle behind, and works once the share is back.
    void importFailsCleanlyWhenTheRecordCannotBeWritten()
    {
        Scene scene;
        const QString source = scene.scratch(QStringLiteral("lost")) + QStringLiteral("/Reel.dra");
        makeProject(source, 77, 20, 200000, 7);
        const Tree sourceTree = describeTree(source);
        const auto doImport = [&](const std::shared_ptr<TeamBundle>& team) {
            return syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt,
                                                      std::nullopt, std::nullopt, QStringLiteral("Imported"),
                                                      DocumentApplication::none(), team, nullptr, nullptr));
        };
        const auto checkNothingChanged = [&](const std::shared_ptr<TeamBundle>& team) {
            QCOMPARE(idsOf(team->versionBundles().liveIndex()), scene.known);
            const auto reader = scene.openReader();
            QCOMPARE(reader->problems(), QStringList());
            QCOMPARE(idsOf(reader->versionBundles().liveIndex()), scene.known);
            QCOMPARE(scene.service(reader, VersioningServiceType::document, scene.document->id())->versionIDs(),
                     (QList<IdFor<Versions>>{scene.first, scene.second}));
        };

        // A client that has never written: its journal folder cannot be made.
        {
            const auto newcomer = scene.openReader(QStringLiteral("NEWCOMER"));
            ImmutableFolder journal(scene.root() + QStringLiteral("/journal"));
            if (!journal.isActive())
                QSKIP("this file system cannot make a folder unwritable");
            QVERIFY_THROWS_EXCEPTION(StorageError, doImport(newcomer));
            // It failed at the record: the contents were stored already.
            QVERIFY(newcomer->contents().contains(hashBytes(sourceTree.value(QStringLiteral("project.drp")))));
            checkNothingChanged(newcomer);
        }

        // A client that has written before: its record cannot be added.
        const auto team = scene.setup();
        ImmutableFolder journal(scene.root() + QStringLiteral("/journal/") + setupClientId);
        QVERIFY(journal.isActive());
        QVERIFY_THROWS_EXCEPTION(StorageError, doImport(team));
        QVERIFY_THROWS_EXCEPTION(StorageError,
                                 syncWait(scene.document->revertVersionBundle(scene.first, defaultS3Factory())));
        QCOMPARE(*scene.document->currentVersionID(), scene.second);
        checkNothingChanged(team);

        journal.release();
        const Service imported = doImport(team);
        QCOMPARE(scene.exported(imported), sourceTree);
        QVERIFY(openAndCheck(scene));
    }

    // A writer killed after publishing its record but before rewriting its head file: clients
    // that were already running must see the record too, not only clients that open later.
    void recordPublishedJustBeforeACrashReachesRunningClients()
    {
        Scene scene;
        const auto watcher = scene.openReader(QStringLiteral("WATCHER"));
        const QString head = scene.root() + QStringLiteral("/journal/") + childClientId + QStringLiteral("/head");
        const auto revertTo = [&](const IdFor<Versions>& version) {
            return scene.runChild({QStringLiteral("revert"), scene.document->id().toString(), version.toString()})
                .completed;
        };
        QVERIFY(revertTo(scene.first));
        watcher->poll();
        const Service watched = scene.service(watcher, VersioningServiceType::document, scene.document->id());
        QCOMPARE(watched->versionIDs().size(), 3);

        const QByteArray headBefore = readWholeFile(head, readLimits::journalHead);
        QVERIFY(revertTo(scene.second));
        writeFileAtomically(head, headBefore); // what a kill between the record and the head leaves
        const auto fresh = scene.service(scene.openReader(), VersioningServiceType::document, scene.document->id());
        QCOMPARE(fresh->versionIDs().size(), 4);

        watcher->poll();
        QCOMPARE(watched->versionIDs().size(), 4);

        // The writer's next record brings both.
        QVERIFY(revertTo(scene.first));
        watcher->poll();
        QCOMPARE(watched->versionIDs().size(), 5);
        QCOMPARE(
            watched->versionIDs(),
            scene.service(scene.openReader(), VersioningServiceType::document, scene.document->id())->versionIDs());
    }
};

QTEST_GUILESS_MAIN(CrashSafetyTest)
#include "crash_safety_test.moc"
