// share_bench: the engine with its team bundle on a real network share, side by side with plain
// copies onto the same share.
//
// Starts a private SSH server on 127.0.0.1 and mounts its export twice with sshfs's defaults, as
// two computers would (tests/engine/support/sshfs_share.h). Measures, in one run:
//   1. how long a check-out (its lock) and a check-in, made by a client through one mount, take
//      to reach a client polling through the other mount at the engine's default interval
//      (propagation_client in a process of its own), median and max, and how long a brand-new
//      client's first check-in takes to reach it (share_bench_newcomers.h);
//   2. import, check-out, check-in after a 1 MiB edit and export of a 300 MiB package whose team
//      bundle is on the share, each as a ratio to cp -r of the package onto the share.
// See bench/README.md.

#include "bench/bench_support.h"
#include "bench/share_bench_newcomers.h"
#include "desktop/system_services.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "support/child_process.h"
#include "support/sshfs_share.h"
#include "support/sync_wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::bench;
using vantrel::testing::ChildInput;
using vantrel::testing::ChildProcess;
using vantrel::testing::SshfsShare;
using vantrel::testing::syncWait;

namespace {

constexpr int runs = 3;
constexpr std::uint64_t dataSeed = 0x5348415245ULL; // fixed: every run generates the same package
constexpr qint64 packageBytes = 300 * MiB;
constexpr int packageFiles = 500;
constexpr int largeFiles = 4; // media files taking what the others leave, tens of MiB each
constexpr qint64 changedFileBytes = MiB;
const QString packageName = QStringLiteral("Share.prproj");
const QString changedFile = QStringLiteral("Project/main-edit.xml");
constexpr double settleSeconds = 2.1; // the stat cache trusts a file 2 s after it changed

constexpr int propagationRounds = 8;
constexpr int newcomerRounds = 6;
constexpr int pollIntervalMs = 2000; // the engine's default
constexpr double propagationLimit = 60.0;

// Targets: the median propagation, and no worse than measured on sshfs's defaults before.
constexpr double propagationTarget = 2.0;
constexpr double importTarget = 1.60;
constexpr double checkOutTarget = 0.41;
constexpr double checkInTarget = 0.02;
constexpr double exportTarget = 0.35;

long long monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void sleepSeconds(double seconds)
{
    QThread::msleep(static_cast<unsigned long>(seconds * 1000.0));
}

double maximum(const std::vector<double>& values)
{
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

// 300 MiB in 500 files: the edited file, log-uniform files between 3 KiB and 2 MiB, and a few
// media files that take the rest.
std::vector<PackageFile> planPackage()
{
    Random random(dataSeed);
    static const char* const tops[] = {"Media", "Audio", "Graphics", "Project", "Renders", "Cache"};
    std::vector<PackageFile> files{{changedFile, changedFileBytes}};
    const double low = std::log(double(3 * KiB));
    const double high = std::log(double(2 * MiB));
    qint64 smallTotal = 0;
    for (int index = 1; index < packageFiles - largeFiles; ++index) {
        const qint64 size = qint64(std::exp(low + random.uniform() * (high - low)));
        files.push_back({QStringLiteral("%1/Reel %2/item-%3.bin")
                             .arg(QLatin1String(tops[random.below(6)]))
                             .arg(random.below(8) + 1)
                             .arg(index, 4, 10, QLatin1Char('0')),
                         size});
        smallTotal += size;
    }
    const auto sizes =
        largeFileSizes(random, packageBytes - changedFileBytes - smallTotal, largeFiles, "share package");
    for (int index = 0; index < largeFiles; ++index)
        files.push_back({QStringLiteral("Media/master-%1.mov").arg(index + 1), sizes[size_t(index)]});
    return files;
}

void requireWholePackage(const QString& root, const char* what)
{
    const TreeTotals totals = treeTotals(root);
    if (totals.bytes != packageBytes || totals.files != packageFiles)
        throw std::runtime_error(std::string(what) + " does not hold the whole package");
}

// The user's edit: 1 MiB of new bytes over the edited file, in place.
void edit(const QString& path, int round)
{
    Random random(dataSeed + std::uint64_t(round));
    std::vector<char> bytes(static_cast<size_t>(changedFileBytes));
    random.fill(bytes.data(), bytes.size());
    const std::string name = path.toStdString();
    const int fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        fail("open " + name);
    writeAllAt(fd, bytes.data(), bytes.size(), 0, name);
    ::close(fd);
}

// ---------------------------------------------------------------------------------------------
// Package operations on the share, against cp -r onto it.

struct PackageFigures {
    std::vector<double> copy;     // cp -r of the package onto the share + syncfs
    std::vector<double> copyBack; // cp -r of that copy from the share to the local disk
    std::vector<double> import;
    std::vector<double> checkOut;
    std::vector<double> checkIn;
    std::vector<double> exported;
};

void measurePackageRun(const QString& mount, const QString& work, const QString& source, const Clients& clients,
                       const CacheControl& cache, int run, PackageFigures& figures)
{
    const QString copy = mount + QStringLiteral("/cp-copy");
    const QString back = work + QStringLiteral("/cp-back");
    double ignored = 0;
    cache.prepare();
    figures.copy.push_back(timedCopy(source, copy, &ignored));
    requireWholePackage(copy, "cp onto the share");
    cache.prepare();
    figures.copyBack.push_back(timedCopy(copy, back, &ignored));
    removeTree(copy);
    removeTree(back);

    const QString root = mount + QStringLiteral("/Run%1.vantrelteam").arg(run);
    const QString client = QStringLiteral("editor%1").arg(run);
    const QString local = clients.localFolder(client);
    const QString exportFolder = work + QStringLiteral("/export");
    {
        const auto team = clients.create(root, client);
        std::shared_ptr<VersioningService> service;
        figures.import.push_back(timed(cache, {root, local}, [&] {
            service = syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt,
                                                         std::nullopt, std::nullopt, QStringLiteral("Imported"),
                                                         DocumentApplication::none(), team, nullptr, nullptr));
        }));
        QString workingCopy;
        figures.checkOut.push_back(timed(cache, {root, local}, [&] {
            workingCopy = syncWait(service->checkOut({}, {.autoSave = false}, defaultS3Factory()));
        }));
        requireWholePackage(workingCopy, "the check-out");

        sleepSeconds(settleSeconds);
        edit(workingCopy + u'/' + changedFile, run);
        figures.checkIn.push_back(timed(
            cache, {root, local}, [&] { syncWait(service->checkIn(QStringLiteral("Edited"), defaultS3Factory())); }));
        if (service->versionIDs().size() != 2)
            throw std::runtime_error("the check-in did not store a version");

        QString exported;
        figures.exported.push_back(timed(cache, {exportFolder}, [&] {
            exported = syncWait(service->exportVersion(std::nullopt, exportFolder, defaultS3Factory()));
        }));
        requireWholePackage(exported, "the export");
        removeTree(exportFolder);
    }
    removeTree(root);
    removeTree(local);
}

