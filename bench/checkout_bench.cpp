// checkout_bench: check-outs and check-ins of a video-editing library, and how fast a change
// made by one client reaches the others, side by side with plain copies.
//
// Measures, in one run and on the disk of the folder given on the command line:
//   1. the check-in of a library's working copy after one 1 MiB file was edited, the first
//      check-in after the check-out, against cp -r of the library;
//   2. a fresh check-out of that library with every event, right after a check-in, against cp -r;
//   3. with 20 clients in separate processes on one team bundle of 10,000 bundles, the time from
//      a rename by one of them to each other client's team change publisher.
// Steps 1 and 2 run three times; the table shows the medians. See bench/README.md.

#include "bench/bench_support.h"
#include "desktop/system_services.h"
#include "desktop/user_identity.h"
#include "engine/document_application.h"
#include "engine/document_type.h"
#include "engine/journal/journal.h"
#include "engine/storage/content_store.h"
#include "engine/storage/manifest.h"
#include "engine/storage/statcache.h"
#include "engine/team_bundle.h"
#include "engine/team_state.h"
#include "engine/version_bundles.h"
#include "engine/versioning_service.h"
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
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

#ifndef VANTREL_BENCH_DEFAULT_FOLDER
#define VANTREL_BENCH_DEFAULT_FOLDER "/tmp"
#endif

using namespace vantrel;
using vantrel::testing::syncWait;
namespace fs = std::filesystem;
using namespace vantrel::bench;

