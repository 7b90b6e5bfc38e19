// engine_bench: the engine's speed on one disk, side by side with plain copies.
//
// Measures, in one run and on the disk of the folder given on the command line:
//   1. importing a 1 GiB package of 2,000 files into a new team bundle, against cp -r;
//   2. storing a second version after one 1 MiB file changed: its time against the import's,
//      and how much the content store grows;
//   3. exporting a version, against cp -r;
//   4. opening a team bundle of 10,000 bundles as another client, and rereading it after a
//      third client renamed one bundle.
// Every timed step runs three times; the table shows the medians. See bench/README.md.

#include "bench/bench_support.h"
#include "engine/document_application.h"
#include "engine/document_type.h"
#include "engine/journal.h"
#include "engine/storage/content_store.h"
#include "engine/storage/manifest.h"
#include "engine/system_services.h"
#include "engine/team_bundle.h"
#include "engine/team_state.h"
#include "engine/user_identity.h"
#include "engine/version_bundles.h"
#include "engine/versioning_service.h"
#include "foundation/error.h"
#include "support/sync_wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#ifndef VANTREL_BENCH_DEFAULT_FOLDER
#define VANTREL_BENCH_DEFAULT_FOLDER "/tmp"
#endif

using namespace vantrel;
using vantrel::testing::syncWait;
using namespace vantrel::bench;