// ---------------------------------------------------------------------------------------------
// Propagation between the mounts.

struct PropagationFigures {
    std::vector<double> lock;    // from the end of a check-out through one mount to the other's client
    std::vector<double> checkIn; // the same for a check-in
    int missed = 0;              // changes not seen within the limit
    NewcomerFigures newcomers;
};

// Waits until the watcher prints a state of `id` that `accept(versions, holder)` takes, after
// `since`; returns the seconds from `since`, or a negative number when it did not within the limit.
double seenAfter(ChildProcess& watcher, const QString& id, long long since,
                 const std::function<bool(int, const QString&)>& accept)
{
    double seen = -1;
    const auto check = [&] {
        for (const auto& line : watcher.lines()) {
            const QList<QByteArray> fields = line.text.split(' ');
            if (fields.size() != 5 || fields[0] != "state" || fields[2] != id.toUtf8())
                continue;
            const long long at = fields[1].toLongLong();
            if (at >= since && accept(fields[3].toInt(), QString::fromUtf8(fields[4]))) {
                seen = double(at - since) / 1e9;
                return true;
            }
        }
        return false;
    };
    vantrel::testing::pumpUntil({&watcher}, Clock::now() + std::chrono::seconds(int(propagationLimit)), check);
    if (!watcher.isPrinting() && seen < 0)
        throw std::runtime_error("the watching client ended: " + watcher.describe().toStdString());
    return seen;
}