namespace {

// ---------------------------------------------------------------------------------------------
// Settings of the run.

constexpr int runs = 3;
constexpr std::uint64_t dataSeed = 0x4C49425241525931ULL; // fixed: every run generates the same library
constexpr qint64 packageBytes = GiB;
constexpr int packageFiles = 2000;
constexpr int eventCount = 4;            // the events hold most of the media
constexpr int libraryLevelFiles = 60;    // files of the library itself, outside the events
constexpr int largeFiles = 12;           // original media, tens of MiB each, in the events
constexpr qint64 smallestFile = 3 * KiB; // the others: log-uniform sizes in between
constexpr qint64 largestSmallFile = 2 * MiB;
constexpr qint64 changedFileBytes = MiB; // the file edited in the working copy
const QString libraryFolder = QStringLiteral("Feature.videolibrary");
const QString changedFile = QStringLiteral("Day 1.videoevent/CurrentVersion.eventdb");
constexpr double settleSeconds = 2.1; // the stat cache trusts a file 2 s after it changed

constexpr int watchers = 20; // clients in separate processes
constexpr int propagationRounds = 5;
constexpr int pollIntervalMs = 2000;

// Targets.
constexpr double checkInTarget = 0.05;          // x cp
constexpr double checkOutTarget = 1.2;          // x cp
constexpr double propagationSlackSeconds = 0.5; // beyond the poll interval

// ---------------------------------------------------------------------------------------------
// Small helpers.

void sleepSeconds(double seconds)
{
    QThread::msleep(static_cast<unsigned long>(seconds * 1000.0));
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

QString mebibytes(double bytes)
{
    return bench::mebibytes(bytes, 1);
}

void requireWholePackage(const QString& root, const char* what)
{
    const TreeTotals totals = treeTotals(root);
    if (totals.bytes != packageBytes || totals.files != packageFiles)
        throw std::runtime_error(std::string(what) + " does not hold the whole library (" + std::to_string(totals.files)
                                 + " files, " + std::to_string(totals.bytes) + " bytes)");
}

// What this process (every thread of it) read and wrote, from /proc/self/io: `rchar` counts
// every byte read by a system call, cached or not; `read_bytes` what came from the disk.
struct IoCounters {
    double readCalls = 0;
    double diskReads = 0;
    double diskWrites = 0;

    static IoCounters now()
    {
        IoCounters counters;
        std::ifstream file("/proc/self/io");
        std::string key;
        double value = 0;
        while (file >> key >> value) {
            if (key == "rchar:")
                counters.readCalls = value;
            else if (key == "read_bytes:")
                counters.diskReads = value;
            else if (key == "write_bytes:")
                counters.diskWrites = value;
        }
        return counters;
    }
    IoCounters operator-(const IoCounters& other) const
    {
        return {readCalls - other.readCalls, diskReads - other.diskReads, diskWrites - other.diskWrites};
    }
};

// ---------------------------------------------------------------------------------------------
// Profiling: with VANTREL_BENCH_PERF_CONTROL=CONTROL_FIFO[,ACK_FIFO], the FIFOs given to
// `perf record --control fifo:...` (started with -D -1), the profile covers only the timed
// check-ins that the table shows (see bench/README.md).

class ProfilerControl {
public:
    ProfilerControl()
    {
        const QString setting = qEnvironmentVariable("VANTREL_BENCH_PERF_CONTROL");
        if (setting.isEmpty())
            return;
        const QStringList fifos = setting.split(u',');
        m_control = ::open(QFile::encodeName(fifos.at(0)).constData(), O_WRONLY | O_CLOEXEC);
        if (m_control < 0)
            fail("open " + fifos.at(0).toStdString());
        if (fifos.size() > 1) {
            m_ack = ::open(QFile::encodeName(fifos.at(1)).constData(), O_RDONLY | O_CLOEXEC);
            if (m_ack < 0)
                fail("open " + fifos.at(1).toStdString());
        }
    }
    ~ProfilerControl()
    {
        if (m_control >= 0)
            ::close(m_control);
        if (m_ack >= 0)
            ::close(m_ack);
    }
    ProfilerControl(const ProfilerControl&) = delete;
    ProfilerControl& operator=(const ProfilerControl&) = delete;

    void enable() const { command("enable\n"); }
    void disable() const { command("disable\n"); }

private:
    void command(const char* text) const
    {
        if (m_control < 0)
            return;
        if (::write(m_control, text, std::strlen(text)) < 0)
            fail("write to the profiler");
        char ack[16];
        if (m_ack >= 0 && ::read(m_ack, ack, sizeof ack) < 0)
            fail("read from the profiler");
    }

    int m_control = -1;
    int m_ack = -1;
};

// ---------------------------------------------------------------------------------------------
// The library: 1 GiB in 2,000 files, most of it in a few event folders, from a fixed seed.

std::vector<PackageFile> planLibrary()
{
    Random random(dataSeed);
    static const char* const libraryTops[] = {
        "", "Motion Templates/Titles", "Motion Templates/Effects", "Backups", "Settings", "Library Cache/Thumbnails"};
    static const char* const eventTops[] = {"Original Media",
                                            "Transcoded Media/Proxy Media",
                                            "Transcoded Media/Optimized Media",
                                            "Render Files/High Quality Media",
                                            "Analysis Files/Stabilization",
                                            "Shared Items"};
    static const char* const extensions[] = {"mov", "mov", "mov", "mov", "dat", "xml"};
    std::vector<PackageFile> files;
    files.reserve(packageFiles);

    // The file edited in the working copy: an event's database, exactly 1 MiB.
    files.push_back({changedFile, changedFileBytes});

    const double low = std::log(double(smallestFile));
    const double high = std::log(double(largestSmallFile));
    qint64 smallTotal = 0;
    for (int index = 1; index < packageFiles - largeFiles; ++index) {
        QString path;
        if (index <= libraryLevelFiles) {
            const int top = random.below(6);
            path = QString::fromLatin1(libraryTops[top]);
            if (!path.isEmpty())
                path += u'/';
            path += QStringLiteral("library-%1.%2")
                        .arg(index, 4, 10, QLatin1Char('0'))
                        .arg(top == 0 ? QLatin1String("db") : QLatin1String("plist"));
        } else {
            const int event = random.below(eventCount);
            const int top = random.below(6);
            path = QStringLiteral("Day %1.videoevent/%2").arg(event + 1).arg(QLatin1String(eventTops[top]));
            const int depth = random.below(3);
            if (depth >= 1)
                path += QStringLiteral("/Clip Group %1").arg(random.below(8) + 1, 2, 10, QLatin1Char('0'));
            if (depth >= 2)
                path += QStringLiteral("/Take %1").arg(random.below(6) + 1, 2, 10, QLatin1Char('0'));
            path +=
                QStringLiteral("/clip-%1.%2").arg(index, 4, 10, QLatin1Char('0')).arg(QLatin1String(extensions[top]));
        }
        const qint64 size = qint64(std::exp(low + random.uniform() * (high - low)));
        files.push_back({path, size});
        smallTotal += size;
    }

    // A dozen original media files take the rest, tens of MiB each, spread over the events.
    const qint64 rest = packageBytes - changedFileBytes - smallTotal;
    const std::vector<qint64> sizes = largeFileSizes(random, rest, largeFiles, "library");
    for (int index = 0; index < largeFiles; ++index) {
        const qint64 size = sizes[size_t(index)];
        files.push_back({QStringLiteral("Day %1.videoevent/Original Media/A%2_C%3.mov")
                             .arg(index % eventCount + 1)
                             .arg(index / eventCount + 1, 3, 10, QLatin1Char('0'))
                             .arg(index + 1, 3, 10, QLatin1Char('0')),
                         size});
    }
    return files;
}

// The bytes of the edited file after edit number `round`.
std::vector<char> editedBytes(int round)
{
    Random random(dataSeed + 1000 + std::uint64_t(round));
    std::vector<char> bytes(static_cast<size_t>(changedFileBytes));
    random.fill(bytes.data(), bytes.size());
    return bytes;
}

// The user's edit: 1 MiB of new bytes written in place over the edited file.
void editWorkingCopy(const QString& workingCopy, int round)
{
    const std::vector<char> bytes = editedBytes(round);
    const std::string path = (workingCopy + u'/' + changedFile).toStdString();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        fail("open " + path);
    writeAllAt(fd, bytes.data(), bytes.size(), 0, path);
    if (::close(fd) != 0)
        fail("close " + path);
}

void requireEdit(const QString& workingCopy, int round)
{
    QFile file(workingCopy + u'/' + changedFile);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read the edited file of the check-out");
    const QByteArray data = file.readAll();
    const std::vector<char> expected = editedBytes(round);
    if (data.size() != qsizetype(expected.size())
        || std::memcmp(data.constData(), expected.data(), expected.size()) != 0)
        throw std::runtime_error("the check-out does not hold the edit that was checked in");
}

// ---------------------------------------------------------------------------------------------
// Steps 1 and 2: check-in and check-out of the library, against cp.

// How much of a working copy the bundle's stat cache knows before a check-in: files it has a
// record for (keyed by absolute path) and files whose record it would trust.
struct StatCacheCoverage {
    qint64 files = 0;
    qint64 recorded = 0;
    qint64 trusted = 0;
};

StatCacheCoverage statCacheCoverage(const std::shared_ptr<TeamBundle>& team, const IdFor<VersionBundle>& id,
                                    const QString& workingCopy)
{
    StatCache cache(team->statCacheFile(id));
    cache.load();
    const QString base = QDir::cleanPath(QFileInfo(workingCopy).absoluteFilePath());
    const std::string baseText = base.toStdString();
    StatCacheCoverage coverage;
    std::error_code error;
    for (fs::recursive_directory_iterator it(baseText, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error) || it->is_symlink(error))
            continue;
        const std::string path = it->path().string();
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0)
            fail("lstat " + path);
        const QString key = base + QString::fromStdString(path.substr(baseText.size()));
        ++coverage.files;
        if (cache.lookup(key))
            ++coverage.recorded;
        if (cache.unchangedHash(key, StatCache::Entry::fromStat(status)))
            ++coverage.trusted;
    }
    if (error)
        throw std::runtime_error("cannot list " + baseText + ": " + error.message());
    return coverage;
}

