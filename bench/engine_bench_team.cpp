// engine_bench: a team bundle of 50,000 bundles: opening it, rereading it after a rename, one
// client's run of commits, and a client's memory in a process of its own.

#include "bench/engine_bench.h"
#include "engine/journal/record_kind.h"
#include "engine/team_bundle.h"
#include "engine/version_bundles.h"
#include "engine/versioning_service.h"
#include "support/sync_wait.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace vantrel::bench {

using vantrel::testing::syncWait;

namespace {

// 2,000 collections and 48,000 documents from three clients, five bundles to a record.
constexpr LargeTeamShape teamShape{2000, 48000, 3, 5};

IdFor<VersionBundle> someDocument(const std::vector<IdFor<VersionBundle>>& documents, int which)
{
    return documents.at(size_t(which) * 3163 % documents.size());
}

// Runs this program as a client of `root` in a process of its own, its local folders in
// `localRoot`, and reads what it reports.
void measureClientMemory(const QString& root, const QString& localRoot, TeamFigures& figures)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--client-memory"), root, localRoot});
    if (!child.waitForStarted() || !child.waitForFinished(600000) || child.exitCode() != 0)
        throw std::runtime_error("the client process for the memory figure failed");
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    double peak = 0, now = 0, opened = 0;
    long long bundles = 0;
    if (std::sscanf(output.toUtf8().constData(), "memory %lf %lf %lf %lld", &peak, &now, &opened, &bundles) != 4)
        throw std::runtime_error("the client process said: " + output.toStdString());
    if (bundles != teamShape.bundles())
        throw std::runtime_error("the client process does not see every bundle");
    figures.memoryPeakBytes = peak;
    figures.memoryNowBytes = now;
    figures.memoryOpenSeconds = opened;
}

} // namespace

TeamFigures measureTeam(BenchContext& context)
{
    TeamFigures figures;
    figures.shape = teamShape;
    const auto& cache = context.cache;
    const auto& clients = context.clients;
    const QString root = context.work + QStringLiteral("/Team.vantrelteam");
    note(QStringLiteral("writing a team bundle of %1 bundles").arg(teamShape.bundles()));
    const auto setupStart = Clock::now();
    const std::vector<IdFor<VersionBundle>> documents = buildLargeTeam(root, clients, dataSeed ^ 0x1DEAULL, teamShape);
    figures.setupSeconds = secondsSince(setupStart);
    const TreeTotals journal = treeTotals(root + QStringLiteral("/journal"));
    figures.journalFiles = journal.files;
    figures.journalBytes = journal.bytes;

    // Opening as a new client, page cache dropped.
    std::shared_ptr<TeamBundle> reader;
    for (int run = 1; run <= runs; ++run) {
        note(QStringLiteral("opening run %1 of %2").arg(run).arg(runs));
        reader.reset();
        cache.prepare();
        const auto start = Clock::now();
        reader = clients.open(root, QStringLiteral("reader%1").arg(run));
        figures.openOnly.push_back(secondsSince(start));
        const auto index = reader->versionBundles().liveIndex();
        figures.open.push_back(secondsSince(start));
        figures.bundles = index.all.size();
        if (!reader->problems().isEmpty())
            throw std::runtime_error("the reader found problems: " + reader->problems().join(u'\n').toStdString());
    }
    if (figures.bundles != teamShape.bundles())
        throw std::runtime_error("the reader does not see every bundle: " + std::to_string(figures.bundles));

    // Another client renames one bundle; the reader rereads. A client's first background poll
    // comes at the default interval after it opened, whatever interval is set afterwards: wait
    // for it, so that it neither takes the change nor runs beside the timed poll.
    auto renamer = clients.open(root, QStringLiteral("renamer"));
    QThread::msleep(2500);
    const auto reread = [&](int round, bool cold, std::vector<double>& times) {
        const auto id = someDocument(documents, round);
        const auto service =
            syncWait(VersioningService::open(VersioningServiceType::document, id, std::nullopt, std::nullopt, renamer,
                                             nullptr, nullptr, defaultS3Factory()));
        const QString name = QStringLiteral("Renamed %1").arg(round);
        syncWait(service->rename(name));
        if (cold)
            cache.prepare();
        else
            ::sync();
        const auto start = Clock::now();
        reader->poll();
        const auto index = reader->versionBundles().liveIndex();
        times.push_back(secondsSince(start));
        const auto summary = index.summary(id);
        if (!summary || summary->name() != name)
            throw std::runtime_error("the reader did not see the rename");
    };
    for (int run = 1; run <= runs; ++run)
        reread(run, true, figures.reread);
    for (int run = 1; run <= runs; ++run)
        reread(runs + run, false, figures.rereadWarm);
    reader.reset();
    renamer.reset();

    // A client's memory, in a process of its own.
    note(QStringLiteral("a client's memory, in a process of its own"));
    measureClientMemory(root, context.work + QStringLiteral("/local"), figures);

    // One client's run of commits: the writer of a third of the team renames documents, one
    // record each, as a user renaming things one by one would.
    note(QStringLiteral("%1 commits by one client").arg(commitRunLength));
    // Packing the writer's journal runs on its background thread meanwhile, as in the
    // application; only the commit calls are timed.
    auto writer = clients.open(root, QStringLiteral("writer1"));
    for (int round = 0; round < commitRunLength; ++round) {
        const auto id = someDocument(documents, round + 7);
        const std::vector<JournalChange> change{
            {id, RecordKind::rename, {{QStringLiteral("name"), QStringLiteral("Shot renamed %1").arg(round)}}}};
        const auto start = Clock::now();
        writer->commit(change);
        figures.commits.push_back(secondsSince(start));
    }
    writer.reset(); // stops a pack under way before the team bundle is removed
    syncFileSystemOf(root);
    removeTree(root);
    return figures;
}

int clientMemoryMain(const QStringList& arguments)
{
    if (arguments.size() != 2)
        throw std::runtime_error("usage: engine_bench --client-memory ROOT LOCAL_ROOT");
    const Clients clients(arguments.at(1), true);
    const auto start = Clock::now();
    const auto team = clients.open(arguments.at(0), QStringLiteral("memory"));
    const auto index = team->versionBundles().liveIndex();
    const double opened = secondsSince(start);
    team->poll();
    const auto again = team->versionBundles().liveIndex();
    std::printf("memory %.0f %.0f %.6f %lld\n", statusBytes("VmHWM"), statusBytes("VmRSS"), opened,
                static_cast<long long>(again.all.size()));
    return 0;
}

} // namespace vantrel::bench