PropagationFigures measurePropagation(const QString& one, const QString& two, const QString& work,
                                      const Clients& clients)
{
    PropagationFigures figures;
    const QString name = QStringLiteral("Propagation.vantrelteam");
    const auto team = clients.create(one + u'/' + name, QStringLiteral("actor"));
    const QString source = work + QStringLiteral("/notes/Notes.txt");
    QDir().mkpath(QFileInfo(source).path());
    QFile file(source);
    if (!file.open(QIODevice::WriteOnly) || file.write("notes\n") != 6)
        fail("write " + source.toStdString());
    file.close();
    const auto notes = syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt,
                                                          std::nullopt, std::nullopt, QStringLiteral("Imported"),
                                                          DocumentApplication::none(), team, nullptr, nullptr));
    const QString id = notes->id().toString();
    const QString actor = Clients::identity(QStringLiteral("actor")).clientId;

    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/propagation_client");
    if (!QFileInfo(program).isExecutable())
        throw std::runtime_error(program.toStdString() + " is missing: build the target propagation_client");
    const QString local = clients.localFolder(QStringLiteral("watcher"));
    QDir().mkpath(local);
    ChildProcess watcher;
    if (!watcher.start(program, {two + u'/' + name, local, QStringLiteral("watcher"), QString::number(pollIntervalMs)},
                       ChildInput::pipe(), local + QStringLiteral(".stderr")))
        throw std::runtime_error(watcher.describe().toStdString());
    if (watcher.waitFor("ready ", std::chrono::minutes(2)).isEmpty())
        throw std::runtime_error("the watching client did not start: " + watcher.describe().toStdString());
    sleepSeconds(2.5); // past its first poll, so that it polls on its own rhythm

    Random random(dataSeed ^ 0x5EEDULL);
    for (int round = 0; round < propagationRounds; ++round) {
        note(QStringLiteral("propagation round %1 of %2").arg(round + 1).arg(propagationRounds));
        sleepSeconds(0.25 + 2.0 * random.uniform());
        const QString workingCopy = syncWait(notes->checkOut({}, {.autoSave = false}, defaultS3Factory()));
        const long long lockedAt = monotonicNs();
        const double lock =
            seenAfter(watcher, id, lockedAt, [&](int, const QString& holder) { return holder == actor; });
        if (lock < 0)
            ++figures.missed;
        else
            figures.lock.push_back(lock);

        sleepSeconds(0.25 + 2.0 * random.uniform());
        QFile notesFile(workingCopy);
        if (!notesFile.open(QIODevice::Append) || notesFile.write("more\n") != 5)
            fail("edit " + workingCopy.toStdString());
        notesFile.close();
        syncWait(notes->checkIn(QStringLiteral("Round %1").arg(round + 1), defaultS3Factory()));
        const long long checkedInAt = monotonicNs();
        const int versions = round + 2;
        const double checkIn = seenAfter(watcher, id, checkedInAt, [&](int count, const QString& holder) {
            return count == versions && holder == QLatin1String("-");
        });
        if (checkIn < 0)
            ++figures.missed;
        else
            figures.checkIn.push_back(checkIn);
    }
    figures.newcomers = measureNewcomers(
        one + u'/' + name, clients, notes->id(), propagationRounds + 1, newcomerRounds, [&](int versions) {
            return seenAfter(watcher, id, monotonicNs(), [&](int count, const QString& holder) {
                return count == versions && holder == QLatin1String("-");
            });
        });
    watcher.send("quit");
    watcher.end();
    return figures;
}

// ---------------------------------------------------------------------------------------------

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(u' ', 0, 2) : QString();
}

QString ratioRow(double value, double cp)
{
    // Three digits for the small ratios, so that a figure over its target does not read as equal.
    const double ratio = value / cp;
    return QStringLiteral("%1 = %2x cp").arg(seconds(value)).arg(ratio, 0, 'f', ratio < 0.1 ? 3 : 2);
}