namespace {

// ---------------------------------------------------------------------------------------------
// Settings of the run.

constexpr int runs = 3;
constexpr std::uint64_t dataSeed = 0x56414E5452454CULL; // fixed: every run generates the same package
constexpr qint64 packageBytes = GiB;
constexpr int packageFiles = 2000;
constexpr int largeFiles = 12;           // tens of MiB each
constexpr qint64 smallestFile = 3 * KiB; // the others: log-uniform sizes in between
constexpr qint64 largestSmallFile = 2 * MiB;
constexpr qint64 changedFileBytes = MiB; // the file changed for the second version
const QString changedFile = QStringLiteral("Project/Timeline/main-edit.xml");

// Targets.
constexpr double importTarget = 1.5;        // x cp
constexpr double versionTimeTarget = 0.05;  // x the import
constexpr double versionGrowthTarget = 1.1; // x the changed bytes, manifest aside
constexpr double exportTarget = 1.2;        // x cp
constexpr double openTargetSeconds = 2.0;
constexpr double rereadTargetSeconds = 0.050;

// ---------------------------------------------------------------------------------------------
// Small helpers.

// Minor page faults of this process so far: first touches of memory, costly on some virtual machines.
long minorFaults()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

QString mebibytes(double bytes)
{
    return bench::mebibytes(bytes, 3);
}

// ---------------------------------------------------------------------------------------------
// The package: 1 GiB in 2,000 files of mixed sizes in nested folders, from a fixed seed.

std::vector<PackageFile> planPackage()
{
    Random random(dataSeed);
    static const char* const tops[] = {"Media", "Audio", "Graphics", "Project", "Renders", "Cache"};
    static const char* const extensions[] = {"mov", "wav", "png", "xml", "mp4", "bin"};
    std::vector<PackageFile> files;
    files.reserve(packageFiles);

    // The file changed for the second version: exactly 1 MiB.
    files.push_back({changedFile, changedFileBytes});

    // Most files: log-uniform between a few KiB and 2 MiB, one to four folders deep.
    const double low = std::log(double(smallestFile));
    const double high = std::log(double(largestSmallFile));
    qint64 smallTotal = 0;
    for (int index = 1; index < packageFiles - largeFiles; ++index) {
        const int top = random.below(6);
        QString path = QString::fromLatin1(tops[top]);
        const int depth = random.below(4);
        if (depth >= 1)
            path += QStringLiteral("/Reel %1").arg(random.below(8) + 1, 2, 10, QLatin1Char('0'));
        if (depth >= 2)
            path += QStringLiteral("/Take %1").arg(random.below(6) + 1, 2, 10, QLatin1Char('0'));
        if (depth >= 3)
            path += QStringLiteral("/Cam %1").arg(QChar(u'A' + random.below(3)));
        path += QStringLiteral("/item-%1.%2").arg(index, 4, 10, QLatin1Char('0')).arg(QLatin1String(extensions[top]));
        const qint64 size = qint64(std::exp(low + random.uniform() * (high - low)));
        files.push_back({path, size});
        smallTotal += size;
    }

    // A dozen large media files take the rest, tens of MiB each.
    const qint64 rest = packageBytes - changedFileBytes - smallTotal;
    const std::vector<qint64> sizes = largeFileSizes(random, rest, largeFiles, "package");
    for (int index = 0; index < largeFiles; ++index) {
        const qint64 size = sizes[size_t(index)];
        files.push_back({QStringLiteral("Media/Reel %1/master-%2.mov")
                             .arg(index % 8 + 1, 2, 10, QLatin1Char('0'))
                             .arg(index + 1, 2, 10, QLatin1Char('0')),
                         size});
    }
    return files;
}

// Overwrites the changed file in place with new bytes (new for every `round`).
void changeOneFile(const QString& root, int round)
{
    Random random(dataSeed + 1000 + std::uint64_t(round));
    std::vector<char> buffer(static_cast<size_t>(MiB));
    const std::string path = (root + u'/' + changedFile).toStdString();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        fail("open " + path);
    writeRandom(fd, 0, changedFileBytes, random, buffer, path);
    if (::close(fd) != 0)
        fail("close " + path);
}

// ---------------------------------------------------------------------------------------------
// Steps 1 to 3: import, second version, export, each against cp.

struct PackageFigures {
    std::vector<double> copy;       // cp -r + syncfs
    std::vector<double> copyNoSync; // cp -r alone
    std::vector<double> import;
    std::vector<double> version;       // second version, first one after the import
    std::vector<double> versionGrowth; // bytes the store grew by
    std::vector<double> manifestBytes; // of which the new manifest
    std::vector<double> nextVersion;   // one more version, stat cache written by the previous one
    std::vector<double> nextGrowth;
    std::vector<double> nextManifestBytes;
    std::vector<double> exportTime;
    std::vector<bool> statCacheAfterImport;
};

qint64 storeBytes(const std::shared_ptr<TeamBundle>& team)
{
    return treeTotals(team->contents().folder()).bytes;
}

qint64 currentManifestBytes(const std::shared_ptr<TeamBundle>& team, const IdFor<VersionBundle>& id)
{
    const auto state = team->snapshot()->find(id);
    if (!state || !state->currentVersion())
        throw std::runtime_error("the bundle has no current version");
    struct stat status {};
    if (::stat(QFile::encodeName(team->contents().pathFor(state->currentVersion()->manifest)).constData(), &status)
        != 0)
        fail("stat manifest");
    return qint64(status.st_size);
}

PackageFigures measurePackage(const QString& work, const QString& source, const CacheControl& cache,
                              const Clients& clients)
{
    PackageFigures figures;
    int changeRound = 0;
    for (int run = 1; run <= runs; ++run) {
        note(QStringLiteral("package run %1 of %2").arg(run).arg(runs));

        // cp -r of the package, on the same disk.
        const QString copy = work + QStringLiteral("/cp-copy");
        cache.prepare();
        double noSync = 0;
        figures.copy.push_back(timedCopy(source, copy, &noSync));
        figures.copyNoSync.push_back(noSync);
        const TreeTotals copied = treeTotals(copy);
        if (copied.bytes != packageBytes || copied.files != packageFiles)
            throw std::runtime_error("cp did not copy the whole package");
        removeTree(copy);

        // Import into a new team bundle.
        const QString root = work + QStringLiteral("/Run%1.vantrelteam").arg(run);
        const auto team = clients.create(root, QStringLiteral("editor%1").arg(run));
        cache.prepare();
        auto start = Clock::now();
        const auto service = syncWait(VersioningService::import(
            VersioningServiceType::document, source, std::nullopt, std::nullopt, std::nullopt,
            QStringLiteral("Initial Commit"), DocumentApplication::none(), team, nullptr, nullptr));
        syncFileSystemOf(root);
        figures.import.push_back(secondsSince(start));
        if (storeBytes(team) < packageBytes)
            throw std::runtime_error("the import stored less than the package");

        const QString statCachePath = team->statCacheFile(service->id());
        figures.statCacheAfterImport.push_back(QFileInfo::exists(statCachePath));

        // The second version, one 1 MiB file changed in place; then one more, with the stat
        // cache that the second one wrote.
        const auto storeOneChange = [&](const QString& message, std::vector<double>& times, std::vector<double>& growth,
                                        std::vector<double>& manifest) {
            changeOneFile(source, ++changeRound);
            const qint64 before = storeBytes(team);
            cache.prepare();
            const auto begin = Clock::now();
            syncWait(service->storeVersion(source, message, VersionOrigin::checkedIn));
            syncFileSystemOf(root);
            times.push_back(secondsSince(begin));
            growth.push_back(double(storeBytes(team) - before));
            manifest.push_back(double(currentManifestBytes(team, service->id())));
        };
        storeOneChange(QStringLiteral("One file changed"), figures.version, figures.versionGrowth,
                       figures.manifestBytes);
        storeOneChange(QStringLiteral("Changed again"), figures.nextVersion, figures.nextGrowth,
                       figures.nextManifestBytes);

        // Export of the current version, to the same disk.
        const QString exportFolder = work + QStringLiteral("/export");
        cache.prepare();
        start = Clock::now();
        const QString exported = syncWait(service->exportVersion(std::nullopt, exportFolder, defaultS3Factory()));
        syncFileSystemOf(exportFolder);
        figures.exportTime.push_back(secondsSince(start));
        const TreeTotals written = treeTotals(exported);
        if (written.bytes != packageBytes || written.files != packageFiles)
            throw std::runtime_error("the export does not hold the whole package");

        removeTree(exportFolder);
        removeTree(root);
    }
    return figures;
}

// ---------------------------------------------------------------------------------------------
// Step 4: a team bundle of 10,000 bundles.

struct IndexFigures {
    std::vector<double> open;     // TeamBundle::open + liveIndex(), cold page cache when possible
    std::vector<double> openOnly; // of which TeamBundle::open
    std::vector<double> reread;   // poll() + liveIndex() after a rename by another client
    std::vector<double> rereadCold;
    std::vector<double> rereadFaults; // minor page faults of each warm reread
    qsizetype bundles = 0;
    qsizetype records = 0;
    qsizetype journalFiles = 0;
    double setupSeconds = 0;
};

IdFor<VersionBundle> someDocument(const std::shared_ptr<TeamBundle>& team, int which)
{
    const auto index = team->versionBundles().liveIndex();
    return index.documents.at((which * 3163) % index.documents.size()).id();
}

IndexFigures measureIndex(const QString& work, const CacheControl& cache, const Clients& clients)
{
    IndexFigures figures;
    const QString root = work + QStringLiteral("/Index.vantrelteam");
    note(QStringLiteral("writing a team bundle of %1 bundles").arg(indexCollections + indexDocuments));
    const auto setupStart = Clock::now();
    buildLargeTeam(root, clients, dataSeed ^ 0x1DEAULL);
    figures.setupSeconds = secondsSince(setupStart);
    figures.journalFiles = treeTotals(root + QStringLiteral("/journal")).files;

    // Opening as another client, cold.
    std::shared_ptr<TeamBundle> reader;
    for (int run = 1; run <= runs; ++run) {
        note(QStringLiteral("opening run %1 of %2").arg(run).arg(runs));
        reader.reset();
        cache.prepare();
        const auto start = Clock::now();
        reader = clients.open(root, QStringLiteral("reader%1").arg(run));
        figures.openOnly.push_back(secondsSince(start));
        const auto index = reader->versionBundles().liveIndex();
        figures.open.push_back(secondsSince(start));
        figures.bundles = index.all.size();
        if (!reader->problems().isEmpty())
            throw std::runtime_error("the reader found problems: " + reader->problems().join(u'\n').toStdString());
    }
    if (figures.bundles != indexCollections + indexDocuments)
        throw std::runtime_error("the reader does not see every bundle");
    figures.records = 0;
    for (const auto& state : std::as_const(reader->snapshot()->bundles))
        figures.records += state->history.size();

    // A third client renames one bundle; the reader rereads. A client's first background poll
    // comes at the default interval after it opened, whatever interval is set afterwards: wait
    // for it, so that it neither takes the change nor runs beside the timed poll.
    const auto renamer = clients.open(root, QStringLiteral("renamer"));
    QThread::msleep(2500);
    const auto rename = [&](int round) {
        const auto id = someDocument(renamer, round);
        const auto service =
            syncWait(VersioningService::open(VersioningServiceType::document, id, std::nullopt, std::nullopt, renamer,
                                             nullptr, nullptr, defaultS3Factory()));
        const QString name = QStringLiteral("Renamed %1").arg(round);
        syncWait(service->rename(name));
        return std::make_pair(id, name);
    };
    const auto reread = [&](int round, bool cold, std::vector<double>& times) {
        const auto [id, name] = rename(round);
        if (cold)
            cache.prepare();
        else
            ::sync();
        const long faultsBefore = minorFaults();
        const auto start = Clock::now();
        reader->poll();
        const auto index = reader->versionBundles().liveIndex();
        times.push_back(secondsSince(start));
        if (!cold)
            figures.rereadFaults.push_back(double(minorFaults() - faultsBefore));
        const auto summary = index.summary(id);
        if (!summary || summary->name() != name)
            throw std::runtime_error("the reader did not see the rename");
    };
    for (int run = 1; run <= runs; ++run)
        reread(run, false, figures.reread);
    if (cache.canDrop()) {
        for (int run = 1; run <= runs; ++run)
            reread(runs + run, true, figures.rereadCold);
    }
    reader.reset();
    removeTree(root);
    return figures;
}

// ---------------------------------------------------------------------------------------------

int run(const QStringList& arguments)
{
    const auto options = parseOptions(arguments, "engine_bench", VANTREL_BENCH_DEFAULT_FOLDER);
    if (!options)
        return 0;
    const bool keep = options->keep;
    const WorkFolder workFolder(options->base, QStringLiteral("engine-bench"), keep);
    const QString& work = workFolder.path();

    CacheControl cache;
    const bool dropping = cache.probe();
    const Clients clients(work + QStringLiteral("/local"), false);
    const QString source = work + QStringLiteral("/source/Feature");

    note(QStringLiteral("generating the package in %1").arg(source));
    auto start = Clock::now();
    const auto plan = planPackage();
    generateFiles(source, plan, dataSeed ^ 0xC0FFEEULL);
    const double generated = secondsSince(start);
    const auto generatedAt = Clock::now();
    qint64 smallest = packageBytes, largest = 0;
    for (const auto& file : plan) {
        smallest = std::min(smallest, file.size);
        largest = std::max(largest, file.size);
    }
    const TreeTotals totals = treeTotals(source);
    if (totals.bytes != packageBytes || totals.files != packageFiles)
        throw std::runtime_error("the package was not generated whole");

    // One untimed copy first: neither side then pays for the first writes to fresh blocks of the
    // disk (slow on thinly provisioned virtual disks), and without dropping the cache it reads the
    // whole package into it, for both sides alike.
    note(QStringLiteral("one untimed cp to warm up"));
    double ignored = 0;
    timedCopy(source, work + QStringLiteral("/cp-warm"), &ignored);
    removeTree(work + QStringLiteral("/cp-warm"));
    // The stat cache trusts a file only when it was recorded 2 s after the file's last change.
    const double settle = 2.1 - secondsSince(generatedAt);
    if (settle > 0)
        QThread::msleep(static_cast<unsigned long>(settle * 1000.0));

    const PackageFigures package = measurePackage(work, source, cache, clients);
    const IndexFigures index = measureIndex(work, cache, clients);

    // The report.
    const double cp = median(package.copy);
    const double import = median(package.import);
    const double version = median(package.version);
    const double exportTime = median(package.exportTime);
    const double growth = median(package.versionGrowth);
    const double manifestBytes = median(package.manifestBytes);
    const double growthRatio = (growth - manifestBytes) / double(changedFileBytes);
    const double nextVersion = median(package.nextVersion);
    const double nextGrowthRatio =
        (median(package.nextGrowth) - median(package.nextManifestBytes)) / double(changedFileBytes);
    const double open = median(index.open);
    const double reread = median(index.reread);
    const bool statCacheAfterImport = std::all_of(
        package.statCacheAfterImport.begin(), package.statCacheAfterImport.end(), [](bool exists) { return exists; });

    std::printf("\nVantrel engine benchmark\n");
    std::printf("  machine:    %s, %d threads, Qt %s\n", qPrintable(QSysInfo::prettyProductName()),
                QThread::idealThreadCount(), qVersion());
    std::printf("  disk:       %s (%s)\n", qPrintable(work), qPrintable(fileSystemType(work)));
    std::printf("  package:    %d files, %s in all (%s to %s), generated in %s from seed 0x%llx\n", packageFiles,
                qPrintable(mebibytes(double(totals.bytes))), qPrintable(QStringLiteral("%1 KiB").arg(smallest / KiB)),
                qPrintable(mebibytes(double(largest))), qPrintable(seconds(generated)),
                static_cast<unsigned long long>(dataSeed));
    if (dropping)
        std::printf("  page cache: dropped before every timed step (sync; echo 3 > /proc/sys/vm/drop_caches)\n");
    else
        std::printf("  page cache: could not be dropped (not root?); the package was read once by an untimed cp, so\n"
                    "              every timed step ran with the same warm cache\n");
    std::printf("  warm-up:    one untimed cp -r of the package before the timed runs\n");
    std::printf("  timing:     each figure ends with syncfs() of the destination, so cp's copy is on disk\n"
                "              like the engine's; median of %d runs\n",
                runs);
    std::printf("  index:      %lld bundles (%d collections, %d documents) from %d clients, %lld records in %lld\n"
                "              journal files, written in %s\n\n",
                static_cast<long long>(index.bundles), indexCollections, indexDocuments, indexWriters,
                static_cast<long long>(index.records), static_cast<long long>(index.journalFiles),
                qPrintable(seconds(index.setupSeconds)));

    std::vector<Row> rows;
    rows.push_back({QStringLiteral("cp -r --reflink=never of the package"), seconds(cp), QStringLiteral("(baseline)"),
                    QStringLiteral("info")});
    rows.push_back({QStringLiteral("1. import into a new team bundle"),
                    QStringLiteral("%1 = %2x cp").arg(seconds(import)).arg(import / cp, 0, 'f', 2),
                    QStringLiteral("<= %1x cp").arg(importTarget, 0, 'f', 1), verdict(import / cp <= importTarget)});
    rows.push_back({QStringLiteral("2. second version, one 1 MiB file changed"),
                    QStringLiteral("%1 = %2% of import").arg(seconds(version)).arg(100.0 * version / import, 0, 'f', 1),
                    QStringLiteral("<= %1% of import").arg(100.0 * versionTimeTarget, 0, 'f', 0),
                    verdict(version / import <= versionTimeTarget)});
    rows.push_back({QStringLiteral("2. store growth for that version"),
                    QStringLiteral("%1 raw (manifest %2); %3x changed bytes w/o manifest")
                        .arg(mebibytes(growth), mebibytes(manifestBytes))
                        .arg(growthRatio, 0, 'f', 3),
                    QStringLiteral("<= %1x changed bytes").arg(versionGrowthTarget, 0, 'f', 1),
                    verdict(growthRatio <= versionGrowthTarget)});
    rows.push_back({QStringLiteral("3. export of a version"),
                    QStringLiteral("%1 = %2x cp").arg(seconds(exportTime)).arg(exportTime / cp, 0, 'f', 2),
                    QStringLiteral("<= %1x cp").arg(exportTarget, 0, 'f', 1),
                    verdict(exportTime / cp <= exportTarget)});
    rows.push_back({QStringLiteral("4. open 10,000 bundles as another client"), seconds(open),
                    QStringLiteral("<= %1").arg(seconds(openTargetSeconds)), verdict(open <= openTargetSeconds)});
    rows.push_back({QStringLiteral("4. reread after a rename by a third client"), seconds(reread),
                    QStringLiteral("<= %1").arg(seconds(rereadTargetSeconds)), verdict(reread <= rereadTargetSeconds)});
    printTable(rows);

    std::printf("\nDetails (every run, in order):\n");
    const auto detail = [](const char* what, const QString& values) {
        std::printf("  %-46s %s\n", what, qPrintable(values));
    };
    detail("cp -r + syncfs", runList(package.copy, seconds));
    detail("cp -r alone (no syncfs)", runList(package.copyNoSync, seconds));
    detail("import", runList(package.import, seconds));
    detail("second version", runList(package.version, seconds));
    detail("  store growth", runList(package.versionGrowth, mebibytes));
    detail("  of which the manifest", runList(package.manifestBytes, mebibytes));
    detail("third version (stat cache from the second)", runList(package.nextVersion, seconds));
    detail("  as % of import, growth w/o manifest", QStringLiteral("%1% of import, %2x changed bytes")
                                                        .arg(100.0 * nextVersion / import, 0, 'f', 1)
                                                        .arg(nextGrowthRatio, 0, 'f', 3));
    detail("export", runList(package.exportTime, seconds));
    detail("import vs cp alone / export vs cp alone", QStringLiteral("%1x / %2x")
                                                          .arg(import / median(package.copyNoSync), 0, 'f', 2)
                                                          .arg(exportTime / median(package.copyNoSync), 0, 'f', 2));
    detail("open + liveIndex", runList(index.open, seconds));
    detail("  of which TeamBundle::open", runList(index.openOnly, seconds));
    detail("reread (poll + liveIndex), warm cache", runList(index.reread, seconds));
    detail("  minor page faults in each",
           runList(index.rereadFaults, [](double count) { return QString::number(qint64(count)); }));
    if (!index.rereadCold.empty())
        detail("reread (poll + liveIndex), page cache dropped", runList(index.rereadCold, seconds));
    if (!statCacheAfterImport)
        std::printf("\nNote: the import left no stat cache for the bundle, so the second version read every file\n"
                    "of the package again; the third version shows what the stat cache gives once it exists.\n");
    if (keep)
        std::printf("\nData kept in %s\n", qPrintable(work));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return benchMain(argc, argv, "engine_bench", run);
}
