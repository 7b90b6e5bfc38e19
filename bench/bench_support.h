// Helpers shared by the benchmark programs: generated data, timing, the page cache, plain copies,
// clients of a team bundle, a large team bundle and the report table.

#pragma once

#include "engine/document_type.h"
#include "engine/journal/journal.h"
#include "engine/storage/content_hash.h"
#include "engine/team_bundle.h"
#include "engine/version_bundles.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::bench {

using Clock = std::chrono::steady_clock;

constexpr qint64 KiB = 1024;
constexpr qint64 MiB = 1024 * KiB;
constexpr qint64 GiB = 1024 * MiB;

// The large team bundle of buildLargeTeam() by default.
constexpr int indexCollections = 400;
constexpr int indexDocuments = 9600; // 10,000 bundles in all
constexpr int indexWriters = 3;      // clients that made them
constexpr int bundlesPerRecord = 5;  // records of a few bundles each: the journals get packed

// How buildLargeTeam() fills a team bundle.
struct LargeTeamShape {
    int collections = indexCollections;
    int documents = indexDocuments;
    int writers = indexWriters;
    int bundlesPerRecord = bench::bundlesPerRecord;

    int bundles() const { return collections + documents; }
};

// ---------------------------------------------------------------------------------------------
// Small helpers.

// The tag of note()'s lines: the program's name.
void setNoteTag(const char* tag);
void note(const QString& text);
[[noreturn]] void fail(const std::string& what);

double secondsSince(Clock::time_point start);
double median(std::vector<double> values);
QString seconds(double value);
QString mebibytes(double bytes, int decimals);
// A field of /proc/self/status in bytes ("VmHWM", "VmRSS").
double statusBytes(const char* field);
QString runList(const std::vector<double>& values, const std::function<QString(double)>& format);
QString fileSystemType(const QString& path);

// xoshiro256** seeded through splitmix64: fast, reproducible, incompressible output.
class Random {
public:
    explicit Random(std::uint64_t seed);
    std::uint64_t next();
    double uniform() { return double(next() >> 11) * 0x1.0p-53; } // [0, 1)
    int below(int bound) { return int(next() % std::uint64_t(bound)); }
    void fill(char* data, size_t size);

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::array<std::uint64_t, 4> m_state{};
};

// Writes all of `data` at `offset` of the open file `fd`.
void writeAllAt(int fd, const char* data, size_t size, qint64 offset, const std::string& path);
// Writes `size` pseudo-random bytes at `offset` of the open file `fd`.
void writeRandom(int fd, qint64 offset, qint64 size, Random& random, std::vector<char>& buffer,
                 const std::string& path);

struct PackageFile {
    QString path; // relative
    qint64 size = 0;
};

// `total` bytes split among `count` large files, a weight of 1 to 4 each, drawn from `random`;
// `what` names the plan in the error when a file comes out below 8 MiB.
std::vector<qint64> largeFileSizes(Random& random, qint64 total, int count, const char* what);

// Writes the files of `plan` below `root`, with pseudo-random bytes from `seed`.
void generateFiles(const QString& root, const std::vector<PackageFile>& plan, std::uint64_t seed);

// What `du` would sum: the sizes of the regular files below `root`, links not followed.
struct TreeTotals {
    qint64 bytes = 0;
    qint64 files = 0;
};

TreeTotals treeTotals(const QString& root);
void removeTree(const QString& path);

// Flushes the file system holding `path`: timed steps end with it, so that each figure is the
// time until the result is on disk (the engine syncs what it writes; cp does not).
void syncFileSystemOf(const QString& path);

// Runs `program` with `arguments` in `environment` and returns what it printed, trimmed; throws
// with what it printed on its standard error when it fails.
QString runProgram(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment);

// cp -r --reflink=never of `source` to `destination`, then syncfs(): the seconds with it, and in
// `withoutSync` those of cp alone.
double timedCopy(const QString& source, const QString& destination, double* withoutSync);

// ---------------------------------------------------------------------------------------------
// The page cache.

class CacheControl {
public:
    // Drops the page cache when this process may (root); reports whether it can.
    bool probe();
    bool canDrop() const { return m_canDrop; }

    // Before every timed step: nothing dirty left over from the previous step, and, when
    // possible, nothing cached.
    void prepare() const;

    // From now on prepare() also lets the disk of `folder` settle: the system may report a large
    // write as done while the disk (a virtual machine's, above all) stays busy with it for
    // seconds, and the next timed step, whatever it is, would pay for that. A 4 KiB write with
    // fdatasync() is timed until three in a row take under `quietMs`, for at most `longestS`.
    void settleDiskOf(const QString& folder);
    static constexpr double quietMs = 2.0;
    static constexpr double longestS = 15.0;
    struct Settling {
        int waits = 0;
        int stalls = 0;     // waits of more than `stallMs`
        double longest = 0; // seconds
        static constexpr double stallMs = 50.0;
    };
    const Settling& settling() const { return m_settling; }

private:
    static bool drop();
    void settle() const;

