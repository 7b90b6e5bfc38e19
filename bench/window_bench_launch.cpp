// window_bench, the launch: a window opened on the team bundle whose stored selection is the
// document of 1,000 versions, until the document's header and activity have painted, beside a
// window opened on an empty team bundle, until its detail has painted.

#include "bench/window_bench_support.h"

#include "model/document.h"
#include "open_team/navigation_model.h"
#include "open_team/team.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/team/collection_content_view.h"
#include "views/team/team_view.h"

#include <QLabel>

#include <cmath>

namespace vantrel::bench {

namespace {

constexpr int launches = 5;
constexpr double launchTarget = 0.100; // above the empty team's

// Opens a window as the application does at its start, the team setup first, and returns how long
// it took until `done` held for a paint: `done` is asked after every paint, with the window's
// team view (null while the team is loading) and the widget just painted.
double launch(const QString& bundle, const QString& local, const std::optional<ItemSelection>& restored,
                     const std::function<bool(Shell&, QWidget*)>& done)
{
    std::unique_ptr<Shell> shell;
    std::optional<Clock::time_point> painted;
    PaintWatch watch;
    watch.counts = [&](QWidget* widget) {
        if (!painted && shell && shell->window->teamView() && done(*shell, widget))
            painted = Clock::now();
    };
    const auto start = Clock::now();
    shell = std::make_unique<Shell>(bundle, local, restored);
    shell->window->resize(TeamWindow::defaultSize);
    shell->window->show();
    runUntil([&] { return painted.has_value(); }, 300, "the launched window");
    const double figure = std::chrono::duration<double>(*painted - start).count();
    settle(0.5);
    watch.counts = nullptr;
    shell.reset();
    settle(0.5); // the closed team bundle's background work
    return figure;
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

} // namespace

void measureLaunch(const HistoryTeam& history, const QString& work, Report& report)
{
    ItemSelection selection;
    selection.collection = history.collection;
    selection.document = history.longDocument;
    std::vector<double> empty, restored;
    for (int index = 0; index < launches; ++index) {
        const double bare = launch(history.emptyBundle, localFolder(work, QStringLiteral("empty-%1").arg(index + 1)),
                                          std::nullopt, emptyTeamPainted);
        RestoredPaints paints;
        const double full =
            launch(history.bundle, localFolder(work, QStringLiteral("restored-%1").arg(index + 1)), selection,
                   [&paints](Shell& shell, QWidget* widget) { return paints(shell, widget); });
        note(QStringLiteral("launch %1: empty team painted in %2, the 1,000-version document restored in %3")
                 .arg(index + 1)
                 .arg(seconds(bare), seconds(full)));
        empty.push_back(bare);
        restored.push_back(full);
    }
    const double extra = median(restored) - median(empty);
    report.rows.push_back(
        {QStringLiteral("Launch with the 1,000-version document restored → painted"),
         QStringLiteral("%1 (empty team %2, %3%4)")
             .arg(seconds(median(restored)), seconds(median(empty)), extra < 0 ? QStringLiteral("-") : QStringLiteral("+"),
                  seconds(std::abs(extra))),
         QStringLiteral("≤ empty + 100 ms"), verdict(extra <= launchTarget)});
    const auto format = [](double value) { return seconds(value); };
    report.details << QStringLiteral("launches, empty team: %1").arg(runList(empty, format))
                   << QStringLiteral("launches, document restored: %1").arg(runList(restored, format));
}

} // namespace vantrel::bench
