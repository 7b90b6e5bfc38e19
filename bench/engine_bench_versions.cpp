// engine_bench: a new version after a 1 MiB edit, the engine's beside git's commit of the same edit.
//
// The engine makes a new version the way a user does: by checking in a working copy that it has
// watched since its check-out. Beside it, the same package stored from a folder that nobody
// watched (storeVersion, the whole walk with the stat cache), so that the walk's cost stays shown.

#include "bench/engine_bench.h"
#include "bench/git_repository.h"
#include "engine/document_application.h"
#include "engine/s3_service.h"
#include "engine/storage/change_watcher.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "support/sync_wait.h"

#include <stdexcept>

namespace vantrel::bench {

using vantrel::testing::syncWait;

VersionFigures measureVersions(BenchContext& context, const PackageShape& shape, const QString& source)
{
    VersionFigures figures;
    figures.shape = shape;
    note(QStringLiteral("generating %1 files in %2").arg(shape.files).arg(source));
    figures.generateSeconds = generatePackage(source, shape);
    const auto generatedAt = Clock::now();

    // The engine's side: a team bundle holding the package as its first version.
    const QString root = context.work + QStringLiteral("/Versions-%1.vantrelteam").arg(shape.files);
    const QString client = QStringLiteral("versions%1").arg(shape.files);
    const QString local = context.clients.localFolder(client);
    const double settle = settleSeconds - secondsSince(generatedAt);
    if (settle > 0)
        sleepSeconds(settle);
    note(QStringLiteral("importing the %1 files (untimed)").arg(shape.files));
    auto team = context.clients.create(root, client);
    context.cache.prepare();
    auto start = Clock::now();
    auto service = syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt,
                                                      std::nullopt, std::nullopt, QStringLiteral("Initial Commit"),
                                                      DocumentApplication::none(), team, nullptr, nullptr));
    syncFileSystemOf(root);
    figures.importSeconds = secondsSince(start);

    // git's side: a repository of the same folder, with its first commit.
    note(QStringLiteral("git's first commit of the %1 files (untimed)").arg(shape.files));
    const GitRepository git(context.work + QStringLiteral("/git-%1").arg(shape.files), source);
    start = Clock::now();
    git.create();
    git.commitFirst(QStringLiteral("Initial Commit"));
    syncFileSystemOf(git.gitDir());
    figures.gitFirstSeconds = secondsSince(start);
    const QString first = git.head();

    // One engine step, timed with the page cache dropped before and syncfs after, and the growth
    // of the store around it.
    const auto engineStep = [&](VersionRuns& into, const std::function<void()>& step) {
        const qint64 bytesBefore = storeBytes(*team);
        const qint64 filesBefore = storeFiles(*team);
        context.cache.prepare();
        const auto begin = Clock::now();
        step();
        syncFileSystemOf(root);
        syncFileSystemOf(local);
        into.vantrel.push_back(secondsSince(begin));
        // The working copy a check-in ends is removed in the background: not while git is timed.
        waitForBackgroundWork();
        into.vantrelGrowth.push_back(double(storeBytes(*team) - bytesBefore));
        into.vantrelObjects.push_back(double(storeFiles(*team) - filesBefore));
    };
    const auto gitCommit = [&](VersionRuns& into) {
        const qint64 bytesBefore = git.objectBytes();
        const qint64 filesBefore = treeTotals(git.gitDir() + QStringLiteral("/objects")).files;
        context.cache.prepare();
        into.git.push_back(git.timedCommit(QStringLiteral("One file changed")));
        into.gitGrowth.push_back(double(git.objectBytes() - bytesBefore));
        into.gitObjects.push_back(double(treeTotals(git.gitDir() + QStringLiteral("/objects")).files - filesBefore));
        // The next commit is a second commit again: the same parent, the same work.
        git.resetSoft(first);
    };
    // Both see the same edit; who goes first alternates.
    const auto sideBySide = [&](int run, VersionRuns& into, const std::function<void()>& step) {
        if (run % 2 == 1) {
            engineStep(into, step);
            gitCommit(into);
        } else {
            gitCommit(into);
            engineStep(into, step);
        }
    };

    // A folder that nobody watched: storeVersion walks all of it, with the stat cache the
    // previous version saved.
    for (int run = 1; run <= runs; ++run) {
        note(QStringLiteral("new version from a folder not watched, %1 files, run %2 of %3")
                 .arg(shape.files)
                 .arg(run)
                 .arg(runs));
        editPackage(source, ++context.editRound);
        const auto storeVersion = [&] {
            syncWait(service->storeVersion(source, QStringLiteral("One file changed"), VersionOrigin::checkedIn));
        };
        sideBySide(run, figures.walk, storeVersion);
    }

    // What a user does: check out, edit, check in. The working copy is watched from its
    // check-out on, so the check-in lists only the folders that changed. A check-in ends the
    // check-out: each run checks out again (untimed), and that copy must hold the edit before.
    for (int run = 1; run <= runs; ++run) {
        note(QStringLiteral("check-in of a watched working copy, %1 files, run %2 of %3")
                 .arg(shape.files)
                 .arg(run)
                 .arg(runs));
        start = Clock::now();
        const QString workingCopy = syncWait(service->checkOut({}, {.autoSave = false}, defaultS3Factory()));
        syncFileSystemOf(local);
        figures.checkOut.push_back(secondsSince(start));
        if (run > 1 && !holdsEdit(workingCopy, context.editRound))
            throw std::runtime_error("the check-out does not hold the edit checked in before");
        const int round = ++context.editRound;
        editPackage(workingCopy, round);
        editPackage(source, round);
        // A figure of the walk must not pass for one of the watched check-in.
        if (!team->changeWatcher().changedFolders(workingCopy)) {
            throw std::runtime_error(
                "the working copy is not watched: "
                + team->changeWatcher().whyNotWatched(workingCopy).value_or(QStringLiteral("unknown")).toStdString());
        }
        const auto checkIn = [&] {
            const double readBefore = bytesRead();
            const auto begin = Clock::now();
            syncWait(service->checkIn(QStringLiteral("One file changed"), defaultS3Factory()));
            figures.checkInCall.push_back(secondsSince(begin));
            figures.checkInRead.push_back(bytesRead() - readBefore);
        };
        sideBySide(run, figures.checkIn, checkIn);
        if (service->isCheckedOut())
            throw std::runtime_error("the check-in did not end the check-out");
    }

    const qsizetype versions = service->versionIDs().size();
    if (versions != 2 * runs + 1)
        throw std::runtime_error("the engine did not store a version for every edit");
    service.reset();
    team.reset();
    removeTree(root);
    removeTree(git.gitDir());
    removeTree(local);
    return figures;
}

} // namespace vantrel::bench
