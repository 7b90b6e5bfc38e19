// large_bench's rounds: the large file on the local disk and on the share, and the growth of
// smaller files, each step beside cp, restic and borg.

#include "bench/backup_repository.h"
#include "bench/large_bench.h"
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

std::shared_ptr<VersioningService> importFile(const QString& source, const std::shared_ptr<TeamBundle>& team,
                                              std::optional<QString> name = std::nullopt)
{
    return syncWait(VersioningService::import(VersioningServiceType::document, source, std::move(name), std::nullopt,
                                              std::nullopt, QStringLiteral("Imported"), DocumentApplication::none(),
                                              team, nullptr, nullptr));
}

QString checkOut(const std::shared_ptr<VersioningService>& service)
{
    return syncWait(service->checkOut({}, {.autoSave = false}, defaultS3Factory()));
}

struct Stored {
    double checkIn = 0;
    double growth = 0;
    double restic = -1; // -1: not backed up
    double resticGrowth = -1;
    double borg = -1;
    double borgGrowth = -1;
};

// The backup tools beside the engine; none on the shares.
struct Backups {
    const BackupRepository* restic = nullptr;
    const BackupRepository* borg = nullptr;
};

// The edited working copy backed up by each tool, then checked in, each timed from a dropped page
// cache, with what its store grew by.
Stored store(const std::shared_ptr<VersioningService>& service, const QString& objects, const QStringList& syncFolders,
             const QString& workingCopy, const Backups& backups, const CacheControl& cache)
{
    Stored stored;
    const auto backUp = [&](const BackupRepository* repository, double& time, double& growth) {
        if (!repository)
            return;
        cache.prepare();
        const qint64 before = repository->bytes();
        time = repository->timedBackup(workingCopy);
        growth = double(repository->bytes() - before);
    };
    backUp(backups.restic, stored.restic, stored.resticGrowth);
    backUp(backups.borg, stored.borg, stored.borgGrowth);
    const qsizetype versions = service->versionIDs().size();
    const qint64 before = treeTotals(objects).bytes;
    stored.checkIn =
        timed(cache, syncFolders, [&] { syncWait(service->checkIn(QStringLiteral("Edited"), defaultS3Factory())); });
    stored.growth = double(treeTotals(objects).bytes - before);
    if (service->versionIDs().size() != versions + 1)
        throw std::runtime_error("the check-in did not store a version");
    return stored;
}

// The user's changes to the document's file (`file` inside the working copy; empty: the working
// copy itself), one edit of `wanted` after the other, each in a check-out of its own, checked in
// and beside it backed up by the tools, which first back the working copy up once as it was.
// Each edit's figures go into `growth`; the first edit's are returned.
Stored editInTurn(const std::shared_ptr<VersioningService>& service, const QString& objects,
                  const QStringList& syncFolders, const QString& file, const std::vector<Edit>& wanted,
                  const Backups& backups, const CacheControl& cache, int round, GrowthFigures* growth)
{
    Stored first;
    for (size_t index = 0; index < wanted.size(); ++index) {
        const QString workingCopy = checkOut(service);
        sleepSeconds(settleSeconds);
        if (index == 0) {
            for (const BackupRepository* repository : {backups.restic, backups.borg}) {
                if (repository) {
                    repository->create();
                    repository->timedBackup(workingCopy);
                }
            }
        }
        const qint64 changed =
            applyEdit(file.isEmpty() ? workingCopy : workingCopy + u'/' + file, wanted[index], round);
        const Stored stored = store(service, objects, syncFolders, workingCopy, backups, cache);
        if (index == 0)
            first = stored;
        if (growth) {
            EditGrowth& figures = (*growth)[size_t(wanted[index])];
            figures.changed = changed;
            figures.engine.push_back(stored.growth);
            figures.restic.push_back(stored.resticGrowth);
            figures.borg.push_back(stored.borgGrowth);
        }
    }
    return first;
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
    const bool local = place.teammate.isEmpty();
    const QString tag = local ? QStringLiteral("local") : place.name.section(u' ', 0, 0).toLower();
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
        const QString backups = settings.work + QStringLiteral("/backups");
        {
            const auto team = clients.create(place.folder + name, writer);
            const QStringList writerFolders{place.folder, clients.localFolder(writer)};
            std::shared_ptr<VersioningService> service;
            figures.import.push_back(timed(cache, writerFolders, [&] { service = importFile(source, team); }));

            std::shared_ptr<VersioningService> teammate;
            const QStringList mateFolders{place.teammate, clients.localFolder(mate)};
            if (!local) {
                // The same file again, as a second document: every chunk of it is in the store.
                figures.importAgainShareBytes.push_back(readThrough(place.folder, [&] {
                    figures.importAgain.push_back(timed(
                        cache, writerFolders, [&] { importFile(source, team, QStringLiteral("Large again.blend")); }));
                }));
                // The teammate's first check-out, on a computer that never read the team's files.
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

            // On the local disk every edit, beside restic and borg; on a share the middle one.
            const BackupRepository restic(BackupRepository::Tool::restic, backups);
            const BackupRepository borg(BackupRepository::Tool::borg, backups);
            const Stored stored =
                editInTurn(service, place.serverFolder + name + QStringLiteral("/objects"), writerFolders, QString(),
                           local ? std::vector<Edit>(edits.begin(), edits.end()) : std::vector<Edit>{Edit::middle},
                           local ? Backups{&restic, &borg} : Backups{}, cache, round, local ? &figures.edits : nullptr);
            figures.checkIn.push_back(stored.checkIn);
            figures.growth.push_back(stored.growth);
            if (local) {
                figures.restic.push_back(stored.restic);
                figures.borg.push_back(stored.borg);
            }

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
        removeTree(backups);
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
        const QString backups = settings.work + QStringLiteral("/backups");
        {
            const auto team = clients.create(root, client);
            const auto service = importFile(source, team);
            const BackupRepository restic(BackupRepository::Tool::restic, backups);
            const BackupRepository borg(BackupRepository::Tool::borg, backups);
            editInTurn(service, root + QStringLiteral("/objects"), {root, clients.localFolder(client)}, file,
                       std::vector<Edit>(edits.begin(), edits.end()), Backups{&restic, &borg}, cache, round, &figures);
        }
        removeTree(root);
        removeTree(backups);
        removeTree(clients.localFolder(client));
    }
    return figures;
}

} // namespace vantrel::bench::large