int run(const QStringList& arguments)
{
    const auto options = parseOptions(arguments, "share_bench", VANTREL_BENCH_DEFAULT_FOLDER, "about 2 GiB");
    if (!options)
        return 0;
    std::signal(SIGPIPE, SIG_IGN); // a client process that ended is reported, not fatal
    if (const QString missing = SshfsShare::missing(); !missing.isEmpty())
        throw std::runtime_error("no sshfs share can be made here; missing: " + missing.toStdString());
    const WorkFolder workFolder(options->base, QStringLiteral("share-bench"), options->keep, 2 * GiB);
    const QString& work = workFolder.path();
    const QString loadBefore = loadAverage();

    CacheControl cache;
    const bool dropping = cache.probe();
    const Clients clients(work + QStringLiteral("/local"), true);
    SshfsShare share(work);
    const QString one = share.mount(QStringLiteral("one"));
    const QString two = one.isEmpty() ? QString() : share.mount(QStringLiteral("two"));
    if (two.isEmpty())
        throw std::runtime_error("the share could not be mounted: " + share.error().toStdString());

    const QString source = work + QStringLiteral("/source/") + packageName;
    note(QStringLiteral("generating the package in %1").arg(source));
    generateFiles(source, planPackage(), dataSeed ^ 0xC0FFEEULL);
    requireWholePackage(source, "the generated package");

    const PropagationFigures propagation = measurePropagation(one, two, work, clients);
    PackageFigures package;
    for (int index = 1; index <= runs; ++index) {
        note(QStringLiteral("package run %1 of %2").arg(index).arg(runs));
        measurePackageRun(one, work, source, clients, cache, index, package);
    }
    share.stop();

    const double cp = median(package.copy);
    std::printf("\nVantrel share benchmark\n");
    std::printf("  machine:    %s, %d threads, Qt %s; load average %s at the start, %s at the end\n",
                qPrintable(QSysInfo::prettyProductName()), QThread::idealThreadCount(), qVersion(),
                qPrintable(loadBefore), qPrintable(loadAverage()));
    std::printf("  share:      sshfs (defaults) to a private sshd on 127.0.0.1, mounted twice; the export on %s (%s)\n",
                qPrintable(work), qPrintable(fileSystemType(work)));
    std::printf("  package:    %s: %d files, %s, 1 MiB edit of %s; local folders on the local disk\n",
                qPrintable(packageName), packageFiles, qPrintable(mebibytes(double(packageBytes), 0)),
                qPrintable(changedFile));
    std::printf("  page cache: %s; median of %d runs\n",
                dropping ? "dropped before every timed step" : "not dropped (not root?)", runs);
    std::printf("  clients:    the watcher polls every %s; %d rounds of a check-out and a check-in, then %d new "
                "clients' first check-out and check-in\n\n",
                qPrintable(seconds(pollIntervalMs / 1000.0)), propagationRounds, newcomerRounds);

    std::vector<Row> rows;
    rows.push_back({QStringLiteral("cp -r of the package onto the share"), seconds(cp), QStringLiteral("(baseline)"),
                    QStringLiteral("info")});
    const auto ratio = [&](const char* what, const std::vector<double>& values, double target) {
        const double value = median(values);
        rows.push_back({QString::fromUtf8(what), ratioRow(value, cp),
                        QStringLiteral("<= %1x cp").arg(target, 0, 'f', 2), verdict(value / cp <= target)});
    };
    ratio("import", package.import, importTarget);
    ratio("check-out", package.checkOut, checkOutTarget);
    ratio("check-in after a 1 MiB edit", package.checkIn, checkInTarget);
    ratio("export", package.exported, exportTarget);
    const auto seen = [&](const char* what, const std::vector<double>& values) {
        rows.push_back({QString::fromUtf8(what),
                        QStringLiteral("median %1, max %2").arg(seconds(median(values)), seconds(maximum(values))),
                        QStringLiteral("median <= %1").arg(seconds(propagationTarget)),
                        verdict(propagation.missed == 0 && median(values) <= propagationTarget)});
    };
    seen("check-out seen through the other mount", propagation.lock);
    seen("check-in seen through the other mount", propagation.checkIn);
    const auto& newcomers = propagation.newcomers.seen;
    rows.push_back({QStringLiteral("a new client's first check-in seen through the other mount"),
                    QStringLiteral("median %1, max %2").arg(seconds(median(newcomers)), seconds(maximum(newcomers))),
                    QStringLiteral("median <= %1").arg(seconds(propagationTarget)),
                    verdict(propagation.newcomers.missed == 0 && median(newcomers) <= propagationTarget)});
    printTable(rows);

    std::printf("\nDetails (every run, in order):\n");
    const QString ratios = QStringLiteral("%1, %2")
                               .arg(median(package.checkOut) / median(package.copyBack), 0, 'f', 2)
                               .arg(median(package.exported) / median(package.copyBack), 0, 'f', 2);
    printColumns({{QStringLiteral("Step"), QStringLiteral("Seconds")},
                  {QStringLiteral("cp -r onto the share + syncfs"), runList(package.copy, seconds)},
                  {QStringLiteral("cp -r from the share to the local disk"), runList(package.copyBack, seconds)},
                  {QStringLiteral("import"), runList(package.import, seconds)},
                  {QStringLiteral("check-out"), runList(package.checkOut, seconds)},
                  {QStringLiteral("check-in"), runList(package.checkIn, seconds)},
                  {QStringLiteral("export"), runList(package.exported, seconds)},
                  {QStringLiteral("check-out, export as x (cp from the share)"), ratios},
                  {QStringLiteral("check-out seen after"), runList(propagation.lock, seconds)},
                  {QStringLiteral("check-in seen after"), runList(propagation.checkIn, seconds)},
                  {QStringLiteral("a new client's check-in seen after"), runList(newcomers, seconds)},
                  {QStringLiteral("changes not seen within 60 s"),
                   QString::number(propagation.missed + propagation.newcomers.missed)}});
    if (options->keep)
        std::printf("\nData kept in %s (the share's mounts are gone)\n", qPrintable(work));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return benchMain(argc, argv, "share_bench", run);
}
