// engine_bench: what its steps share (see engine_bench.cpp and bench/README.md).

#pragma once

#include "bench/bench_support.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace vantrel::bench {

constexpr int runs = 3;
constexpr std::uint64_t dataSeed = 0x56414E5452454CULL; // fixed: every run generates the same packages
constexpr qint64 changedFileBytes = MiB;                // the edit: 1 MiB of one file, rewritten in place
constexpr double settleSeconds = 2.1;                   // the stat cache trusts a file only 2 s after it last changed

// A generated package: one file of exactly 1 MiB (the one edited), a dozen media files of tens
// of MiB, and the rest log-uniform between 3 KiB and 2 MiB in folders one to four levels deep.
struct PackageShape {
    int files = 0;
    qint64 bytes = 0;
};
constexpr PackageShape smallPackage{2000, GiB};
constexpr PackageShape largePackage{8000, 3 * GiB};

// The relative path of the edited file.
QString changedFile();
std::vector<PackageFile> planPackage(const PackageShape& shape);
// Writes the package of `shape` at `root` (seconds taken) and checks it is whole.
double generatePackage(const QString& root, const PackageShape& shape);
void requireWholePackage(const QString& root, const PackageShape& shape, const char* what);
// Writes new bytes (new for each `round`) over the whole edited file of the package at `root`.
void editPackage(const QString& root, int round);
// Whether the edited file below `root` holds the bytes of edit `round`.
bool holdsEdit(const QString& root, int round);

void sleepSeconds(double seconds);
// The bytes and the files of the team bundle's whole store (`objects`).
qint64 storeBytes(const TeamBundle& team);
qint64 storeFiles(const TeamBundle& team);
// Bytes this process has read through system calls so far, cached or not (/proc/self/io).
double bytesRead();
// A check-in removes the working copy in the background: lets that end before the next step.
void waitForBackgroundWork();

struct BenchContext {
    QString work;
    const CacheControl& cache;
    const Clients& clients;
    int editRound = 0;
};

// Three runs of one way of making a new version after the edit, each beside git's commit of the
// same edit.
struct VersionRuns {
    std::vector<double> vantrel;        // the engine's step + syncfs
    std::vector<double> git;            // git add -A && git commit + syncfs
    std::vector<double> vantrelGrowth;  // bytes the whole store grew by
    std::vector<double> gitGrowth;      // bytes .git/objects grew by
    std::vector<double> vantrelObjects; // files the store gained
    std::vector<double> gitObjects;
};

// A new version after the edit, the engine's and git's, side by side on the same package.
struct VersionFigures {
    PackageShape shape;
    double generateSeconds = 0;
    double importSeconds = 0;   // the engine's first version (untimed preparation)
    double gitFirstSeconds = 0; // git's first commit (untimed preparation)
    // storeVersion of the generated folder, which nobody watched: the whole walk with the stat cache.
    VersionRuns walk;
    // checkIn of a working copy watched since its check-out: what a user does.
    VersionRuns checkIn;
    std::vector<double> checkInCall; // of which until checkIn() returned (the rest is the syncfs)
    std::vector<double> checkInRead; // bytes it read (system calls)
    std::vector<double> checkOut;    // the check-out before each check-in (untimed preparation)
};
VersionFigures measureVersions(BenchContext& context, const PackageShape& shape, const QString& source);

// Import, check-out, check-in (watched, and after a restart) and export of the small package,
// each against cp -r of it.
struct PackageFigures {
    std::vector<double> copy;       // cp -r + syncfs
    std::vector<double> copyNoSync; // cp -r alone
    std::vector<double> import;
    std::vector<double> firstCheckOut;  // right after the import
    std::vector<double> checkIn;        // by the client that made the check-out and watched its working copy
    std::vector<double> checkInRead;    // bytes it read (system calls)
    std::vector<double> checkOut;       // right after the check-in
    std::vector<double> restartCheckIn; // by a newly opened client: the full walk
    std::vector<double> restartCheckInRead;
    std::vector<double> exportTime;
    // Peak resident memory (VmHWM) of a client in a process of its own: once the team bundle is
    // open, after the import, and during a teammate's check-out (empty chunk cache).
    double memoryBefore = 0;
    double memoryImport = 0;
    double memoryCheckOut = 0;
};
PackageFigures measurePackage(BenchContext& context, const QString& source);
void measurePackageMemory(BenchContext& context, const QString& source, PackageFigures& figures);

// A team bundle of 50,000 bundles.
struct TeamFigures {
    LargeTeamShape shape;
    double setupSeconds = 0;
    qint64 journalFiles = 0;
    qint64 journalBytes = 0;
    qint64 bundles = 0;
    std::vector<double> open;     // TeamBundle::open + liveIndex(), page cache dropped
    std::vector<double> openOnly; // of which TeamBundle::open
    std::vector<double> reread;   // poll() + liveIndex() after a rename by another client, cache dropped
    std::vector<double> rereadWarm;
    std::vector<double> commits; // every commit of one client's run, in order
    double memoryPeakBytes = 0;  // VmHWM of a client in a process of its own
    double memoryNowBytes = 0;   // its VmRSS at the end
    double memoryOpenSeconds = 0;
};
constexpr int commitRunLength = 2000;
TeamFigures measureTeam(BenchContext& context);

// The child process that measures a client's memory: `engine_bench --client-memory ROOT LOCAL_ROOT`
// opens the team bundle ROOT as the client "memory", its local folders in LOCAL_ROOT/memory.
int clientMemoryMain(const QStringList& arguments);
// `engine_bench --package-memory SOURCE WORK`: imports SOURCE into a new team bundle in WORK and
// checks it out as a teammate, printing the peak memory before, after the import and during the
// check-out.
int packageMemoryMain(const QStringList& arguments);

} // namespace vantrel::bench
