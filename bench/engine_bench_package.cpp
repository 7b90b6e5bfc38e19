// engine_bench: the generated packages; import, check-out, check-in and export against cp -r.

#include "bench/engine_bench.h"
#include "engine/document_application.h"
#include "engine/s3_service.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "support/sync_wait.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace vantrel::bench {

using vantrel::testing::syncWait;

namespace {

constexpr int largeFiles = 12;           // tens of MiB each
constexpr qint64 smallestFile = 3 * KiB; // the others: log-uniform sizes in between
constexpr qint64 largestSmallFile = 2 * MiB;

std::vector<char> editedBytes(int round)
{
    Random random(dataSeed + 1000 + std::uint64_t(round));
    std::vector<char> bytes(static_cast<size_t>(changedFileBytes));
    random.fill(bytes.data(), bytes.size());
    return bytes;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// What the steps share.

void sleepSeconds(double seconds)
{
    QThread::msleep(static_cast<unsigned long>(seconds * 1000.0));
}

qint64 storeBytes(const TeamBundle& team)
{
    return treeTotals(team.contents().folder()).bytes;
}

qint64 storeFiles(const TeamBundle& team)
{
    return treeTotals(team.contents().folder()).files;
}

double bytesRead()
{
    std::ifstream file("/proc/self/io");
    std::string key;
    double value = 0;
    while (file >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return 0;
}

void waitForBackgroundWork()
{
    QThreadPool::globalInstance()->waitForDone(30000);
}

// ---------------------------------------------------------------------------------------------
// The packages.

QString changedFile()
{
    return QStringLiteral("Project/Timeline/main-edit.xml");
}

std::vector<PackageFile> planPackage(const PackageShape& shape)
{
    Random random(dataSeed);
    static const char* const tops[] = {"Media", "Audio", "Graphics", "Project", "Renders", "Cache"};
    static const char* const extensions[] = {"mov", "wav", "png", "xml", "mp4", "bin"};
    std::vector<PackageFile> files;
    files.reserve(size_t(shape.files));
    files.push_back({changedFile(), changedFileBytes});

    const double low = std::log(double(smallestFile));
    const double high = std::log(double(largestSmallFile));
    qint64 smallTotal = 0;
    for (int index = 1; index < shape.files - largeFiles; ++index) {
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

    const qint64 rest = shape.bytes - changedFileBytes - smallTotal;
    const std::vector<qint64> sizes = largeFileSizes(random, rest, largeFiles, "package");
    for (int index = 0; index < largeFiles; ++index) {
        files.push_back({QStringLiteral("Media/Reel %1/master-%2.mov")
                             .arg(index % 8 + 1, 2, 10, QLatin1Char('0'))
                             .arg(index + 1, 2, 10, QLatin1Char('0')),
                         sizes[size_t(index)]});
    }
    return files;
}

double generatePackage(const QString& root, const PackageShape& shape)
{
    const auto start = Clock::now();
    generateFiles(root, planPackage(shape), dataSeed ^ 0xC0FFEEULL);
    const double seconds = secondsSince(start);
    requireWholePackage(root, shape, "the generated package");
    return seconds;
}

void requireWholePackage(const QString& root, const PackageShape& shape, const char* what)
{
    const TreeTotals totals = treeTotals(root);
    if (totals.bytes != shape.bytes || totals.files != shape.files)
        throw std::runtime_error(std::string(what) + " does not hold the whole package (" + std::to_string(totals.files)
                                 + " files, " + std::to_string(totals.bytes) + " bytes)");
}

void editPackage(const QString& root, int round)
{
    const std::vector<char> bytes = editedBytes(round);
    const std::string path = (root + u'/' + changedFile()).toStdString();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        fail("open " + path);
    writeAllAt(fd, bytes.data(), bytes.size(), 0, path);
    if (::close(fd) != 0)
        fail("close " + path);
}

bool holdsEdit(const QString& root, int round)
{
    QFile file(root + u'/' + changedFile());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    const std::vector<char> expected = editedBytes(round);
    return data.size() == qsizetype(expected.size())
           && std::memcmp(data.constData(), expected.data(), expected.size()) == 0;
}

// ---------------------------------------------------------------------------------------------
// Import, check-out, check-in and export, against cp -r.

PackageFigures measurePackage(BenchContext& context, const QString& source)
{
    PackageFigures figures;
    const auto& cache = context.cache;
    for (int run = 1; run <= runs; ++run) {
        note(QStringLiteral("package run %1 of %2").arg(run).arg(runs));

        // cp -r of the package, on the same disk.
        const QString copy = context.work + QStringLiteral("/cp-copy");
        cache.prepare();
        double noSync = 0;
        figures.copy.push_back(timedCopy(source, copy, &noSync));
        figures.copyNoSync.push_back(noSync);
        requireWholePackage(copy, smallPackage, "cp");
        removeTree(copy);

        // Import into a new team bundle.
        const QString root = context.work + QStringLiteral("/Run%1.vantrelteam").arg(run);
        const QString client = QStringLiteral("editor%1").arg(run);
        const QString local = context.clients.localFolder(client);
        const auto syncBothSides = [&] {
            syncFileSystemOf(root);
            syncFileSystemOf(local);
        };
        auto team = context.clients.create(root, client);
        cache.prepare();
        auto start = Clock::now();
        auto service = syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt,
                                                          std::nullopt, std::nullopt, QStringLiteral("Initial Commit"),
                                                          DocumentApplication::none(), team, nullptr, nullptr));
        syncBothSides();
        figures.import.push_back(secondsSince(start));
        const auto id = service->id();
        const auto type = service->type();

        // Check-out; the user waits, edits 1 MiB and checks in, with the same client.
        cache.prepare();
        start = Clock::now();
        const QString workingCopy = syncWait(service->checkOut({}, {.autoSave = false}, defaultS3Factory()));
        syncBothSides();
        figures.firstCheckOut.push_back(secondsSince(start));
        requireWholePackage(workingCopy, smallPackage, "the first check-out");
        sleepSeconds(settleSeconds);
        editPackage(workingCopy, ++context.editRound);
        cache.prepare();
        double readBefore = bytesRead();
        start = Clock::now();
        syncWait(service->checkIn(QStringLiteral("Edited"), defaultS3Factory()));
        syncBothSides();
        figures.checkIn.push_back(secondsSince(start));
        figures.checkInRead.push_back(bytesRead() - readBefore);
        if (service->versionIDs().size() != 2 || QFileInfo::exists(workingCopy))
            throw std::runtime_error("the check-in did not store a new version");
        waitForBackgroundWork();

        // A fresh check-out of the version just checked in.
        cache.prepare();
        start = Clock::now();
        const QString freshCopy = syncWait(service->checkOut({}, {.autoSave = false}, defaultS3Factory()));
        syncBothSides();
        figures.checkOut.push_back(secondsSince(start));
        requireWholePackage(freshCopy, smallPackage, "the check-out after the check-in");
        if (!holdsEdit(freshCopy, context.editRound))
            throw std::runtime_error("the check-out does not hold the edit that was checked in");

        // The application quits, the user edits, the application starts again and checks in:
        // the new client did not watch the working copy all along, so it walks it.
        service.reset();
        team.reset();
        sleepSeconds(settleSeconds);
        editPackage(freshCopy, ++context.editRound);
        team = context.clients.open(root, client);
        service = syncWait(
            VersioningService::open(type, id, std::nullopt, std::nullopt, team, nullptr, nullptr, defaultS3Factory()));
        cache.prepare();
        readBefore = bytesRead();
        start = Clock::now();
        syncWait(service->checkIn(QStringLiteral("Edited after a restart"), defaultS3Factory()));
        syncBothSides();
        figures.restartCheckIn.push_back(secondsSince(start));
        figures.restartCheckInRead.push_back(bytesRead() - readBefore);
        if (service->versionIDs().size() != 3 || QFileInfo::exists(freshCopy))
            throw std::runtime_error("the check-in after a restart did not store a new version");
        waitForBackgroundWork();

        // Export of the current version, to the same disk.
        const QString exportFolder = context.work + QStringLiteral("/export");
        cache.prepare();
        start = Clock::now();
        const QString exported = syncWait(service->exportVersion(std::nullopt, exportFolder, defaultS3Factory()));
        syncFileSystemOf(exportFolder);
        figures.exportTime.push_back(secondsSince(start));
        requireWholePackage(exported, smallPackage, "the export");
        if (!holdsEdit(exported, context.editRound))
            throw std::runtime_error("the export does not hold the last edit");

        removeTree(exportFolder);
        service.reset();
        team.reset();
        removeTree(root);
        removeTree(local);
    }
    return figures;
}

// ---------------------------------------------------------------------------------------------
// Memory of the import and of a check-out, in a process of its own: nothing of the benchmark's own
// work (the package's generation, cp) counts.

namespace {

// Starts the peak resident size (VmHWM) anew from what is resident now.
void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

} // namespace

void measurePackageMemory(BenchContext& context, const QString& source, PackageFigures& figures)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--package-memory"), source, context.work + QStringLiteral("/memory")});
    if (!child.waitForStarted() || !child.waitForFinished(1800000) || child.exitCode() != 0)
        throw std::runtime_error("the client process for the package's memory failed");
    const QByteArray output = child.readAllStandardOutput();
    if (std::sscanf(output.constData(), "memory %lf %lf %lf", &figures.memoryBefore, &figures.memoryImport,
                    &figures.memoryCheckOut) != 3)
        throw std::runtime_error("the client process said: " + output.toStdString());
}

int packageMemoryMain(const QStringList& arguments)
{
    if (arguments.size() != 2)
        throw std::runtime_error("usage: engine_bench --package-memory SOURCE WORK");
    const QString work = arguments.at(1);
    const Clients clients(work + QStringLiteral("/local"), true);
    auto team = clients.create(work + QStringLiteral("/Memory.vantrelteam"), QStringLiteral("memory"));
    const double before = statusBytes("VmHWM");
    auto service = syncWait(VersioningService::import(VersioningServiceType::document, arguments.at(0), std::nullopt,
                                                      std::nullopt, std::nullopt, QStringLiteral("Initial Commit"),
                                                      DocumentApplication::none(), team, nullptr, nullptr));
    waitForBackgroundWork();
    const double import = statusBytes("VmHWM");
    // The check-out of a teammate with an empty chunk cache: a client of its own.
    const auto id = service->id();
    const auto type = service->type();
    service.reset();
    team.reset();
    team = clients.open(work + QStringLiteral("/Memory.vantrelteam"), QStringLiteral("teammate"));
    service = syncWait(VersioningService::open(type, id, std::nullopt, std::nullopt, team, nullptr, nullptr,
                                               defaultS3Factory()));
    resetPeakMemory();
    const QString workingCopy = syncWait(service->checkOut({}, {.autoSave = false}, defaultS3Factory()));
    waitForBackgroundWork();
    const double checkOut = statusBytes("VmHWM");
    requireWholePackage(workingCopy, smallPackage, "the check-out");
    std::printf("memory %.0f %.0f %.0f\n", before, import, checkOut);
    return 0;
}

} // namespace vantrel::bench