    bool m_canDrop = false;
    QString m_probe;
    mutable Settling m_settling;
};

// The seconds `step` takes from a prepared page cache to the end of the syncfs() of `folders`.
double timed(const CacheControl& cache, const QStringList& folders, const std::function<void()>& step);

// ---------------------------------------------------------------------------------------------
// Clients of a team bundle, each with its own local folders as if on its own machine.

class Clients {
public:
    // With `createLocalFolders`, a client's local folder is made before its file manager.
    Clients(QString localRoot, bool createLocalFolders);

    QString localFolder(const QString& client) const { return m_localRoot + u'/' + client; }
    std::shared_ptr<FileManaging> fileManager(const QString& client) const;
    static ClientIdentity identity(const QString& client);
    // The benchmark polls by hand: no background poll may take a change before it is timed.
    std::shared_ptr<TeamBundle> create(const QString& root, const QString& client) const;
    std::shared_ptr<TeamBundle> open(const QString& root, const QString& client) const;

private:
    static std::shared_ptr<TeamBundle> quiet(std::shared_ptr<TeamBundle> team);

    QString m_localRoot;
    bool m_createLocalFolders = false;
};

// Fills `root` with the bundles of `shape` (10,000 by default) written by several clients, as the
// engine writes them: collections (a "create"), documents (a "create" and one to three
// "version"s), each document nested in one collection and one in ten in a second one. The writers
// are the clients "writer1", "writer2", and so on. Returns the documents.
std::vector<IdFor<VersionBundle>> buildLargeTeam(const QString& root, const Clients& clients, std::uint64_t seed,
                                                 const LargeTeamShape& shape = {});

// Writes bundles into a team bundle as the engine records them, a few changes to a record:
// collections (a "create") and documents (a "create", then their versions), each nested in its
// container. Every document holds the same small file (manifest()): what the window reads is
// the records.
class TeamWriter {
public:
    explicit TeamWriter(std::shared_ptr<TeamBundle> team);
    ~TeamWriter();
    TeamWriter(const TeamWriter&) = delete;
    TeamWriter& operator=(const TeamWriter&) = delete;

    const std::shared_ptr<TeamBundle>& team() const { return m_team; }
    const ContentHash& manifest() const { return m_manifest; }
    // A document gets `versions` versions: "Initial Commit" (imported), then "Cut 2", "Cut 3"...
    // (checked in). Written by the next flush() at the latest.
    IdFor<VersionBundle> add(const DocumentType& type, const QString& name,
                             const std::optional<IdFor<VersionBundle>>& container, int versions = 1);
    void flush();

private:
    void push(JournalChange change);

    std::shared_ptr<TeamBundle> m_team;
    ContentHash m_manifest;
    std::vector<JournalChange> m_batch;
};

// A version of `document` checked in by `team`'s client: its version record, as a check-in writes it.
void addVersion(TeamBundle& team, const IdFor<VersionBundle>& document, const DocumentType& type,
                const ContentHash& manifest, const QString& message);

// The types of ordinary documents, one after the other by `index`: a project, subtitles...
DocumentType ordinaryDocumentType(int index);

// Fills `root` with one collection, "Footage" (returned), of `documentCount` documents, one of
// which is a video-editing library, "Main Library", holding `eventCount` events.
QString buildWindowTeam(const QString& root, const Clients& clients, int documentCount, int eventCount);

// ---------------------------------------------------------------------------------------------
// The run and the report.

struct Row {
    QString measure;
    QString figure;
    QString target;
    QString result; // PASS, FAIL or "info"
};

QString verdict(bool pass);
void printTable(const std::vector<Row>& rows);
// A table of any number of columns; the first row is the header.
void printColumns(const std::vector<QStringList>& rows);

// The command line: [FOLDER] [--keep-data]; none after printing the usage for -h or --help,
// which says that FOLDER needs `space` free.
struct Options {
    QString base;
    bool keep = false;
};
std::optional<Options> parseOptions(const QStringList& arguments, const char* program, const char* defaultFolder,
                                    const char* space = "about 5 GiB");

// A new folder `prefix`-PID in `base`, on a disk with `needed` bytes free; removed at the end
// unless kept.
class WorkFolder {
public:
    WorkFolder(const QString& base, const QString& prefix, bool keep, qint64 needed = 5 * GiB);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const QString& path() const { return m_path; }

private:
    QString m_path;
    bool m_keep = false;
};

// The main() of a benchmark: runs `run` with the arguments, reporting what it throws.
int benchMain(int argc, char** argv, const char* program, int (*run)(const QStringList&));

} // namespace vantrel::bench