struct LibraryFigures {
    std::vector<double> copy;       // cp -r + syncfs
    std::vector<double> copyNoSync; // cp -r alone
    std::vector<double> import;
    std::vector<double> firstCheckOut; // right after the import
    std::vector<double> checkIn;       // the first check-in after that check-out (the table's figure)
    std::vector<IoCounters> checkInIo;
    std::vector<StatCacheCoverage> checkInCoverage;
    std::vector<double> checkOut;    // fresh, right after the check-in (the table's figure)
    std::vector<double> nextCheckIn; // after that check-out, with the stat cache the first check-in wrote
    std::vector<IoCounters> nextCheckInIo;
    std::vector<StatCacheCoverage> nextCheckInCoverage;
};

// One run in a new team bundle: import, check-out, edit, check-in, check-out, edit, check-in.
void measureTeamRun(const QString& root, const QString& client, const QString& source, const CacheControl& cache,
                    const ProfilerControl& profiler, const Clients& clients, LibraryFigures& figures, int& editRound)
{
    const QString local = clients.localFolder(client);
    // Import: the library and one nested event per event folder.
    const auto team = clients.create(root, client);
    const auto syncBothSides = [&] {
        syncFileSystemOf(root);
        syncFileSystemOf(local);
    };
    cache.prepare();
    auto start = Clock::now();
    const auto library = syncWait(VersioningService::import(
        VersioningServiceType::library, source, std::nullopt, std::nullopt, std::nullopt,
        QStringLiteral("Initial Commit"), DocumentApplication::none(), team, nullptr, nullptr));
    syncBothSides();
    figures.import.push_back(secondsSince(start));
    const auto imported = team->snapshot()->find(library->id());
    if (!imported || imported->children.size() != eventCount)
        throw std::runtime_error("the import did not make one event per event folder");
    const QList<IdFor<VersionBundle>> events = imported->children;

    // The first check-out, every event included.
    cache.prepare();
    start = Clock::now();
    const QString workingCopy = syncWait(library->checkOut(events, {.autoSave = false}, defaultS3Factory()));
    syncBothSides();
    figures.firstCheckOut.push_back(secondsSince(start));
    requireWholePackage(workingCopy, "the first check-out");

    // The user waits, edits 1 MiB, and checks in.
    sleepSeconds(settleSeconds);
    editWorkingCopy(workingCopy, ++editRound);
    figures.checkInCoverage.push_back(statCacheCoverage(team, library->id(), workingCopy));
    cache.prepare();
    auto ioBefore = IoCounters::now();
    profiler.enable();
    start = Clock::now();
    syncWait(library->checkIn(QStringLiteral("Edited the event"), defaultS3Factory()));
    syncBothSides();
    figures.checkIn.push_back(secondsSince(start));
    profiler.disable();
    figures.checkInIo.push_back(IoCounters::now() - ioBefore);
    if (library->versionIDs().size() != 2 || QFileInfo::exists(workingCopy))
        throw std::runtime_error("the check-in did not store a new version of the library");
    for (const auto& event : events) {
        const auto state = team->snapshot()->find(event);
        const qsizetype expected = state && changedFile.startsWith(state->name + u'.') ? 2 : 1;
        if (!state || state->versions.size() != expected)
            throw std::runtime_error("the check-in did not store a new version of exactly the edited event");
    }

    // A fresh check-out of the checked-in versions, every event included.
    cache.prepare();
    start = Clock::now();
    const QString freshCopy = syncWait(library->checkOut(events, {.autoSave = false}, defaultS3Factory()));
    syncBothSides();
    figures.checkOut.push_back(secondsSince(start));
    requireWholePackage(freshCopy, "the check-out after the check-in");
    requireEdit(freshCopy, editRound);

    // One more edit and check-in, now with the stat cache the first check-in wrote.
    sleepSeconds(settleSeconds);
    editWorkingCopy(freshCopy, ++editRound);
    figures.nextCheckInCoverage.push_back(statCacheCoverage(team, library->id(), freshCopy));
    cache.prepare();
    ioBefore = IoCounters::now();
    start = Clock::now();
    syncWait(library->checkIn(QStringLiteral("Edited the event again"), defaultS3Factory()));
    syncBothSides();
    figures.nextCheckIn.push_back(secondsSince(start));
    figures.nextCheckInIo.push_back(IoCounters::now() - ioBefore);
    if (library->versionIDs().size() != 3)
        throw std::runtime_error("the second check-in did not store a version");
}

