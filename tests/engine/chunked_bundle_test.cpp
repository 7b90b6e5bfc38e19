#include "desktop/system_services.h"
#include "engine/engine_errors.h"
#include "engine/storage/chunks/chunk_cache.h"
#include "engine/storage/chunks/chunk_list.h"
#include "engine/storage/chunks/chunker.h"
#include "engine/storage/fixed_length_files.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

constexpr qsizetype mib = 1024 * 1024;

std::shared_ptr<VersioningService> import(const std::shared_ptr<TeamBundle>& team, const QString& source)
{
    return syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt, std::nullopt,
                                              std::nullopt, QStringLiteral("Initial Commit"),
                                              DocumentApplication::none(), team, nullptr, nullptr));
}

QByteArray exported(const std::shared_ptr<VersioningService>& service, const QString& folder,
                    std::optional<IdFor<Versions>> version = std::nullopt)
{
    return contentOf(syncWait(service->exportVersion(version, folder, defaultS3Factory())));
}

qint64 storedBytes(const QString& teamRoot)
{
    qint64 total = 0;
    const QString objects = teamRoot + QStringLiteral("/objects");
    for (const QString& name : objectsIn(objects))
        total += QFileInfo(objects + u'/' + name.left(2) + u'/' + name).size();
    for (const QString& name : packsIn(objects))
        total += QFileInfo(objects + QStringLiteral("/packs/") + name).size();
    return total;
}

// Every entry of the chunk cache a client of the fixture keeps on its computer.
QStringList cachedChunks(const TeamFixture& fixture, const QString& userName)
{
    const QString folder = fixture.localFolder(userName) + QStringLiteral("/cache/chunks");
    QStringList entries;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.mid(folder.size()).contains(QStringLiteral("/tmp/")))
            entries << path;
    }
    return entries;
}

// A new bundle of `team` holding `data` as its one file, imported from `*source` when given.
std::shared_ptr<VersioningService> importLarge(const TeamFixture& fixture, const std::shared_ptr<TeamBundle>& team,
                                               const QByteArray& data, QString* source = nullptr)
{
    const QString path = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Edit.blend");
    writeFile(path, data);
    if (source)
        *source = path;
    return import(team, path);
}

// The file entry of the current version of a single-file bundle, and its chunks.
ManifestEntry currentEntry(const std::shared_ptr<TeamBundle>& team, const std::shared_ptr<VersioningService>& service)
{
    return readTree(team->contents(), team->snapshot()->find(service->id())->currentVersion()->manifest)
        .entries.first();
}

ChunkList currentChunks(const std::shared_ptr<TeamBundle>& team, const std::shared_ptr<VersioningService>& service)
{
    const ManifestEntry entry = currentEntry(team, service);
    return ChunkList::read(team->contents(), *entry.chunks, entry.size);
}

int markerFormat(const QString& teamRoot)
{
    return QJsonDocument::fromJson(contentOf(teamRoot + QStringLiteral("/team.json")))
        .object()
        .value(QStringLiteral("format"))
        .toInt();
}

// Rewrites the fixture's marker to `format` before any client opens the bundle.
void setFormat(const TeamFixture& fixture, int format)
{
    const QString marker = fixture.root() + QStringLiteral("/team.json");
    QJsonObject object = QJsonDocument::fromJson(contentOf(marker)).object();
    object.insert(QStringLiteral("format"), format);
    writeFile(marker, fixed_length::padded(QJsonDocument(object).toJson(), fixed_length::teamMarker));
}

} // namespace

class ChunkedBundleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A new bundle stores a large file in chunks, and a new version of it costs about what
    // changed; every version reads back byte for byte.
    void newBundlesStoreLargeFilesInChunks()
    {
        TeamFixture fixture;
        QCOMPARE(markerFormat(fixture.root()), TeamBundle::currentFormat);
        const auto team = fixture.client(QStringLiteral("ana"));
        QVERIFY(team->contents().storesChunked());
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Edit.blend");
        QByteArray data = noise(1, 20 * mib);
        writeFile(source, data);
        const auto edit = import(team, source);
        const auto first = *edit->currentVersionID();
        QVERIFY(!team->contents().contains(hashBytes(data)));

        const qint64 before = storedBytes(fixture.root());
        data.replace(10 * mib, mib, noise(2, mib));
        writeFile(source, data);
        syncWait(edit->storeVersion(source, QStringLiteral("Graded"), VersionOrigin::checkedIn));
        QVERIFY(storedBytes(fixture.root()) - before <= mib + 2 * chunking::maxSize);
        QCOMPARE(exported(edit, fixture.scratch(QStringLiteral("o"))), data);
        QCOMPARE(exported(edit, fixture.scratch(QStringLiteral("o1")), first), noise(1, 20 * mib));
        QVERIFY(objectsIn(fixture.root() + QStringLiteral("/objects")).size() < 10); // chunks are in packs
        const auto ben = fixture.client(QStringLiteral("ben"));
        QCOMPARE(exported(reopenAs(ben, edit), fixture.scratch(QStringLiteral("ben"))), data);

        // Garbage collection keeps what the versions name.
        QVERIFY(team->collectGarbage(std::chrono::seconds(0)) >= 0);
        QCOMPARE(exported(edit, fixture.scratch(QStringLiteral("o2")), first), noise(1, 20 * mib));
    }

    // A damaged chunk fails only the copies that need it, leaving nothing half written, and the
    // next version stores it again; a damaged list of the base version doesn't keep the next
    // version from being stored either.
    void damageFailsCopiesNotTheNextVersion()
    {
        TeamFixture fixture;
        setFormat(fixture, 3); // chunks as objects
        const auto team = fixture.client(QStringLiteral("ana"));
        QString source;
        QByteArray data = noise(4, 9 * mib);
        const auto edit = importLarge(fixture, team, data, &source);
        const auto first = *edit->currentVersionID();
        ContentStore& store = team->contents();
        const ChunkList list = currentChunks(team, edit);
        writeFile(store.pathFor(list.chunks.first().hash), QByteArray(list.chunks.first().size, 'x'));
        for (const QString& cached : cachedChunks(fixture, QStringLiteral("ana")))
            QVERIFY(QFile::remove(cached));
        const QString out = fixture.scratch(QStringLiteral("out"));
        QCOMPARE(failureKind([&] { exported(edit, out); }), StorageError::Kind::corrupt);
        QCOMPARE(entriesIn(out), QStringList());

        data.replace(5 * mib, 4, "edit");
        writeFile(source, data);
        syncWait(edit->storeVersion(source, QStringLiteral("Recut"), VersionOrigin::checkedIn));
        QCOMPARE(exported(edit, fixture.scratch(QStringLiteral("o"))), data);
        QCOMPARE(exported(edit, fixture.scratch(QStringLiteral("o1")), first), noise(4, 9 * mib));

        writeFile(store.pathFor(*currentEntry(team, edit).chunks), "damaged");
        data.replace(7 * mib, 4, "more");
        writeFile(source, data);
        syncWait(edit->storeVersion(source, QStringLiteral("Recut again"), VersionOrigin::checkedIn));
        QCOMPARE(exported(edit, fixture.scratch(QStringLiteral("o2"))), data);
    }

    // A chunk of the base version that the share lost between check-out and check-in (deleted,
    // cut short, or damaged and set aside by a teammate's copy-out that met it) is stored again
    // from the working copy by the check-in of an edit elsewhere in the file: every version
    // holding that part reads back for the teammate.
    void baseChunksTheShareLostAreStoredAgain()
    {
        for (const QString& damage :
             {QStringLiteral("deleted"), QStringLiteral("cut short"), QStringLiteral("changed")}) {
            TeamFixture fixture;
            setFormat(fixture, 3); // chunks as objects
            const auto ana = fixture.client(QStringLiteral("ana"));
            QByteArray data = noise(6, 9 * mib);
            const auto edit = importLarge(fixture, ana, data);
            const auto first = *edit->currentVersionID();
            const QString workingCopy = checkOutItem(edit);
            const ChunkList::Chunk lost = currentChunks(ana, edit).chunks.first();
            const QString path = ana->contents().pathFor(lost.hash);
            const QByteArray bytes = contentOf(path);
            const auto ben = fixture.client(QStringLiteral("ben"));
            const auto other = reopenAs(ben, edit);
            if (damage == u"deleted") {
                QVERIFY(QFile::remove(path));
            } else if (damage == u"cut short") {
                writeFile(path, bytes.chopped(1));
            } else {
                writeFile(path, QByteArray(bytes).replace(100, 4, "#$%&"));
                // Of the same size: only a copy-out that reads it tells.
                QCOMPARE(failureKind([&] { exported(other, fixture.scratch(QStringLiteral("met"))); }),
                         StorageError::Kind::corrupt);
            }

            data.replace(6 * mib, 4, "edit");
            writeFile(workingCopy, data);
            syncWait(edit->checkIn(QStringLiteral("Recut"), defaultS3Factory()));
            QVERIFY2(!QFileInfo::exists(workingCopy), qPrintable(damage));
            ben->poll();
            QVERIFY2(exported(other, fixture.scratch(QStringLiteral("o"))) == data, qPrintable(damage));
            QVERIFY2(exported(other, fixture.scratch(QStringLiteral("o1")), first) == noise(6, 9 * mib),
                     qPrintable(damage));
        }
    }

    // A chunk or a list that is missing is not found, not damage; with the share gone, an export
    // or a temporary copy says that the share can't be reached.
    void missingIsNotFoundAndAnOutageUnreachable()
    {
        TeamFixture fixture;
        setFormat(fixture, 3); // chunks as objects
        const auto team = fixture.client(QStringLiteral("ana"));
        const auto edit = importLarge(fixture, team, noise(7, 9 * mib));
        const QString chunk = team->contents().pathFor(currentChunks(team, edit).chunks.last().hash);
        QVERIFY(QFile::remove(chunk));
        QCOMPARE(failureKind([&] { exported(edit, fixture.scratch(QStringLiteral("o"))); }),
                 StorageError::Kind::notFound);
        QVERIFY(QFile::remove(team->contents().pathFor(*currentEntry(team, edit).chunks)));
        QCOMPARE(failureKind([&] { exported(edit, fixture.scratch(QStringLiteral("o"))); }),
                 StorageError::Kind::notFound);

        // An empty folder where the share was mounted.
        QVERIFY(QDir().rename(fixture.root(), fixture.root() + QStringLiteral(".away")));
        QVERIFY(QDir().mkdir(fixture.root()));
        const auto unreachable = [&](const std::function<void()>& copy) {
            try {
                copy();
            } catch (const TeamBundleError& error) {
                return error.kind() == TeamBundleError::Case::unreachable;
            } catch (...) {
            }
            return false;
        };
        QVERIFY(unreachable([&] { exported(edit, fixture.scratch(QStringLiteral("o"))); }));
        QVERIFY(unreachable([&] { syncWait(edit->buildCopy(std::nullopt, std::nullopt, defaultS3Factory())); }));
    }

    // Chunks this computer stored or read are kept in its cache and read from there, but never
    // trusted: a damaged or deleted cache costs only a read of the share.
    void theCacheServesChunksButIsNeverTrusted()
    {
        // On the bundle's own disk, a cache would only write every chunk twice.
        {
            TeamFixture sameDisk;
            const QString source = sameDisk.scratch(QStringLiteral("s")) + QStringLiteral("/Edit.blend");
            writeFile(source, noise(5, 9 * mib));
            const auto team = sameDisk.client(QStringLiteral("ana"));
            import(team, source);
            QVERIFY(!team->contents().chunkSource());
            QCOMPARE(cachedChunks(sameDisk, QStringLiteral("ana")), QStringList());
        }
        // Shared memory stands for this computer's disk, the temporary folder for the share.
        QTemporaryDir otherDisk(QStringLiteral("/dev/shm/vantrel-test-XXXXXX"));
        struct stat shm {}, temporary {};
        if (!otherDisk.isValid() || ::stat(QFile::encodeName(otherDisk.path()).constData(), &shm) != 0
            || ::stat(QFile::encodeName(QDir::tempPath()).constData(), &temporary) != 0 || shm.st_dev == temporary.st_dev)
            QSKIP("needs /dev/shm on a file system of its own");
        TeamFixture fixture(otherDisk.path());
        const auto team = fixture.client(QStringLiteral("ana"));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Edit.blend");
        const QByteArray data = noise(5, 9 * mib);
        writeFile(source, data);
        const auto edit = import(team, source);
        const auto cache = std::dynamic_pointer_cast<ChunkCache>(team->contents().chunkSource());
        QVERIFY(cache);
        cache->waitUntilIdle(); // written in the background
        QStringList cached = cachedChunks(fixture, QStringLiteral("ana"));
        QVERIFY(cached.size() >= 2);
        for (const QString& entry : std::as_const(cached)) {
            QByteArray bytes = contentOf(entry);
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x20);
            writeFile(entry, bytes);
        }
        QCOMPARE(exported(edit, fixture.scratch(QStringLiteral("damaged"))), data);
        cache->waitUntilIdle();
        QVERIFY(QDir(QFileInfo(QFileInfo(cached.first()).path()).path()).removeRecursively());
        QCOMPARE(exported(edit, fixture.scratch(QStringLiteral("deleted"))), data);
        cache->waitUntilIdle();

        // What the last read kept serves the next one without the share's copies of the chunks.
        for (const ChunkList::Chunk& chunk : currentChunks(team, edit).chunks)
            QFile::remove(team->contents().pathFor(chunk.hash));
        // ... and the share gets back from it what it lost, for every teammate.
        QCOMPARE(exported(edit, fixture.scratch(QStringLiteral("cached"))), data);
        const auto ben = fixture.client(QStringLiteral("ben"));
        ben->poll();
        const auto other = syncWait(VersioningService::open(VersioningServiceType::document, edit->id(), std::nullopt,
                                                            std::nullopt, ben, nullptr, nullptr, defaultS3Factory()));
        QCOMPARE(exported(other, fixture.scratch(QStringLiteral("ben"))), data);
    }

    // A bundle made in the format before keeps storing every file whole, as older clients read
    // them, and stays in that format.
    void olderFormatBundlesKeepStoringWholeFiles()
    {
        TeamFixture fixture;
        setFormat(fixture, 2);
        const auto team = fixture.client(QStringLiteral("ben"));
        QVERIFY(!team->contents().storesChunked());
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Edit.blend");
        QByteArray data = noise(3, 9 * mib);
        writeFile(source, data);
        const auto edit = import(team, source);
        data.replace(0, 10, "new start!");
        writeFile(source, data);
        syncWait(edit->storeVersion(source, QStringLiteral("Trimmed"), VersionOrigin::checkedIn));
        QCOMPARE(team->contents().readBytes(hashBytes(data), data.size()), data);
        QVERIFY(team->contents().contains(hashBytes(noise(3, 9 * mib))));
        QCOMPARE(exported(edit, fixture.scratch(QStringLiteral("o"))), data);
        QCOMPARE(markerFormat(fixture.root()), 2);

        // A format this client doesn't know is refused.
        TeamFixture newer;
        setFormat(newer, TeamBundle::currentFormat + 1);
        QCOMPARE(TeamBundle::currentFormat + 1, 5);
        try {
            newer.client(QStringLiteral("cy"));
            QFAIL("a bundle of format 5 was opened");
        } catch (const TeamBundleError& error) {
            QCOMPARE(error.kind(), TeamBundleError::Case::newerFormat);
        }
    }
};

QTEST_GUILESS_MAIN(ChunkedBundleTest)
#include "chunked_bundle_test.moc"
