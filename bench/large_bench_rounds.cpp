// large_bench's rounds: the large file on the local disk and on the share, and the growth of
// smaller files, each step beside cp and restic.

#include "bench/large_bench.h"
#include "bench/restic_repository.h"
#include "desktop/system_services.h"
#include "engine/versioning_service.h"
#include "support/sync_wait.h"

#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <unistd.h>

namespace vantrel::bench::large {

using vantrel::testing::syncWait;

namespace {

// Reads the whole file at `path` and drops what it read: what the file costs to read, without
// writing it anywhere.
void readWhole(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail("open " + path.toStdString());
    std::vector<char> buffer(static_cast<size_t>(MiB));
    ssize_t got;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {
    }
    ::close(fd);
    if (got < 0)
        fail("read " + path.toStdString());
}

void sleepSeconds(double seconds)
{
    QThread::msleep(static_cast<unsigned long>(seconds * 1000.0));
}

std::shared_ptr<VersioningService> importFile(const QString& source, const std::shared_ptr<TeamBundle>& team)
{
    return syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt, std::nullopt,
                                              std::nullopt, QStringLiteral("Imported"), DocumentApplication::none(),
                                              team, nullptr, nullptr));
}

QString checkOut(const std::shared_ptr<VersioningService>& service)
{
    return syncWait(service->checkOut({}, {.autoSave = false}, defaultS3Factory()));
}

struct Stored {
    double restic = 0;
    double resticGrowth = 0;
    double checkIn = 0;
    double growth = 0;
};

// The user's change to the checked-out `file` (inside the working copy `workingCopy`): backed
// up once by restic as it was, edited, then backed up again and checked in, both timed.
Stored editAndStore(const std::shared_ptr<VersioningService>& service, const QString& objects,
                    const QStringList& syncFolders, const QString& workingCopy, const QString& file,
                    const ResticRepository& restic, const CacheControl& cache, int round)
{
    sleepSeconds(settleSeconds);
    restic.create();
    restic.timedBackup(workingCopy);
    editMiddle(file, round);
    Stored stored;
    cache.prepare();
    qint64 before = restic.bytes();
    stored.restic = restic.timedBackup(workingCopy);
    stored.resticGrowth = double(restic.bytes() - before);
    const qsizetype versions = service->versionIDs().size();
    before = treeTotals(objects).bytes;
    stored.checkIn =
        timed(cache, syncFolders, [&] { syncWait(service->checkIn(QStringLiteral("Edited"), defaultS3Factory())); });
    stored.growth = double(treeTotals(objects).bytes - before);
    if (service->versionIDs().size() != versions + 1)
        throw std::runtime_error("the check-in did not store a version");
    return stored;
}

// Waits until `service`'s client sees `versions` versions (another mount may take a while).
void awaitVersions(const std::shared_ptr<VersioningService>& service, qsizetype versions)
{
    const auto start = Clock::now();
    while (service->versionIDs().size() < versions) {
        if (secondsSince(start) > 120)
            throw std::runtime_error("the teammate never saw the version checked in");
        sleepSeconds(0.5);
        service->teamBundle()->poll();
    }
}

// A check-out of `service`, timed twice: until its working copy is on disk (`wait`, what the user
// waits for, as cp and a flush of its copy), and until the whole disk is flushed, the chunk
// cache written in the background included (returned).
double timedCheckOut(const CacheControl& cache, const QStringList& folders,
                     const std::shared_ptr<VersioningService>& service, QString& workingCopy, double& wait)
{
    cache.prepare();
    const auto start = Clock::now();
    workingCopy = checkOut(service);
    const int fd = ::open(QFile::encodeName(workingCopy).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0)
        fail("fsync " + workingCopy.toStdString());
    ::close(fd);
    wait = secondsSince(start);
    for (const QString& folder : folders)
        syncFileSystemOf(folder);
    return secondsSince(start);
}

// The bytes the sshfs mount at `mountPoint` read while `step` ran; -1 when that can't be known.
double readThrough(const QString& mountPoint, const std::function<void()>& step)
{
    const double before = mountReadBytes(mountPoint);
    step();
    const double after = mountReadBytes(mountPoint);
    return before < 0 || after < 0 ? -1 : after - before;
}

} // namespace

