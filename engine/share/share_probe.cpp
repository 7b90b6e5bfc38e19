#include "engine/share/share_probe.h"
#include "engine/share/share_probe_checks.h"

#include "engine/engine_errors.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/folder_access.h"
#include "engine/storage/shared_folders.h"
#include "engine/storage/storage_error.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vantrel {

namespace {

using namespace posix;

std::mutex testingMutex;
std::function<int(ShareCapability)> testingFault;
QString testingFileSystemType;
std::function<void(const QString&)> testingScratchMade;
std::chrono::milliseconds testingTimeLimit{0};
std::optional<std::chrono::milliseconds> testingNow;

QString tr(const char* text)
{
    return QCoreApplication::translate("Engine", text);
}

std::chrono::milliseconds timeLimit()
{
    std::lock_guard lock(testingMutex);
    return testingTimeLimit.count() > 0 ? testingTimeLimit : shareProbeTimeLimit;
}

// The time the limit is counted on: the system's steady clock, or the test's.
std::chrono::milliseconds probeNow(bool& testing)
{
    std::lock_guard lock(testingMutex);
    testing = testingNow.has_value();
    return testing ? *testingNow
                   : std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch());
}

// Waits on `changed` (with `lock` held) until `done()`, for at most the time limit since
// `lastAnswer()`: when the work was started, or when the share last answered one of its steps, as
// the worker noted it, so that a slow share that answers step by step is waited for and a waiter
// that looks late counts from the answer, not from its look. Whether done.
bool waitWithinLimit(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                     const std::function<bool()>& done, const std::function<std::chrono::milliseconds()>& lastAnswer)
{
    const std::chrono::milliseconds limit = timeLimit();
    bool testing = false;
    while (!done()) {
        const std::chrono::milliseconds now = probeNow(testing);
        const std::chrono::milliseconds since = lastAnswer();
        if (now - since >= limit)
            return false;
        // A test's clock moves on without waking anybody: it is looked at again soon.
        const auto left = since + limit - now;
        changed.wait_for(lock, testing ? std::min(left, std::chrono::milliseconds(10)) : left,
                         [&] { return done() || lastAnswer() != since; });
    }
    return true;
}

std::chrono::milliseconds probeNow()
{
    bool testing = false;
    return probeNow(testing);
}

QString secondsOf(std::chrono::milliseconds limit)
{
    return QString::number(std::max<qint64>(1, (limit.count() + 999) / 1000));
}

// Mount points in /proc/self/mountinfo write space, tab, newline and backslash as octal escapes.
QByteArray unescapedMountPoint(const QByteArray& field)
{
    QByteArray result;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                result += char(value);
                i += 3;
                continue;
            }
        }
        result += field[i];
    }
    return result;
}

// One probe, shared by the caller and the thread that runs its checks: a caller whose time is up
// lets go of it, and the thread, stuck in a write or a flush the share doesn't answer, ends on its
// own, removes the scratch folder and frees the run.
struct Run {
    UniqueFd root;
    QString rootPath;
    QByteArray scratchName;
    QString scratchPath;
    UniqueFd scratch;
    QString type;
    ProbePurpose purpose = ProbePurpose::open;

    std::mutex mutex;
    std::condition_variable finishedChanged;
    std::chrono::milliseconds lastAnswer{}; // when the checks started, or the share last answered a step
    bool finished = false;
    bool abandoned = false;
    int refusal = 0;
    OpenFileHandling openFiles;
    std::optional<share_probe::Shortcoming> shortcoming;
    std::exception_ptr failure;
};

void runChecks(const std::shared_ptr<Run>& run) noexcept
{
    int refusal = 0;
    OpenFileHandling openFiles;
    std::optional<share_probe::Shortcoming> shortcoming;
    std::exception_ptr failure;
    try {
        share_probe::Checks checks(run->scratch.get(), run->scratchPath, run->type, [&run] {
            const std::chrono::milliseconds now = probeNow();
            std::lock_guard lock(run->mutex);
            run->lastAnswer = now;
        });
        checks.run();
        refusal = checks.refusal();
        openFiles = checks.openFiles();
    } catch (const share_probe::Shortcoming& found) {
        shortcoming = found;
    } catch (...) {
        failure = std::current_exception();
    }
    share_probe::removeScratch(run->root.get(), run->scratchName, std::move(run->scratch));
    // Closed before the bundle's folder may be removed, which SMB refuses while it is open.
    run->root = UniqueFd();
    std::lock_guard lock(run->mutex);
    run->finished = true;
    run->refusal = refusal;
    run->openFiles = openFiles;
    run->shortcoming = std::move(shortcoming);
    run->failure = failure;
    // The bundle being created was given up when the time was up: its folder goes too, unless
    // something else is in it by now.
    if (run->abandoned && run->purpose == ProbePurpose::create)
        ::rmdir(nativePath(run->rootPath).constData());
    run->finishedChanged.notify_all();
}

