// large_bench: what a version of a large file costs, side by side with cp and restic; the parts
// shared by its files (see bench/README.md).

#pragma once

#include "bench/bench_support.h"

#include <QString>

#include <vector>

namespace vantrel::bench::large {

constexpr int rounds = 3;
constexpr qint64 editBytes = MiB;     // new bytes written in the middle of the file
constexpr double settleSeconds = 2.1; // the stat cache trusts a file 2 s after it changed

// What this run measures, from the command line.
struct Settings {
    QString work; // the run's folder on the local disk
    qint64 largeBytes = 2 * GiB;
    bool local = true;   // the large file with its team bundle on the local disk
    bool share = true;   // the same on the sshfs share
    bool smaller = true; // growth for the 200 MiB file and the package
};

// The large file's rounds on one place: the local disk, or the share (two mounts of it, the
// teammate on the second).
struct Place {
    QString name;         // "local disk" or "sshfs share"
    QString folder;       // where team bundles, copies and restic's repository go
    QString teammate;     // the same folder through the second mount; empty on the local disk
    QString serverFolder; // the same folder on the disk that holds it, where the team bundle is measured
};

struct PlaceFigures {
    std::vector<double> copyTo;   // cp of the file from the local disk into the place + syncfs
    std::vector<double> copyFrom; // cp of that copy back to the local disk + syncfs
    std::vector<double> read;     // a read of that copy (to nowhere)
    std::vector<double> import;
    std::vector<double> checkIn; // of the 1 MiB edit
    std::vector<double> growth;  // bytes the team bundle's objects grew by at the check-in
    std::vector<double> restic;  // restic backup of the edited file, into a repository in the place
    std::vector<double> resticGrowth;
    // On the share: a teammate's check-out of the version checked in, having checked out the
    // version before (warm), and the first check-out of the teammate's computer (empty).
    // Until the working copy and the chunk cache are on disk (syncfs of the teammate's disk).
    std::vector<double> warmCheckOut;
    std::vector<double> warmShareBytes; // bytes the teammate's mount took from the share
    std::vector<double> emptyCheckOut;
    std::vector<double> emptyShareBytes;
    // Until the working copy is on disk (fsync of it), the cache still being written: the wait.
    std::vector<double> warmCheckOutWait;
    std::vector<double> emptyCheckOutWait;
};

// Growth of one stored change of a smaller file, on the local disk.
struct GrowthFigures {
    std::vector<double> engine;
    std::vector<double> restic;
};

// The edit: `editBytes` of new bytes at the middle of the file, from `round`'s seed.
qint64 editOffset(qint64 fileBytes);
void editMiddle(const QString& path, int round);
// Throws unless the file at `path` is `fileBytes` long and holds edit `round`.
void requireEdit(const QString& path, qint64 fileBytes, int round);

// What the process of the sshfs mount at `mountPoint` has read through system calls so far
// (rchar of /proc/<pid>/io): the share's answers, and the requests the kernel handed it; -1
// when that process can't be found or read.
double mountReadBytes(const QString& mountPoint);

PlaceFigures measurePlace(const Place& place, const Settings& settings, const QString& source, const Clients& clients,
                          const CacheControl& cache);
// The package of 2,001 files (`file` the 50 MiB one inside it) or a file alone (`file` empty).
GrowthFigures measureGrowth(const QString& source, const QString& file, const Settings& settings,
                            const Clients& clients, const CacheControl& cache);

} // namespace vantrel::bench::large