PlaceFigures measurePlace(const Place& place, const Settings& settings, const QString& source, const Clients& clients,
                          const CacheControl& cache)
{
    PlaceFigures figures;
    const QString tag = place.teammate.isEmpty() ? QStringLiteral("local") : QStringLiteral("share");
    for (int round = 1; round <= rounds; ++round) {
        note(QStringLiteral("%1: round %2 of %3").arg(place.name).arg(round).arg(rounds));
        const QString copy = place.folder + QStringLiteral("/cp-copy");
        const QString back = settings.work + QStringLiteral("/cp-back");
        double ignored = 0;
        cache.prepare();
        figures.copyTo.push_back(timedCopy(source, copy, &ignored));
        cache.prepare();
        figures.copyFrom.push_back(timedCopy(copy, back, &ignored));
        figures.read.push_back(timed(cache, {}, [&] { readWhole(copy); }));
        removeTree(copy);
        removeTree(back);

        const QString name = QStringLiteral("/Large%1.vantrelteam").arg(round);
        const QString writer = QStringLiteral("%1-writer%2").arg(tag).arg(round);
        const QString mate = QStringLiteral("%1-mate%2").arg(tag).arg(round);
        const QString repository = place.folder + QStringLiteral("/restic%1").arg(round);
        const QString resticCache = settings.work + QStringLiteral("/restic-cache");
        {
            const auto team = clients.create(place.folder + name, writer);
            const QStringList writerFolders{place.folder, clients.localFolder(writer)};
            std::shared_ptr<VersioningService> service;
            figures.import.push_back(timed(cache, writerFolders, [&] { service = importFile(source, team); }));

            // The teammate's first check-out, on a computer that never read the team's files.
            std::shared_ptr<VersioningService> teammate;
            const QStringList mateFolders{place.teammate, clients.localFolder(mate)};
            if (!place.teammate.isEmpty()) {
                const auto mateTeam = clients.open(place.teammate + name, mate);
                teammate =
                    syncWait(VersioningService::open(VersioningServiceType::document, service->id(), std::nullopt,
                                                     std::nullopt, mateTeam, nullptr, nullptr, defaultS3Factory()));
                figures.emptyShareBytes.push_back(readThrough(place.teammate, [&] {
                    QString ignored;
                    double wait = 0;
                    figures.emptyCheckOut.push_back(timedCheckOut(cache, mateFolders, teammate, ignored, wait));
                    figures.emptyCheckOutWait.push_back(wait);
                }));
                syncWait(teammate->checkIn(QStringLiteral("Looked at"), defaultS3Factory()));
            }

            const QString workingCopy = checkOut(service);
            const Stored stored =
                editAndStore(service, place.serverFolder + name + QStringLiteral("/objects"), writerFolders,
                             workingCopy, workingCopy, ResticRepository(repository, resticCache), cache, round);
            figures.restic.push_back(stored.restic);
            figures.resticGrowth.push_back(stored.resticGrowth);
            figures.checkIn.push_back(stored.checkIn);
            figures.growth.push_back(stored.growth);

            // The teammate checks out the version just checked in.
            if (teammate) {
                awaitVersions(teammate, service->versionIDs().size());
                QString mateCopy;
                figures.warmShareBytes.push_back(readThrough(place.teammate, [&] {
                    double wait = 0;
                    figures.warmCheckOut.push_back(timedCheckOut(cache, mateFolders, teammate, mateCopy, wait));
                    figures.warmCheckOutWait.push_back(wait);
                }));
                requireEdit(mateCopy, settings.largeBytes, round);
            }
        }
        removeTree(place.folder + name);
        removeTree(repository);
        removeTree(resticCache);
        removeTree(clients.localFolder(writer));
        removeTree(clients.localFolder(mate));
    }
    return figures;
}

GrowthFigures measureGrowth(const QString& source, const QString& file, const Settings& settings,
                            const Clients& clients, const CacheControl& cache)
{
    GrowthFigures figures;
    for (int round = 1; round <= rounds; ++round) {
        const QString root = settings.work + QStringLiteral("/Growth%1.vantrelteam").arg(round);
        const QString client = QStringLiteral("growth%1").arg(round);
        const QString repository = settings.work + QStringLiteral("/restic-growth");
        const QString resticCache = settings.work + QStringLiteral("/restic-cache");
        {
            const auto team = clients.create(root, client);
            const auto service = importFile(source, team);
            const QString workingCopy = checkOut(service);
            const Stored stored =
                editAndStore(service, root + QStringLiteral("/objects"), {root, clients.localFolder(client)},
                             workingCopy, file.isEmpty() ? workingCopy : workingCopy + u'/' + file,
                             ResticRepository(repository, resticCache), cache, round);
            figures.engine.push_back(stored.growth);
            figures.restic.push_back(stored.resticGrowth);
        }
        removeTree(root);
        removeTree(repository);
        removeTree(resticCache);
        removeTree(clients.localFolder(client));
    }
    return figures;
}

} // namespace vantrel::bench::large