LibraryFigures measureLibrary(const QString& work, const QString& source, const CacheControl& cache,
                              const Clients& clients)
{
    const ProfilerControl profiler;
    LibraryFigures figures;
    int editRound = 0;
    for (int run = 1; run <= runs; ++run) {
        note(QStringLiteral("library run %1 of %2").arg(run).arg(runs));

        // cp -r of the library, on the same disk.
        const QString copy = work + QStringLiteral("/cp-copy");
        cache.prepare();
        double noSync = 0;
        figures.copy.push_back(timedCopy(source, copy, &noSync));
        figures.copyNoSync.push_back(noSync);
        requireWholePackage(copy, "cp");
        removeTree(copy);

        // The engine's side, in a new team bundle closed before its folders are removed.
        const QString root = work + QStringLiteral("/Run%1.vantrelteam").arg(run);
        const QString client = QStringLiteral("editor%1").arg(run);
        const QString local = clients.localFolder(client);
        measureTeamRun(root, client, source, cache, profiler, clients, figures, editRound);

        removeTree(root);
        removeTree(local);
    }
    return figures;
}

// ---------------------------------------------------------------------------------------------
// Step 3: a change reaching 20 clients in separate processes.

// A client in a process of its own (propagation_client), talked to through pipes.
class ClientProcess {
public:
    ClientProcess(const QString& program, const QStringList& arguments, const QString& errorLog)
    {
        int input[2];
        int output[2];
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0)
            fail("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        const QByteArray logPath = QFile::encodeName(errorLog);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<QByteArray> texts{QFile::encodeName(program)};
        for (const QString& argument : arguments)
            texts.push_back(argument.toLocal8Bit());
        std::vector<char*> argv;
        for (auto& text : texts)
            argv.push_back(text.data());
        argv.push_back(nullptr);
        const int error = ::posix_spawn(&m_pid, texts.front().constData(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        m_input = input[1];
        m_output = output[0];
        if (error != 0) {
            errno = error;
            m_pid = -1;
            fail("cannot start " + program.toStdString());
        }
        m_errorLog = errorLog;
    }
    ~ClientProcess() { finish(); }
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;

    int outputFd() const { return m_output; }
    const QString& errorLog() const { return m_errorLog; }

    void send(const QString& line)
    {
        const QByteArray data = line.toUtf8() + '\n';
        if (m_input < 0 || ::write(m_input, data.constData(), size_t(data.size())) != data.size())
            fail("cannot talk to a client process");
    }

    // Reads what is there (the descriptor is readable); appends complete lines. False at the end.
    bool readLines(std::vector<std::string>& lines)
    {
        char buffer[4096];
        const ssize_t count = ::read(m_output, buffer, sizeof buffer);
        if (count < 0)
            return errno == EINTR || errno == EAGAIN;
        if (count == 0)
            return false;
        m_pending.append(buffer, size_t(count));
        for (size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
            lines.push_back(m_pending.substr(0, end));
            m_pending.erase(0, end + 1);
        }
        return true;
    }

    // Asks the client to end, waits for it (killing it, this process only, after 20 s).
    void finish()
    {
        if (m_input >= 0) {
            static_cast<void>(::write(m_input, "quit\n", 5));
            ::close(m_input);
            m_input = -1;
        }
        if (m_pid > 0) {
            int status = 0;
            const auto start = Clock::now();
            while (::waitpid(m_pid, &status, WNOHANG) == 0) {
                if (secondsSince(start) > 20.0) {
                    ::kill(m_pid, SIGKILL);
                    ::waitpid(m_pid, &status, 0);
                    break;
                }
                QThread::msleep(20);
            }
            m_pid = -1;
        }
        if (m_output >= 0) {
            ::close(m_output);
            m_output = -1;
        }
    }

private:
    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    std::string m_pending;
    QString m_errorLog;
};

// Reads the lines of every client process, handing each to `handle(client, line)`, until
// `done()` or the deadline; false when the deadline came first.
bool pump(std::vector<std::unique_ptr<ClientProcess>>& processes, double timeoutSeconds,
          const std::function<void(size_t, const std::string&)>& handle, const std::function<bool()>& done)
{
    const auto start = Clock::now();
    std::vector<pollfd> fds(processes.size());
    while (!done()) {
        const double left = timeoutSeconds - secondsSince(start);
        if (left <= 0)
            return false;
        for (size_t index = 0; index < processes.size(); ++index)
            fds[index] = pollfd{processes[index]->outputFd(), POLLIN, 0};
        const int ready = ::poll(fds.data(), nfds_t(fds.size()), std::max(1, int(left * 1000.0)));
        if (ready < 0 && errno != EINTR)
            fail("poll");
        for (size_t index = 0; ready > 0 && index < processes.size(); ++index) {
            if (!(fds[index].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            std::vector<std::string> lines;
            const bool open = processes[index]->readLines(lines);
            for (const auto& line : lines)
                handle(index, line);
            if (!open) {
                QFile log(processes[index]->errorLog());
                const QString text = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
                throw std::runtime_error("client process " + std::to_string(index + 1)
                                         + " ended early: " + text.trimmed().right(2000).toStdString());
            }
        }
    }
    return true;
}

struct PropagationFigures {
    std::vector<double> latencies; // from the rename to each other client's publisher, every round
    std::vector<std::vector<double>> roundLatencies;
    std::vector<double> renameWrites; // how long the rename itself took, at the renaming client
    std::vector<double> openTimes;    // of each client process: open + liveIndex
    qint64 bundles = 0;
    int missed = 0; // publishers that did not fire within the deadline
    double setupSeconds = 0;
    qint64 journalFiles = 0;
};

PropagationFigures measurePropagation(const QString& work, const CacheControl& cache, const Clients& clients)
{
    PropagationFigures figures;
    const QString root = work + QStringLiteral("/Team.vantrelteam");
    note(QStringLiteral("writing a team bundle of %1 bundles").arg(indexCollections + indexDocuments));
    auto start = Clock::now();
    const std::vector<IdFor<VersionBundle>> documents = buildLargeTeam(root, clients, dataSeed ^ 0x1DEAULL);
    figures.setupSeconds = secondsSince(start);
    figures.journalFiles = treeTotals(root + QStringLiteral("/journal")).files;

    note(QStringLiteral("starting %1 client processes").arg(watchers));
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/propagation_client");
    if (!QFileInfo(program).isExecutable())
        throw std::runtime_error(program.toStdString() + " is missing: build the target propagation_client");
    std::vector<std::unique_ptr<ClientProcess>> processes;
    for (int index = 1; index <= watchers; ++index) {
        const QString client = QStringLiteral("watch%1").arg(index, 2, 10, QLatin1Char('0'));
        const QString local = clients.localFolder(client);
        fs::create_directories(local.toStdString());
        processes.push_back(
            std::make_unique<ClientProcess>(program, QStringList{root, local, client, QString::number(pollIntervalMs)},
                                            local + QStringLiteral(".stderr")));
    }

    // Every client opens the team bundle and says so.
    std::vector<bool> ready(processes.size(), false);
    const auto onReady = [&](size_t index, const std::string& line) {
        if (line.rfind("error ", 0) == 0)
            throw std::runtime_error("client " + std::to_string(index + 1) + ": " + line.substr(6));
        if (line.rfind("ready ", 0) != 0)
            return;
        double opened = 0;
        long long bundles = 0;
        if (std::sscanf(line.c_str(), "ready %lf %lld", &opened, &bundles) != 2)
            throw std::runtime_error("client " + std::to_string(index + 1) + " said: " + line);
        figures.openTimes.push_back(opened);
        figures.bundles = bundles;
        if (bundles != indexCollections + indexDocuments)
            throw std::runtime_error("a client does not see every bundle");
        ready[index] = true;
    };
    const auto allReady = [&] { return std::all_of(ready.begin(), ready.end(), [](bool value) { return value; }); };
    if (!pump(processes, 300.0, onReady, allReady))
        throw std::runtime_error("the client processes did not open the team bundle within 5 minutes");
    // Past every client's first background poll, so that each polls on its own rhythm.
    sleepSeconds(2.5);

    Random random(dataSeed ^ 0x5EEDULL);
    for (int round = 0; round < propagationRounds; ++round) {
        const size_t changer = size_t(round % watchers);
        const auto& id = documents[size_t(round * 3163 + 17) % documents.size()];
        const QString name = QStringLiteral("Renamed in round %1").arg(round + 1);
        const std::string idText = id.toString().toStdString();
        const std::string nameText = name.toStdString();
        note(QStringLiteral("propagation round %1 of %2: client %3 renames a document")
                 .arg(round + 1)
                 .arg(propagationRounds)
                 .arg(changer + 1));

        // At a random moment relative to the clients' polls.
        cache.prepare();
        sleepSeconds(0.25 + 2.0 * random.uniform());

        long long renamedAt = 0;
        std::vector<long long> seenAt(processes.size(), 0);
        const auto onLine = [&](size_t index, const std::string& line) {
            long long before = 0;
            long long after = 0;
            if (line.rfind("error ", 0) == 0)
                throw std::runtime_error("client " + std::to_string(index + 1) + ": " + line.substr(6));
            if (index == changer && std::sscanf(line.c_str(), "renamed %lld %lld", &before, &after) == 2) {
                renamedAt = before;
                figures.renameWrites.push_back(double(after - before) / 1e9);
                return;
            }
            long long at = 0;
            char seenId[64] = {};
            if (std::sscanf(line.c_str(), "seen %lld %63s", &at, seenId) != 2 || idText != seenId)
                return;
            const std::string prefix = "seen " + std::to_string(at) + ' ' + idText + ' ';
            if (line == prefix + nameText && seenAt[index] == 0)
                seenAt[index] = at;
        };
        const auto allSeen = [&] {
            if (renamedAt == 0)
                return false;
            for (size_t index = 0; index < processes.size(); ++index) {
                if (index != changer && seenAt[index] == 0)
                    return false;
            }
            return true;
        };
        processes[changer]->send(QStringLiteral("rename %1 %2").arg(id.toString(), name));
        pump(processes, 30.0, onLine, allSeen);
        if (renamedAt == 0)
            throw std::runtime_error("the rename was not made within 30 s");

        std::vector<double> latencies;
        for (size_t index = 0; index < processes.size(); ++index) {
            if (index == changer)
                continue;
            if (seenAt[index] == 0) {
                ++figures.missed;
                continue;
            }
            latencies.push_back(double(seenAt[index] - renamedAt) / 1e9);
        }
        figures.latencies.insert(figures.latencies.end(), latencies.begin(), latencies.end());
        figures.roundLatencies.push_back(latencies);
    }

    note(QStringLiteral("stopping the client processes"));
    for (auto& process : processes)
        process->finish();
    processes.clear();
    removeTree(root);
    return figures;
}

// ---------------------------------------------------------------------------------------------

QString coverageText(const std::vector<StatCacheCoverage>& coverages)
{
    QStringList parts;
    for (const auto& coverage : coverages)
        parts << QStringLiteral("%1 known, %2 trusted of %3")
                     .arg(coverage.recorded)
                     .arg(coverage.trusted)
                     .arg(coverage.files);
    return parts.join(QStringLiteral(" / "));
}

QString ioText(const std::vector<IoCounters>& counters)
{
    QStringList parts;
    for (const auto& io : counters)
        parts << QStringLiteral("%1 / %2 / %3")
                     .arg(mebibytes(io.readCalls), mebibytes(io.diskReads), mebibytes(io.diskWrites));
    return parts.join(QStringLiteral("; "));
}

int run(const QStringList& arguments)
{
    const auto options = parseOptions(arguments, "checkout_bench", VANTREL_BENCH_DEFAULT_FOLDER);
    if (!options)
        return 0;
    const bool keep = options->keep;
    const WorkFolder workFolder(options->base, QStringLiteral("checkout-bench"), keep);
    const QString& work = workFolder.path();

    CacheControl cache;
    const bool dropping = cache.probe();
    const Clients clients(work + QStringLiteral("/local"), true);
    const QString source = work + QStringLiteral("/source/") + libraryFolder;

    note(QStringLiteral("generating the library in %1").arg(source));
    auto start = Clock::now();
    const auto plan = planLibrary();
    generateFiles(source, plan, dataSeed ^ 0xC0FFEEULL);
    const double generated = secondsSince(start);
    qint64 eventBytes = 0;
    for (const auto& file : plan) {
        if (file.path.contains(QStringLiteral(".videoevent/")))
            eventBytes += file.size;
    }
    requireWholePackage(source, "the generated library");

    // One untimed copy first: neither side then pays for the first writes to fresh blocks.
    note(QStringLiteral("one untimed cp to warm up"));
    double ignored = 0;
    timedCopy(source, work + QStringLiteral("/cp-warm"), &ignored);
    removeTree(work + QStringLiteral("/cp-warm"));

    const LibraryFigures library = measureLibrary(work, source, cache, clients);
    const PropagationFigures propagation = measurePropagation(work, cache, clients);

    // The report.
    const double cp = median(library.copy);
    const double checkIn = median(library.checkIn);
    const double checkOut = median(library.checkOut);
    const double propagationMedian = median(propagation.latencies);
    const double propagationTarget = pollIntervalMs / 1000.0 + propagationSlackSeconds;
    const qint64 otherClients = qint64(propagationRounds) * (watchers - 1);
    const bool statCacheSkippedNothing =
        std::all_of(library.checkInCoverage.begin(), library.checkInCoverage.end(),
                    [](const StatCacheCoverage& coverage) { return coverage.trusted == 0; });

    std::printf("\nVantrel check-out benchmark\n");
    std::printf("  machine:    %s, %d threads, Qt %s\n", qPrintable(QSysInfo::prettyProductName()),
                QThread::idealThreadCount(), qVersion());
    std::printf("  disk:       %s (%s); team bundles and local folders both on it\n", qPrintable(work),
                qPrintable(fileSystemType(work)));
    std::printf("  library:    %s: %d files, %s in all, %s of it in %d events, generated in %s from seed 0x%llx\n",
                qPrintable(libraryFolder), packageFiles, qPrintable(mebibytes(double(packageBytes))),
                qPrintable(mebibytes(double(eventBytes))), eventCount, qPrintable(seconds(generated)),
                static_cast<unsigned long long>(dataSeed));
    std::printf("  edit:       1 MiB written in place over %s in the working copy, %.1f s after the check-out\n",
                qPrintable(changedFile), settleSeconds);
    if (dropping)
        std::printf("  page cache: dropped before every timed step (sync; echo 3 > /proc/sys/vm/drop_caches)\n");
    else
        std::printf("  page cache: could not be dropped (not root?); every timed step ran with a warm cache\n");
    std::printf(
        "  timing:     steps 1-2 end with syncfs() of the team bundle and of the local folders; median of %d runs\n",
        runs);
    std::printf("  clients:    %d processes on one team bundle of %lld bundles (written in %s, %lld journal files),\n"
                "              polling every %s; %d rounds, a different client renaming a document each round\n\n",
                watchers, static_cast<long long>(propagation.bundles), qPrintable(seconds(propagation.setupSeconds)),
                static_cast<long long>(propagation.journalFiles), qPrintable(seconds(pollIntervalMs / 1000.0)),
                propagationRounds);

    std::vector<Row> rows;
    rows.push_back({QStringLiteral("cp -r --reflink=never of the library"), seconds(cp), QStringLiteral("(baseline)"),
                    QStringLiteral("info")});
    rows.push_back({QStringLiteral("1. check-in after a 1 MiB edit (first after check-out)"),
                    QStringLiteral("%1 = %2% of cp").arg(seconds(checkIn)).arg(100.0 * checkIn / cp, 0, 'f', 1),
                    QStringLiteral("<= %1% of cp").arg(100.0 * checkInTarget, 0, 'f', 0),
                    verdict(checkIn / cp <= checkInTarget)});
    rows.push_back({QStringLiteral("2. check-out, every event, after a check-in"),
                    QStringLiteral("%1 = %2x cp").arg(seconds(checkOut)).arg(checkOut / cp, 0, 'f', 2),
                    QStringLiteral("<= %1x cp").arg(checkOutTarget, 0, 'f', 1),
                    verdict(checkOut / cp <= checkOutTarget)});
    rows.push_back(
        {QStringLiteral("3. rename seen by the other clients (median of %1)").arg(propagation.latencies.size()),
         seconds(propagationMedian),
         QStringLiteral("<= %1 (poll %2 + %3)")
             .arg(seconds(propagationTarget), seconds(pollIntervalMs / 1000.0), seconds(propagationSlackSeconds)),
         verdict(propagation.missed == 0 && propagationMedian <= propagationTarget)});
    printTable(rows);

    std::printf("\nDetails (every run, in order):\n");
    const auto detail = [](const char* what, const QString& values) {
        std::printf("  %-46s %s\n", what, qPrintable(values));
    };
    detail("cp -r + syncfs", runList(library.copy, seconds));
    detail("cp -r alone (no syncfs)", runList(library.copyNoSync, seconds));
    detail("import of the library", runList(library.import, seconds));
    detail("first check-out, right after the import", runList(library.firstCheckOut, seconds));
    detail("check-in (first after the check-out)", runList(library.checkIn, seconds));
    detail("  stat cache before it: files", coverageText(library.checkInCoverage));
    detail("  read calls / disk reads / disk writes", ioText(library.checkInIo));
    detail("check-out after the check-in", runList(library.checkOut, seconds));
    detail("next check-in (stat cache of the first)", runList(library.nextCheckIn, seconds));
    detail("  stat cache before it: files", coverageText(library.nextCheckInCoverage));
    detail("  read calls / disk reads / disk writes", ioText(library.nextCheckInIo));
    detail("  as % of cp", QStringLiteral("%1%").arg(100.0 * median(library.nextCheckIn) / cp, 0, 'f', 1));
    detail("client processes: open + liveIndex",
           QStringLiteral("median %1, slowest %2")
               .arg(seconds(median(propagation.openTimes)),
                    seconds(propagation.openTimes.empty()
                                ? 0.0
                                : *std::max_element(propagation.openTimes.begin(), propagation.openTimes.end()))));
    detail("rename written (at the renaming client)", runList(propagation.renameWrites, seconds));
    for (size_t round = 0; round < propagation.roundLatencies.size(); ++round) {
        const auto& values = propagation.roundLatencies[round];
        const QString label = QStringLiteral("round %1: seen after, median / min / max").arg(round + 1);
        detail(qPrintable(label),
               QStringLiteral("%1 / %2 / %3")
                   .arg(seconds(median(values)), seconds(percentile(values, 0.0)), seconds(percentile(values, 1.0))));
    }
    detail("all rounds: min / 90th percentile / max",
           QStringLiteral("%1 / %2 / %3")
               .arg(seconds(percentile(propagation.latencies, 0.0)), seconds(percentile(propagation.latencies, 0.9)),
                    seconds(percentile(propagation.latencies, 1.0))));
    detail("publishers that did not fire within 30 s",
           QStringLiteral("%1 of %2").arg(propagation.missed).arg(otherClients));

    if (statCacheSkippedNothing) {
        std::printf("\nNote: the stat cache did not help the check-in. The check-out writes every file of the working\n"
                    "copy anew and records none of them in the stat cache (keyed by absolute path), so before the\n"
                    "first check-in after a check-out it trusts none of the working copy's files: the check-in\n"
                    "reads, hashes and stores the whole library again (see the read calls above). The next\n"
                    "check-in fares no better: a check-in removes the working copy, and the next check-out writes\n"
                    "the same paths with new inodes and times, so the records are there but none is trusted.\n");
    }
    if (keep)
        std::printf("\nData kept in %s\n", qPrintable(work));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN); // a client process that ended is reported, not fatal
    return benchMain(argc, argv, "checkout_bench", run);
}
