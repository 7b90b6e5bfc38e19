// window_bench: the team window over a large team bundle, offscreen. How long a click on a
// collection of 10,000 documents takes until the documents list is painted with its rows, how
// long a click on a document (a library of 500 events) takes until its header and buttons are
// painted, and the peak memory of the process. Each run opens the team bundle in a new team
// setup and window; the bundle is written once. Then the parts over teams of their own: long
// histories (window_bench_activity.cpp, window_bench_launch.cpp) and the add-existing sheet
// (window_bench_add_existing.cpp).

#include "bench/window_bench_support.h"

#include "design/dark_theme.h"
#include "engine/team_bundle.h"
#include "model/collection.h"
#include "model/document.h"
#include "open_team/navigation_model.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/team/collection_content_view.h"
#include "views/team/item_list_model.h"
#include "views/team/item_list_view.h"
#include "views/team/nested_item_list.h"
#include "views/team/team_view.h"
#include "views/team/team_window.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

using namespace vantrel;
using namespace vantrel::bench;

namespace {

constexpr int documentCount = 10000;
constexpr int eventCount = 500;
constexpr int runs = 5;
constexpr double listTarget = 0.300;
constexpr double headerTarget = 0.050;
constexpr double memoryTarget = 300.0 * double(MiB);
const QString libraryName = QStringLiteral("Main Library");

struct RunFigures {
    double list = 0;   // click on the collection → list painted with rows
    double loaded = 0; // click on the collection → its documents loaded (the model's rows)
    double header = 0; // click on the library → header and buttons painted
    double open = 0;   // the setup's start → the team loaded
};

RunFigures measureRun(const QString& bundle, const QString& local)
{
    RunFigures figures;
    const auto openStart = Clock::now();
    Shell shell(bundle, local);
    figures.open = showTeam(shell, openStart);
    const auto team = teamOf(shell);

    const auto collections = team->collections().all();
    const auto collection = collections.first();
    NavigationModel& navigation = team->navigation();

    // 1. The click on the collection: what CollectionList does for a click on its row.
    PaintWatch watch;
    ItemListView* documentView = nullptr;
    std::optional<Clock::time_point> listPainted;
    std::optional<Clock::time_point> loaded;
    QObject guard;
    QObject::connect(collection.get(), &Collection::isLoadingNestedItemsChanged, &guard, [&] {
        if (!collection->isLoadingNestedItems() && !loaded)
            loaded = Clock::now();
    });
    watch.counts = [&](QWidget* widget) {
        if (!listPainted && documentView && widget == documentView->viewport()
            && documentView->listModel().rowCount() > 0)
            listPainted = Clock::now();
    };
    const auto listStart = Clock::now();
    collection->setSelectedItem(nullptr);
    navigation.setSelectedCollection(collection);
    auto* content = contentOf(shell);
    if (!content || !content->documentList())
        throw std::runtime_error("selecting the collection did not show its content");
    documentView = &content->documentList()->view();
    waitUntil([&] { return listPainted.has_value(); }, 120, "the documents list");
    figures.list = std::chrono::duration<double>(*listPainted - listStart).count();
    figures.loaded = loaded ? std::chrono::duration<double>(*loaded - listStart).count() : -1;
    settle(0.5);

    // 2. The click on the library: what the documents list does for a click on its row.
    std::shared_ptr<Document> library;
    for (const auto& document : collection->nestedItems()) {
        if (document->name() == libraryName)
            library = document;
    }
    if (!library)
        throw std::runtime_error("the library is not in the collection");
    SelectedItemHeaderView* header = content->header();
    std::optional<Clock::time_point> namePainted;
    std::optional<Clock::time_point> buttonsPainted;
    watch.counts = [&](QWidget* widget) {
        if (header->shownItem() != library || !header->header())
            return;
        if (!namePainted && widget == static_cast<QWidget*>(header->header()->nameLabel())
            && header->header()->title() == libraryName)
            namePainted = Clock::now();
        if (!buttonsPainted && header->buttonGroup() && isWithin(widget, header->buttonGroup()))
            buttonsPainted = Clock::now();
    };
    const auto headerStart = Clock::now();
    library->setSelectedItem(nullptr);
    navigation.setSelectedDocument(library);
    if (!header->buttonGroup())
        throw std::runtime_error("the library's header has no buttons");
    waitUntil([&] { return namePainted && buttonsPainted; }, 60, "the library's header");
    figures.header = std::chrono::duration<double>(std::max(*namePainted, *buttonsPainted) - headerStart).count();
    watch.counts = nullptr;
    settle(0.5);
    return figures;
}

int run(const QStringList& arguments)
{
    const auto options = parseOptions(arguments, "window_bench", VANTREL_BENCH_DEFAULT_FOLDER);
    if (!options)
        return 0;
    const WorkFolder workFolder(options->base, QStringLiteral("window-bench"), options->keep);
    const QString work = workFolder.path();
    note(QStringLiteral("working in %1 (%2)").arg(work, fileSystemType(work)));

    const QString bundle = work + QStringLiteral("/Window.vantrelteam");
    note(QStringLiteral("writing a team bundle of %1 documents, one a library of %2 events")
             .arg(documentCount)
             .arg(eventCount));
    const auto writeStart = Clock::now();
    {
        const Clients clients(work + QStringLiteral("/writers"), false);
        buildWindowTeam(bundle, clients, documentCount, eventCount);
    }
    note(QStringLiteral("written in %1").arg(seconds(secondsSince(writeStart))));
    const double writerPeak = statusBytes("VmHWM");

    std::vector<double> lists, loads, headers, opens;
    for (int index = 0; index < runs; ++index) {
        const QString local = work + QStringLiteral("/local-%1").arg(index + 1);
        QDir().mkpath(local);
        const RunFigures figures = measureRun(bundle, local);
        note(QStringLiteral("run %1: team loaded in %2, list painted in %3 (documents loaded in %4), header in %5")
                 .arg(index + 1)
                 .arg(seconds(figures.open), seconds(figures.list), seconds(figures.loaded), seconds(figures.header)));
        lists.push_back(figures.list);
        loads.push_back(figures.loaded);
        headers.push_back(figures.header);
        opens.push_back(figures.open);
        settle(0.5); // the closed team bundle's background work
    }
    const double peak = statusBytes("VmHWM");
    const double resident = statusBytes("VmRSS");

    // The other parts, over teams of their own, after the peak above: theirs is reported apart.
    Report report;
    measureHistory(work, report);
    measureAddExisting(work, report);

    const double list = median(lists);
    const double header = median(headers);
    std::printf("window_bench: a collection of %d documents, one a library of %d events; offscreen, %dx%d; "
                "median of %d runs\n\n",
                documentCount, eventCount, TeamWindow::defaultSize.width(), TeamWindow::defaultSize.height(), runs);
    std::vector<Row> rows{
        {QStringLiteral("Collection clicked → documents list painted with rows"), seconds(list),
         QStringLiteral("≤ 300 ms"), verdict(list <= listTarget)},
        {QStringLiteral("Library clicked → its header and buttons painted"), seconds(header), QStringLiteral("≤ 50 ms"),
         verdict(header <= headerTarget)},
        {QStringLiteral("Peak memory of the process (VmHWM) at the end"), mebibytes(peak, 1),
         QStringLiteral("< 300 MiB"), verdict(peak < memoryTarget)},
    };
    rows.insert(rows.end(), report.rows.begin(), report.rows.end());
    printTable(rows);
    const auto format = [](double value) { return seconds(value); };
    std::printf("\nRuns:\n");
    std::printf("  documents list painted: %s\n", qPrintable(runList(lists, format)));
    std::printf("  documents loaded:       %s\n", qPrintable(runList(loads, format)));
    std::printf("  header painted:         %s\n", qPrintable(runList(headers, format)));
    std::printf("  team loaded:            %s\n", qPrintable(runList(opens, format)));
    std::printf("  memory: VmHWM %s after writing the bundle, %s at the end; VmRSS %s at the end\n",
                qPrintable(mebibytes(writerPeak, 1)), qPrintable(mebibytes(peak, 1)),
                qPrintable(mebibytes(resident, 1)));
    for (const QString& line : std::as_const(report.details))
        std::printf("  %s\n", qPrintable(line));
    std::printf("  VmHWM at the very end, after every part: %s\n", qPrintable(mebibytes(statusBytes("VmHWM"), 1)));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    BenchApplication app(argc, argv);
    design::applyDarkTheme(app);
    setNoteTag("window_bench");
    try {
        const QStringList arguments = app.arguments().mid(1);
        if (arguments.value(0) == QLatin1String("--launch"))
            return runLaunch(arguments.mid(1));
        return run(arguments);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "window_bench: %s\n", error.what());
        return 1;
    }
}
