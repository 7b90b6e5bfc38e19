// window_bench, the launch: a window opened on the team bundle whose stored selection is the
// document of 1,000 versions, until the document's header and activity have painted, beside a
// window opened on an empty team bundle, until its detail has painted. Each launch is a process
// of its own (window_bench --launch), as the application's start is: what an earlier window of
// the same process left behind (its heap, the engine's caches) would weigh on the next one.

#include "bench/window_bench_support.h"

#include "model/document.h"
#include "open_team/navigation_model.h"
#include "open_team/team.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/team/collection_content_view.h"
#include "views/team/team_view.h"

#include <QLabel>
#include <QProcess>

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace vantrel::bench {

namespace {

constexpr int launches = 5;
constexpr double launchTarget = 0.100; // above the empty team's

struct LaunchFigures {
    double painted = 0;
    double loaded = 0; // the team setup's state loaded
    double peak = 0;   // the process's VmHWM once painted
};

// Opens a window as the application does at its start, the team setup first (with the window made
// and shown at once), and returns how long it took until `done` held for a paint: `done` is asked after every paint, with the window's
// team view (null while the team is loading) and the widget just painted.
LaunchFigures launch(const QString& bundle, const QString& local, const std::optional<ItemSelection>& restored,
                     const std::function<bool(Shell&, QWidget*)>& done)
{
    std::unique_ptr<Shell> shell;
    std::optional<Clock::time_point> painted;
    std::optional<Clock::time_point> loaded;
    PaintWatch watch;
    watch.counts = [&](QWidget* widget) {
        if (!painted && shell && shell->window->teamView() && done(*shell, widget))
            painted = Clock::now();
    };
    const auto start = Clock::now();
    shell = std::make_unique<Shell>(bundle, local, restored);
    QObject::connect(shell->setup.get(), &TeamSetup::stateChanged, shell->setup.get(), [&] {
        if (!loaded && shell->setup->state().kind() == TeamSetup::State::Case::loaded)
            loaded = Clock::now();
    });
    shell->window->resize(TeamWindow::defaultSize);
    shell->window->show();
    runUntil([&] { return painted.has_value(); }, 300, "the launched window");
    const LaunchFigures figures{std::chrono::duration<double>(*painted - start).count(),
                                loaded ? std::chrono::duration<double>(*loaded - start).count() : -1,
                                statusBytes("VmHWM")};
    watch.counts = nullptr;
    return figures;
}

// The empty team shows its detail (the welcome) at once.
bool emptyTeamPainted(Shell& shell, QWidget* widget)
{
    return isWithin(widget, shell.window->teamView()->detail());
}

// The restored document's header shows its name, and its activity has rows: each is noted when
// painted, the later one ends the launch.
struct RestoredPaints {
    std::optional<Clock::time_point> name;
    std::optional<Clock::time_point> rows;

    bool operator()(Shell& shell, QWidget* widget)
    {
        CollectionContentView* content = contentOf(shell);
        if (!content)
            return false;
        const auto document = teamOf(shell)->navigation().selectedDocument();
        if (!document || document->name() != HistoryTeam::longName)
            return false;
        SelectedItemHeaderView* header = content->header();
        if (!name && header->shownItem() == document && header->header()
            && widget == static_cast<QWidget*>(header->header()->nameLabel())
            && header->header()->title() == document->name())
            name = Clock::now();
        if (!rows && activityPainted(content->activityArea(), widget, 0))
            rows = Clock::now();
        return name && rows;
    }
};

// Runs `window_bench --launch` and reads its figures.
LaunchFigures launchProcess(const QStringList& arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--launch")} + arguments);
    if (!child.waitForFinished(600 * 1000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        throw std::runtime_error("a launch failed: " + arguments.join(u' ').toStdString());
    const QStringList figures = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(u' ');
    if (figures.size() != 4 || figures.at(0) != QLatin1String("launched"))
        throw std::runtime_error("a launch reported nothing: " + arguments.join(u' ').toStdString());
    return {figures.at(1).toDouble(), figures.at(2).toDouble(), figures.at(3).toDouble()};
}

} // namespace

int runLaunch(const QStringList& arguments)
{
    // BUNDLE LOCAL [COLLECTION DOCUMENT]: the last two are the selection stored for the start.
    if (arguments.size() != 2 && arguments.size() != 4)
        throw std::runtime_error("usage: window_bench --launch BUNDLE LOCAL [COLLECTION DOCUMENT]");
    std::optional<ItemSelection> restored;
    if (arguments.size() == 4) {
        const auto collection = IdFor<VersionBundle>::fromString(arguments.at(2));
        const auto document = IdFor<VersionBundle>::fromString(arguments.at(3));
        if (!collection || !document)
            throw std::runtime_error("not the ids of a collection and a document");
        restored = ItemSelection{*collection, *document, std::nullopt};
    }
    RestoredPaints paints;
    const LaunchFigures figures =
        restored ? launch(arguments.at(0), arguments.at(1), restored,
                          [&paints](Shell& shell, QWidget* widget) { return paints(shell, widget); })
                 : launch(arguments.at(0), arguments.at(1), std::nullopt, emptyTeamPainted);
    std::printf("launched %.6f %.6f %.0f\n", figures.painted, figures.loaded, figures.peak);
    return 0;
}

void measureLaunch(const HistoryTeam& history, const QString& work, Report& report)
{
    const QStringList selection{history.collection.toString(), history.longDocument.toString()};
    std::vector<double> empty, restored, emptyLoaded, restoredLoaded, emptyPeak, restoredPeak;
    for (int index = 0; index < launches; ++index) {
        const LaunchFigures bare =
            launchProcess({history.emptyBundle, localFolder(work, QStringLiteral("empty-%1").arg(index + 1))});
        const LaunchFigures full = launchProcess(
            QStringList{history.bundle, localFolder(work, QStringLiteral("restored-%1").arg(index + 1))} + selection);
        note(QStringLiteral("launch %1: empty team painted in %2, the 1,000-version document restored in %3")
                 .arg(index + 1)
                 .arg(seconds(bare.painted), seconds(full.painted)));
        empty.push_back(bare.painted);
        restored.push_back(full.painted);
        emptyLoaded.push_back(bare.loaded);
        restoredLoaded.push_back(full.loaded);
        emptyPeak.push_back(bare.peak);
        restoredPeak.push_back(full.peak);
    }
    const double extra = median(restored) - median(empty);
    report.rows.push_back({QStringLiteral("Launch with the 1,000-version document restored → painted"),
                           QStringLiteral("%1 (empty team %2, %3%4)")
                               .arg(seconds(median(restored)), seconds(median(empty)),
                                    extra < 0 ? QStringLiteral("-") : QStringLiteral("+"), seconds(std::abs(extra))),
                           QStringLiteral("≤ empty + 100 ms"), verdict(extra <= launchTarget)});
    report.rows.push_back(
        {QStringLiteral("  peak memory (VmHWM) of that launch's process"),
         QStringLiteral("%1 (empty team %2)").arg(mebibytes(median(restoredPeak), 1), mebibytes(median(emptyPeak), 1)),
         QStringLiteral("(shown)"), QStringLiteral("info")});
    const auto format = [](double value) { return seconds(value); };
    const auto memory = [](double value) { return mebibytes(value, 0); };
    report.details
        << QStringLiteral("launches, empty team: %1").arg(runList(empty, format))
        << QStringLiteral("launches, document restored: %1").arg(runList(restored, format))
        << QStringLiteral("launches, team loaded, empty team: %1").arg(runList(emptyLoaded, format))
        << QStringLiteral("launches, team loaded, document restored: %1").arg(runList(restoredLoaded, format))
        << QStringLiteral("launches, VmHWM, empty team: %1").arg(runList(emptyPeak, memory))
        << QStringLiteral("launches, VmHWM, document restored: %1").arg(runList(restoredPeak, memory));
}

} // namespace vantrel::bench