// The scratch folder, made in the bundle's folder and opened without following a link: a
// teammate who swaps it for a link before it is opened gets a new folder made instead, never a
// file written where the link leads.
void makeScratch(Run& run)
{
    for (int attempt = 0;; ++attempt) {
        // Hidden, and named so that nobody takes it for the team's data.
        run.scratchName = (QStringLiteral(".share-check-") + randomToken()).toLatin1();
        run.scratchPath = run.rootPath + QLatin1Char('/') + QString::fromLatin1(run.scratchName);
        int error = share_probe::injectedFault(ShareCapability::write);
        while (error == 0 && ::mkdirat(run.root.get(), run.scratchName.constData(), 0700) != 0) {
            if (errno != EINTR)
                error = errno;
        }
        if (error != 0) {
            if (share_probe::cannotWrite(error)) {
                run.refusal = error;
                return;
            }
            throw StorageError::fromErrno(error, run.scratchPath, QStringLiteral("mkdir"));
        }
        std::function<void(const QString&)> made;
        {
            std::lock_guard lock(testingMutex);
            made = testingScratchMade;
        }
        if (made)
            made(run.scratchPath);
        run.scratch = UniqueFd(
            ::openat(run.root.get(), run.scratchName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (run.scratch.isOpen()) {
            shareCreatedFolder(run.scratch.get(), run.scratchPath);
            return;
        }
        error = errno;
        // Replaced by something else than a folder: that is not ours to remove.
        if ((error == ELOOP || error == ENOTDIR) && attempt < 2)
            continue;
        if (error != ELOOP && error != ENOTDIR)
            ::unlinkat(run.root.get(), run.scratchName.constData(), AT_REMOVEDIR);
        throw StorageError::fromErrno(error, run.scratchPath, QStringLiteral("open"));
    }
}

// A share that can't be written to, where a team bundle is being made: nothing can be made there.
[[noreturn]] void failCreation(const QString& root, int refusal)
{
    if (refusal != ETIMEDOUT)
        throw StorageError::fromErrno(refusal, root, QStringLiteral("write"));
    throw StorageError(StorageError::Kind::io, root,
                       tr("“%1” couldn’t be written in time: a small file wasn’t stored there within %2 seconds.")
                           .arg(shownPath(root), secondsOf(timeLimit())),
                       tr("Couldn’t Write in Time"),
                       tr("The share may be full (some cluster file systems wait for space before they answer) or "
                          "its server overloaded. Make room on the share or check its server, then try again."),
                       ETIMEDOUT);
}

} // namespace

QString fileSystemTypeOf(const QString& path)
{
    {
        std::lock_guard lock(testingMutex);
        if (!testingFileSystemType.isEmpty())
            return testingFileSystemType;
    }
    QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = path;
    const QByteArray native = nativePath(canonical);
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    // The mount point that holds the path most closely: the last one listed of the longest.
    QString type;
    qsizetype longest = -1;
    // Its size reads as 0: read it to its end, bounded.
    const QByteArray lines = table.read(4 * 1024 * 1024);
    for (const QByteArray& line : lines.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() < 5 || separator < 0 || separator + 1 >= fields.size())
            continue;
        const QByteArray point = unescapedMountPoint(fields[4]);
        const bool holds = point == "/" || native == point || native.startsWith(point + '/');
        if (holds && point.size() >= longest) {
            longest = point.size();
            type = QString::fromUtf8(fields[separator + 1]);
        }
    }
    return type;
}

void setShareProbeFaultsForTesting(std::function<int(ShareCapability)> error, QString fileSystemType)
{
    std::lock_guard lock(testingMutex);
    testingFault = std::move(error);
    testingFileSystemType = std::move(fileSystemType);
}

void setShareProbeHooksForTesting(std::function<void(const QString&)> made, std::chrono::milliseconds limit)
{
    std::lock_guard lock(testingMutex);
    testingScratchMade = std::move(made);
    testingTimeLimit = limit;
}

void setShareProbeClockForTesting(std::optional<std::chrono::milliseconds> now)
{
    std::lock_guard lock(testingMutex);
    testingNow = now;
}

int share_probe::injectedFault(ShareCapability capability)
{
    std::function<int(ShareCapability)> fault;
    {
        std::lock_guard lock(testingMutex);
        fault = testingFault;
    }
    return fault ? fault(capability) : 0;
}

