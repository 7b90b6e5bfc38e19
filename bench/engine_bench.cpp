// engine_bench: the engine's speed on one disk, side by side with git and with plain copies.
//
// Measures, in one run and on the disk of the folder given on the command line:
//   1. a new version after a 1 MiB edit of a package of 2,000 files (1 GiB) and of 8,000 files
//      (3 GiB), by a check-in of a watched working copy and from a folder nobody watched, against
//      git's commit of the same edit, and how much each store grows;
//   2. the import, check-out, check-in (by the client that checked out, and by one that started
//      afterwards) and export of the 2,000-file package, against cp -r of it;
//   3. a team bundle of 50,000 bundles: opening it, rereading it after another client renamed a
//      bundle, the slowest of 2,000 commits by one client, and a client's memory.
// Every timed step starts with the page cache dropped and ends with its data on disk; the table
// shows medians of three runs. See bench/README.md.

#include "bench/engine_bench.h"
#include "bench/git_repository.h"

#include <QFile>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <stdexcept>

#ifndef VANTREL_BENCH_DEFAULT_FOLDER
#define VANTREL_BENCH_DEFAULT_FOLDER "/tmp"
#endif

using namespace vantrel;
using namespace vantrel::bench;

namespace {

constexpr qint64 spaceNeeded = 14 * GiB;

// Targets.
constexpr double versionScaleTarget = 1.2; // 8,000 files against 2,000, x
constexpr double growthTarget = 1.05;      // x the changed bytes, the whole store
constexpr double checkInTarget = 0.05;     // x cp, watched or after a restart
constexpr double openTargetSeconds = 1.0;
constexpr double rereadTargetSeconds = 0.020;
constexpr double commitTargetSeconds = 0.050;
constexpr double memoryTargetBytes = 200e6;
constexpr double importTarget = 0.76; // x cp: no worse than the figures these targets came from
constexpr double exportTarget = 0.63;
constexpr double checkOutTarget = 0.53;
constexpr double packageMemoryTarget = 48.0 * 1024 * 1024;

// Which parts run: all by default; `--only versions,package,team` for a part alone.
struct Parts {
    bool versions = true;
    bool package = true;
    bool team = true;
};

QString ratio(double value)
{
    return QStringLiteral("%1x").arg(value, 0, 'f', value < 10 ? 3 : 1);
}

QString percent(double value)
{
    return QStringLiteral("%1%").arg(100.0 * value, 0, 'f', 1);
}

QString megabytes(double bytes)
{
    return QStringLiteral("%1 MB").arg(bytes / 1e6, 0, 'f', 1);
}

QString mib(double bytes)
{
    return mebibytes(bytes, 3);
}

QString count(double value)
{
    return QString::number(qint64(value));
}

double maximum(const std::vector<double>& values)
{
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

// The value below which `share` of the values lie (nearest rank).
double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(share * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

// The machine's load average over 1, 5 and 15 minutes: other work on it slows every figure.
QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readLine()).section(u' ', 0, 2);
}

void detail(const QString& what, const QString& values)
{
    std::printf("  %-52s %s\n", qPrintable(what), qPrintable(values));
}

// The verdicts use the check-in: a user makes a version by checking in a working copy, which the
// engine watched since its check-out. The folder nobody watched shows what the whole walk costs.
void reportVersions(const VersionFigures& figures, std::vector<QStringList>& rows, const VersionFigures* smaller)
{
    const QString size = QStringLiteral("%L1 files").arg(figures.shape.files);
    const auto scaled = [&](double value, double smallerValue) {
        return QStringLiteral("%1 = %2x the %L3-file one")
            .arg(seconds(value))
            .arg(value / smallerValue, 0, 'f', 2)
            .arg(smaller->shape.files);
    };
    const double checkIn = median(figures.checkIn.vantrel);
    const double git = median(figures.checkIn.git);
    const QString measure = QStringLiteral("new version after a 1 MiB edit: check-in of a watched working copy, %1");
    if (!smaller) {
        rows.push_back(
            {measure.arg(size), seconds(checkIn), seconds(git), QStringLiteral("<= git's"), verdict(checkIn <= git)});
    } else {
        const double smallerCheckIn = median(smaller->checkIn.vantrel);
        rows.push_back(
            {measure.arg(size), scaled(checkIn, smallerCheckIn), seconds(git),
             QStringLiteral("<= %1x the %L2-file one").arg(versionScaleTarget, 0, 'f', 1).arg(smaller->shape.files),
             verdict(checkIn / smallerCheckIn <= versionScaleTarget)});
        // A check-in takes some 20 ms, most of it waiting for the disk, and a stall of the disk
        // (the machine's other work) adds several ms to any run: the fastest runs, beside the
        // medians, show what the library's size itself costs.
        const auto fastest = [](const std::vector<double>& values) {
            return *std::min_element(values.cbegin(), values.cend());
        };
        rows.push_back({QStringLiteral("the same, fastest of the runs at each size (a disk stall only adds time)"),
                        scaled(fastest(figures.checkIn.vantrel), fastest(smaller->checkIn.vantrel)),
                        seconds(fastest(figures.checkIn.git)), QStringLiteral("(beside the above)"),
                        QStringLiteral("info")});
    }
    const double walk = median(figures.walk.vantrel);
    rows.push_back({QStringLiteral("new version from a folder that is not watched (full walk), %1").arg(size),
                    smaller ? scaled(walk, median(smaller->walk.vantrel)) : seconds(walk),
                    seconds(median(figures.walk.git)), QStringLiteral("(beside the above)"), QStringLiteral("info")});
    const double growth = median(figures.checkIn.vantrelGrowth) / double(changedFileBytes);
    const double gitGrowth = median(figures.checkIn.gitGrowth) / double(changedFileBytes);
    rows.push_back({QStringLiteral("store growth for a checked-in version, %1 (changed bytes x)").arg(size),
                    ratio(growth), ratio(gitGrowth), QStringLiteral("<= %1x").arg(growthTarget, 0, 'f', 2),
                    verdict(growth <= growthTarget)});
}

void detailVersionRuns(const VersionRuns& runs)
{
    detail(QStringLiteral("    Vantrel"), runList(runs.vantrel, seconds));
    detail(QStringLiteral("    git"), runList(runs.git, seconds));
    detail(QStringLiteral("    store growth, Vantrel"), runList(runs.vantrelGrowth, mib));
    detail(QStringLiteral("    store growth, git (.git/objects)"), runList(runs.gitGrowth, mib));
    detail(QStringLiteral("    files the store gained, Vantrel"), runList(runs.vantrelObjects, count));
    detail(QStringLiteral("    files the store gained, git"), runList(runs.gitObjects, count));
}

void detailVersions(const VersionFigures& figures)
{
    const QString size =
        QStringLiteral("%L1 files, %2").arg(figures.shape.files).arg(mebibytes(double(figures.shape.bytes), 0));
    detail(
        QStringLiteral("%1: generated / imported / git's first commit").arg(size),
        QStringLiteral("%1 / %2 / %3")
            .arg(seconds(figures.generateSeconds), seconds(figures.importSeconds), seconds(figures.gitFirstSeconds)));
    detail(QStringLiteral("  check-in of a watched working copy"), QString());
    detailVersionRuns(figures.checkIn);
    detail(QStringLiteral("    of which until checkIn() returned"), runList(figures.checkInCall, seconds));
    detail(QStringLiteral("    bytes it read (system calls)"), runList(figures.checkInRead, mib));
    detail(QStringLiteral("    the check-out before it (untimed)"), runList(figures.checkOut, seconds));
    detail(QStringLiteral("  new version from a folder not watched (full walk)"), QString());
    detailVersionRuns(figures.walk);
}

void reportPackage(const PackageFigures& figures, std::vector<QStringList>& rows)
{
    const double cp = median(figures.copy);
    const auto row = [&](const QString& what, const std::vector<double>& values, double target) {
        const double value = median(values);
        rows.push_back({what, QStringLiteral("%1 = %2x cp").arg(seconds(value)).arg(value / cp, 0, 'f', 2), QString(),
                        QStringLiteral("<= %1x cp").arg(target, 0, 'f', 2), verdict(value / cp <= target)});
    };
    rows.push_back({QStringLiteral("cp -r --reflink=never of the 2,000 files"), seconds(cp), QString(),
                    QStringLiteral("(baseline)"), QStringLiteral("info")});
    const double checkIn = median(figures.checkIn);
    rows.push_back({QStringLiteral("check-in after a 1 MiB edit, by the client that checked out"),
                    QStringLiteral("%1 = %2 of cp").arg(seconds(checkIn), percent(checkIn / cp)), QString(),
                    QStringLiteral("<= %1 of cp").arg(percent(checkInTarget)), verdict(checkIn / cp <= checkInTarget)});
    const double restart = median(figures.restartCheckIn);
    rows.push_back({QStringLiteral("check-in after a 1 MiB edit, by a client opened since (full walk)"),
                    QStringLiteral("%1 = %2 of cp").arg(seconds(restart), percent(restart / cp)), QString(),
                    QStringLiteral("<= %1 of cp").arg(percent(checkInTarget)), verdict(restart / cp <= checkInTarget)});
    row(QStringLiteral("import"), figures.import, importTarget);
    row(QStringLiteral("export"), figures.exportTime, exportTarget);
    row(QStringLiteral("check-out, right after a check-in"), figures.checkOut, checkOutTarget);
    const double peak = std::max(figures.memoryImport, figures.memoryCheckOut);
    rows.push_back({QStringLiteral("peak memory (VmHWM): import / a teammate's check-out"),
                    QStringLiteral("%1 / %2").arg(mebibytes(figures.memoryImport, 1), mebibytes(figures.memoryCheckOut, 1)),
                    QString(), QStringLiteral("<= %1 each").arg(mebibytes(packageMemoryTarget, 0)),
                    verdict(peak <= packageMemoryTarget)});
}

void detailPackage(const PackageFigures& figures)
{
    detail(QStringLiteral("cp -r + syncfs"), runList(figures.copy, seconds));
    detail(QStringLiteral("cp -r alone (no syncfs)"), runList(figures.copyNoSync, seconds));
    detail(QStringLiteral("import"), runList(figures.import, seconds));
    detail(QStringLiteral("first check-out, right after the import"), runList(figures.firstCheckOut, seconds));
    detail(QStringLiteral("check-in by the client that checked out"), runList(figures.checkIn, seconds));
    detail(QStringLiteral("  bytes it read (system calls)"), runList(figures.checkInRead, mib));
    detail(QStringLiteral("check-out, right after the check-in"), runList(figures.checkOut, seconds));
    detail(QStringLiteral("check-in by a client opened since"), runList(figures.restartCheckIn, seconds));
    detail(QStringLiteral("  bytes it read (system calls)"), runList(figures.restartCheckInRead, mib));
    detail(QStringLiteral("export"), runList(figures.exportTime, seconds));
    detail(QStringLiteral("memory client: peak once open / after the import / during the check-out"),
           QStringLiteral("%1 / %2 / %3")
               .arg(mebibytes(figures.memoryBefore, 1), mebibytes(figures.memoryImport, 1),
                    mebibytes(figures.memoryCheckOut, 1)));
}

void reportTeam(const TeamFigures& figures, std::vector<QStringList>& rows)
{
    const QString size = QStringLiteral("%L1 bundles").arg(figures.shape.bundles());
    const double open = median(figures.open);
    rows.push_back({QStringLiteral("%1: open as a new client, with the index").arg(size), seconds(open), QString(),
                    QStringLiteral("<= %1").arg(seconds(openTargetSeconds)), verdict(open <= openTargetSeconds)});
    const double reread = median(figures.reread);
    rows.push_back({QStringLiteral("%1: reread after another client's rename").arg(size), seconds(reread), QString(),
                    QStringLiteral("<= %1").arg(seconds(rereadTargetSeconds)), verdict(reread <= rereadTargetSeconds)});
    const double worst = maximum(figures.commits);
    rows.push_back({QStringLiteral("%1: slowest of %L2 commits by one client").arg(size).arg(figures.commits.size()),
                    seconds(worst), QString(), QStringLiteral("<= %1 each").arg(seconds(commitTargetSeconds)),
                    verdict(worst <= commitTargetSeconds)});
    rows.push_back({QStringLiteral("%1: a client's peak memory (VmHWM)").arg(size), megabytes(figures.memoryPeakBytes),
                    QString(), QStringLiteral("<= %1").arg(megabytes(memoryTargetBytes)),
                    verdict(figures.memoryPeakBytes <= memoryTargetBytes)});
}

void detailTeam(const TeamFigures& figures)
{
    detail(QStringLiteral("team bundle written in"), seconds(figures.setupSeconds));
    detail(QStringLiteral("  journal"),
           QStringLiteral("%1 files, %2").arg(figures.journalFiles).arg(mib(double(figures.journalBytes))));
    detail(QStringLiteral("open + liveIndex"), runList(figures.open, seconds));
    detail(QStringLiteral("  of which TeamBundle::open"), runList(figures.openOnly, seconds));
    detail(QStringLiteral("reread (poll + liveIndex), page cache dropped"), runList(figures.reread, seconds));
    detail(QStringLiteral("reread (poll + liveIndex), warm cache"), runList(figures.rereadWarm, seconds));
    int slow = 0;
    for (const double value : figures.commits)
        slow += value > commitTargetSeconds ? 1 : 0;
    detail(QStringLiteral("commits: median / 99th percentile / slowest"),
           QStringLiteral("%1 / %2 / %3")
               .arg(seconds(median(figures.commits)), seconds(percentile(figures.commits, 0.99)),
                    seconds(maximum(figures.commits))));
    detail(QStringLiteral("  commits above %1").arg(seconds(commitTargetSeconds)),
           QStringLiteral("%1 of %2").arg(slow).arg(figures.commits.size()));
    std::vector<double> slowest = figures.commits;
    std::sort(slowest.rbegin(), slowest.rend());
    slowest.resize(std::min<size_t>(slowest.size(), 8));
    detail(QStringLiteral("  the slowest"), runList(slowest, seconds));
    detail(QStringLiteral("client process: peak / resident at the end / open"),
           QStringLiteral("%1 / %2 / %3")
               .arg(megabytes(figures.memoryPeakBytes), megabytes(figures.memoryNowBytes),
                    seconds(figures.memoryOpenSeconds)));
}

int run(const QStringList& arguments)
{
    if (arguments.value(0) == QLatin1String("--client-memory"))
        return clientMemoryMain(arguments.mid(1));
    if (arguments.value(0) == QLatin1String("--package-memory"))
        return packageMemoryMain(arguments.mid(1));

    Parts parts;
    QStringList rest;
    for (const QString& argument : arguments) {
        if (!argument.startsWith(QLatin1String("--only="))) {
            rest << argument;
            continue;
        }
        const QStringList names = argument.mid(7).split(u',');
        parts = {names.contains(QLatin1String("versions")), names.contains(QLatin1String("package")),
                 names.contains(QLatin1String("team"))};
    }
    const auto options = parseOptions(rest, "engine_bench", VANTREL_BENCH_DEFAULT_FOLDER, "about 14 GiB");
    if (!options) {
        std::printf("  --only=PARTS  runs only some of: versions (2,000 and 8,000 files beside git), package\n"
                    "                (import, check-out, check-in, export), team (50,000 bundles)\n");
        return 0;
    }
    const QString gitVersion = GitRepository::version();
    if (parts.versions && gitVersion.isEmpty())
        throw std::runtime_error("git is needed (bench/run.sh installs it)");
    const WorkFolder workFolder(options->base, QStringLiteral("engine-bench"), options->keep, spaceNeeded);
    CacheControl cache;
    const bool dropping = cache.probe();
    cache.settleDiskOf(workFolder.path());
    const Clients clients(workFolder.path() + QStringLiteral("/local"), true);
    BenchContext context{workFolder.path(), cache, clients};

    std::vector<QStringList> rows{{QStringLiteral("Measure"), QStringLiteral("Vantrel"), QStringLiteral("git"),
                                   QStringLiteral("Target"), QStringLiteral("Result")}};
    const auto started = Clock::now();
    const QString loadBefore = loadAverage();
    const QString smallSource = context.work + QStringLiteral("/source-2000/Feature");
    std::optional<VersionFigures> small, large;
    std::optional<PackageFigures> package;
    std::optional<TeamFigures> team;
    if (parts.versions)
        small = measureVersions(context, smallPackage, smallSource);
    if (parts.package) {
        if (!small)
            generatePackage(smallSource, smallPackage);
        package = measurePackage(context, smallSource);
        measurePackageMemory(context, smallSource, *package);
    }
    removeTree(context.work + QStringLiteral("/source-2000"));
    if (parts.versions) {
        large = measureVersions(context, largePackage, context.work + QStringLiteral("/source-8000/Feature"));
        removeTree(context.work + QStringLiteral("/source-8000"));
    }
    if (parts.team)
        team = measureTeam(context);
    const double total = secondsSince(started);

    std::printf("\nVantrel engine benchmark\n");
    std::printf("  machine:    %s, %d threads, Qt %s, %s\n", qPrintable(QSysInfo::prettyProductName()),
                QThread::idealThreadCount(), qVersion(), qPrintable(gitVersion));
    std::printf("  disk:       %s (%s)\n", qPrintable(context.work), qPrintable(fileSystemType(context.work)));
    std::printf("  packages:   %d files, %s, and %d files, %s, generated from seed 0x%llx; the edit writes\n"
                "              1 MiB of new bytes over one file of exactly 1 MiB\n",
                smallPackage.files, qPrintable(mebibytes(double(smallPackage.bytes), 0)), largePackage.files,
                qPrintable(mebibytes(double(largePackage.bytes), 0)), static_cast<unsigned long long>(dataSeed));
    if (dropping)
        std::printf("  page cache: dropped before every timed step (sync; echo 3 > /proc/sys/vm/drop_caches)\n");
    else
        std::printf("  page cache: could not be dropped (not root?): every timed step ran with a warm cache\n");
    const CacheControl::Settling& settling = cache.settling();
    std::printf("  settling:   before every timed step, until three flushed 4 KiB writes in a row take under\n"
                "              %.0f ms (at most %.0f s): the disk was busy for more than %.0f ms before %d of %d\n"
                "              steps, for %s at the longest\n",
                CacheControl::quietMs, CacheControl::longestS, CacheControl::Settling::stallMs, settling.stalls,
                settling.waits, qPrintable(seconds(settling.longest)));
    std::printf("  timing:     every timed step ends with syncfs() of its destination; medians of %d runs;\n"
                "              commits of the team bundle are timed one by one, each ending with its own fsync\n",
                runs);
    std::printf("  run:        %s in all; load average %s at the start, %s at the end\n\n", qPrintable(seconds(total)),
                qPrintable(loadBefore), qPrintable(loadAverage()));

    if (small)
        reportVersions(*small, rows, nullptr);
    if (large)
        reportVersions(*large, rows, small ? &*small : nullptr);
    if (package)
        reportPackage(*package, rows);
    if (team)
        reportTeam(*team, rows);
    printColumns(rows);

    std::printf("\nDetails (every run, in order):\n");
    if (small)
        detailVersions(*small);
    if (large)
        detailVersions(*large);
    if (package)
        detailPackage(*package);
    if (team)
        detailTeam(*team);
    if (options->keep)
        std::printf("\nData kept in %s\n", qPrintable(context.work));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return benchMain(argc, argv, "engine_bench", run);
}
