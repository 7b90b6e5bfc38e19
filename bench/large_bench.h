// large_bench: what a version of a large file costs, side by side with cp, restic and borg; the
// parts shared by its files (see bench/README.md).

#pragma once

#include "bench/bench_support.h"

#include <QString>

#include <array>
#include <vector>

namespace vantrel::bench::large {

constexpr int rounds = 3;
constexpr qint64 editBytes = MiB;      // new bytes of the middle, insert and append edits
constexpr qint64 pieceBytes = 4 * KiB; // each of the ten writes of the scattered edit
constexpr int pieces = 10;
constexpr double settleSeconds = 2.1; // the stat cache trusts a file 2 s after it changed

// What this run measures, from the command line.
struct Settings {
    QString work; // the run's folder on the local disk
    qint64 largeBytes = 2 * GiB;
    bool local = true;   // the large file with its team bundle on the local disk
    bool share = true;   // the same on the sshfs share
    bool smb = true;     // the same on the SMB share
    bool smaller = true; // growth for the 200 MiB file and the package
};

// The edits of a stored change, each made in a check-out of its own, in this order: new bytes
// over the middle, new bytes inserted in the middle, new bytes at the end, and ten small writes
// spread over the file.
enum class Edit { middle, insert, append, scattered };
constexpr std::array<Edit, 4> edits{Edit::middle, Edit::insert, Edit::append, Edit::scattered};
QString editName(Edit edit);
// Makes edit `edit` of `round` (its new bytes from the round's seed) to the file at `path`, in
// place; returns the bytes it wrote.
qint64 applyEdit(const QString& path, Edit edit, int round);
// Throws unless the file at `path` is `fileBytes` long and holds the middle edit of `round`.
void requireEdit(const QString& path, qint64 fileBytes, int round);

// What the team bundle and the backup tools' repositories grew by for each edit, round by round.
struct EditGrowth {
    std::vector<double> engine;
    std::vector<double> restic;
    std::vector<double> borg;
    qint64 changed = 0;
};
using GrowthFigures = std::array<EditGrowth, edits.size()>;

// The large file's rounds on one place: the local disk, or a share (two mounts of it, the
// teammate on the second).
struct Place {
    QString name;         // "local disk", "sshfs share" or "SMB share"
    QString folder;       // where team bundles and copies go
    QString teammate;     // the same folder through the second mount; empty on the local disk
    QString serverFolder; // the same folder on the disk that holds it, where the team bundle is measured
};

struct PlaceFigures {
    std::vector<double> copyTo;   // cp of the file from the local disk into the place + syncfs
    std::vector<double> copyFrom; // cp of that copy back to the local disk + syncfs
    std::vector<double> read;     // a read of that copy (to nowhere)
    std::vector<double> import;
    // On a share: the same file imported again as a second document of the same team bundle,
    // and what the writer's mount read from the share for it.
    std::vector<double> importAgain;
    std::vector<double> importAgainShareBytes;
    std::vector<double> checkIn; // of the middle edit
    std::vector<double> growth;  // bytes the team bundle's objects grew by at that check-in
    // On the local disk: restic's and borg's backup of the same edit, into repositories there.
    std::vector<double> restic;
    std::vector<double> borg;
    GrowthFigures edits; // on the local disk: every edit's growth
    // On a share: a teammate's check-out of the version checked in, having checked out the
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

struct Results {
    PlaceFigures local;
    PlaceFigures share;
    PlaceFigures smb;
    GrowthFigures medium;
    GrowthFigures package;
};

// What the process of the sshfs mount at `mountPoint` has read through system calls so far
// (rchar of /proc/<pid>/io): the share's answers, and the requests the kernel handed it; -1
// when that process can't be found or read.
double mountReadBytes(const QString& mountPoint);

PlaceFigures measurePlace(const Place& place, const Settings& settings, const QString& source, const Clients& clients,
                          const CacheControl& cache);
// The package of 2,001 files (`file` the 50 MiB one inside it) or a file alone (`file` empty).
GrowthFigures measureGrowth(const QString& source, const QString& file, const Settings& settings,
                            const Clients& clients, const CacheControl& cache);

// A size in MiB, "n/a" when it is negative (not known).
QString miB(double bytes);

// The table of figures and verdicts, then every round's figures, on standard output.
void report(const Settings& settings, const Results& results);

} // namespace vantrel::bench::large