ShareProbeResult probeShare(const QString& root, ProbePurpose purpose)
{
    const QString type = fileSystemTypeOf(root);
    // rclone's mount answers link() with an I/O error and creates files "exclusively" in each
    // mount on its own: no fallback makes a lock safe there.
    if (type == QLatin1String("fuse.rclone"))
        throw TeamBundleError(
            TeamBundleError::Case::unsupportedShare, root,
            tr("It is an rclone mount, which can’t create a file exclusively between computers, so two teammates "
               "could hold the same lock; no mount option changes that. Put the team bundle on a share mounted "
               "another way (SMB, NFS, sshfs)."));
    auto run = std::make_shared<Run>();
    run->rootPath = root;
    run->type = type;
    run->purpose = purpose;
    run->root = UniqueFd(::open(nativePath(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!run->root.isOpen())
        throw StorageError::fromErrno(errno, root, QStringLiteral("open"));
    // A folder of its own, so that clients probing at once never meet.
    makeScratch(*run);
    if (run->refusal != 0) {
        if (purpose == ProbePurpose::create)
            failCreation(root, run->refusal);
        return ShareProbeResult{run->refusal, {}};
    }
    // A share that waits instead of answering (a cluster file system out of space waits minutes
    // before it says so) must not hold the team up: the checks run on a thread of their own, and
    // each step may take so long. A slow share that answers step by step is waited for.
    run->lastAnswer = probeNow();
    std::thread(runChecks, run).detach();
    std::unique_lock lock(run->mutex);
    if (!waitWithinLimit(
            lock, run->finishedChanged, [&] { return run->finished; }, [&] { return run->lastAnswer; })) {
        run->abandoned = true;
        lock.unlock();
        if (purpose == ProbePurpose::create)
            failCreation(root, ETIMEDOUT);
        return ShareProbeResult{ETIMEDOUT, {}};
    }
    if (run->failure)
        std::rethrow_exception(run->failure);
    if (run->shortcoming)
        throw TeamBundleError(TeamBundleError::Case::unsupportedShare, root, run->shortcoming->text);
    if (run->refusal != 0 && purpose == ProbePurpose::create)
        failCreation(root, run->refusal);
    return ShareProbeResult{run->refusal, run->openFiles};
}

void checkFolderToCreateIn(const QString& path)
{
    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        bool done = false;
        int error = 0;
        bool folder = false;
    };
    const auto answer = std::make_shared<Answer>();
    const std::chrono::milliseconds started = probeNow();
    // Plain system calls only: the thread may outlive whoever started it.
    std::thread([answer, native = nativePath(path)] {
        int error = share_probe::injectedFault(ShareCapability::reach);
        struct stat status {};
        while (error == 0 && ::stat(native.constData(), &status) != 0) {
            if (errno != EINTR)
                error = errno;
        }
        const std::lock_guard lock(answer->mutex);
        answer->done = true;
        answer->error = error;
        answer->folder = error == 0 && S_ISDIR(status.st_mode);
        answer->given.notify_all();
    }).detach();
    std::unique_lock lock(answer->mutex);
    if (!waitWithinLimit(
            lock, answer->given, [&] { return answer->done; }, [started] { return started; }))
        throw TeamBundleError::unreachableDuring(TeamBundleError::Attempt::create, path);
    const int error = answer->error;
    if (error == ENOENT || error == ENOTDIR || (error == 0 && !answer->folder))
        throw TeamBundleError(TeamBundleError::Case::missingFolder, path);
    if (error == EACCES || error == EPERM)
        throw StorageError::fromErrno(error, path, QStringLiteral("stat"));
    if (error != 0)
        throw TeamBundleError::unreachableDuring(TeamBundleError::Attempt::create, path);
}

QString OpenFileHandling::description() const
{
    const auto answer = [](int error) {
        return error == 0    ? QStringLiteral("done")
               : error == -1 ? QStringLiteral("reported done, the old file stayed")
                             : systemErrorText(error);
    };
    return QStringLiteral("rename over a file held open: %1; rename of a file held open: %2; removal of a file "
                          "held open: %3")
        .arg(answer(replace), answer(moveAside), answer(remove));
}

std::optional<TeamBundleError> writeProblemOf(const QString& root, const QStringList& folders, int probeRefusal)
{
    const auto problem = [&](const QString& folder, int error) {
        // The bundle's own folder is named by the message already.
        const QString subject = folder == root ? tr("its folder") : tr("its folder “%1”").arg(shownPath(folder));
        return TeamBundleError(TeamBundleError::Case::readOnly, root, writeRefusal(folder, subject, error));
    };
    if (probeRefusal == ETIMEDOUT)
        return TeamBundleError(
            TeamBundleError::Case::readOnly, root,
            tr("a small file written to its share wasn’t stored within %1 seconds: the share may be full, or its "
               "server overloaded. Ask whoever manages the share to make room or to check the server, then open "
               "the team bundle again.")
                .arg(secondsOf(timeLimit())));
    // A read-only or full share is said to be that, whatever its folders' modes.
    if (probeRefusal == EROFS || probeRefusal == ENOSPC
#ifdef EDQUOT
        || probeRefusal == EDQUOT
#endif
    )
        return problem(root, probeRefusal);
    for (const QString& folder : QStringList{root} + folders) {
        struct stat status {};
        if (::lstat(nativePath(folder).constData(), &status) == 0 && !mayWriteIn(folder))
            return problem(folder, EACCES);
    }
    if (probeRefusal != 0)
        return problem(root, probeRefusal);
    return std::nullopt;
}

} // namespace vantrel
