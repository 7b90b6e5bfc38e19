// window_bench, long histories: a click on a document of 100 and of 1,000 versions until its
// header and its activity have painted; a teammate's new version of the shown 1,000-version
// document, as the time the interface thread spends on it and the memory it leaves behind; and
// keys typed into the check-in panel of that document, checked out, with its entries shown.

#include "bench/window_bench_support.h"

#include "foundation/error.h"
#include "foundation/task_starter.h"
#include "model/collection.h"
#include "model/document.h"
#include "open_team/navigation_model.h"
#include "open_team/team.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/team/collection_content_view.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>

#include <algorithm>
#include <stdexcept>

namespace vantrel::bench {

namespace {

constexpr int runs = 5;
constexpr int changes = 5;
constexpr int keys = 20;
constexpr double selectTarget = 0.100;
constexpr double frameTarget = 0.016;
constexpr double memoryTarget = 5.0 * double(MiB);
// How often the window polls the team bundle while a teammate's changes are measured: the change
// is then found soon after it is written, whatever the default interval.
constexpr std::chrono::milliseconds changePoll{100};

double between(Clock::time_point start, Clock::time_point end)
{
    return std::chrono::duration<double>(end - start).count();
}

HistoryTeam writeHistoryTeam(const QString& work)
{
    HistoryTeam history;
    history.bundle = work + QStringLiteral("/History.vantrelteam");
    history.emptyBundle = work + QStringLiteral("/Empty.vantrelteam");
    const Clients clients(work + QStringLiteral("/writers"), false);
    clients.create(history.emptyBundle, QStringLiteral("writer1"));
    TeamWriter writer(clients.create(history.bundle, QStringLiteral("writer1")));
    history.collection = writer.add(DocumentType::collection(), HistoryTeam::collectionName, std::nullopt);
    writer.add(history.type, HistoryTeam::shortName, history.collection, HistoryTeam::shortVersions);
    history.longDocument =
        writer.add(history.type, HistoryTeam::longName, history.collection, HistoryTeam::longVersions);
    writer.flush();
    history.manifest = writer.manifest();
    return history;
}

// Clicks `document` in the documents list, as the list does for a click on its row, and returns
// the seconds until both the header's name and the activity column with the document's rows have
// painted. The column shows no more rows than before the click until the document's are there.
double clickDocument(Shell& shell, const std::shared_ptr<Document>& document)
{
    CollectionContentView* content = contentOf(shell);
    SelectedItemHeaderView* header = content->header();
    QWidget* area = content->activityArea();
    const int before = activityRows(area);
    std::optional<Clock::time_point> namePainted;
    std::optional<Clock::time_point> rowsPainted;
    PaintWatch watch;
    watch.counts = [&](QWidget* widget) {
        if (!namePainted && header->shownItem() == document && header->header()
            && widget == static_cast<QWidget*>(header->header()->nameLabel())
            && header->header()->title() == document->name())
            namePainted = Clock::now();
        if (!rowsPainted && activityPainted(area, widget, before))
            rowsPainted = Clock::now();
    };
    const auto start = Clock::now();
    document->setSelectedItem(nullptr);
    teamOf(shell)->navigation().setSelectedDocument(document);
    runUntil([&] { return namePainted && rowsPainted; }, 300, "the document's header and activity");
    return between(start, std::max(*namePainted, *rowsPainted));
}

struct ChangeFigures {
    double busy = 0;  // the interface thread's time in events, from the record written until idle
    double stall = 0; // the longest time it did not come back to its event loop meanwhile
    double shown = 0; // from the record written until the new row painted
};

// A teammate checks in a new version of the shown document: its version record, written by a
// client of its own on the same team bundle, reaches the window through the window's poll.
ChangeFigures teammateChange(Shell& shell, TeamBundle& teammate, const HistoryTeam& history, int round)
{
    QWidget* area = contentOf(shell)->activityArea();
    const int before = activityRows(area);
    std::optional<Clock::time_point> shown;
    PaintWatch watch;
    watch.counts = [&](QWidget* widget) {
        if (!shown && activityPainted(area, widget, before))
            shown = Clock::now();
    };
    addVersion(teammate, history.longDocument, history.type, history.manifest,
               QStringLiteral("Teammate's cut %1").arg(round));
    BenchApplication& app = BenchApplication::instance();
    const double busyBefore = app.busy();
    const auto start = Clock::now();
    ChangeFigures figures;
    figures.stall = runUntil([&] { return shown.has_value(); }, 120, "the teammate's version");
    double stallAfter = 0;
    waitForIdle(0.1, &stallAfter);
    figures.stall = std::max(figures.stall, stallAfter);
    figures.busy = app.busy() - busyBefore;
    figures.shown = between(start, *shown);
    return figures;
}

QCoro::Task<> checkOut(std::shared_ptr<Document> document)
{
    co_await document->checkOut();
}

QCoro::Task<> giveUpCheckOut(std::shared_ptr<Document> document)
{
    co_await document->cancelCheckout();
}

// Runs `operation` as the window's task and waits until `done` holds; a failure stops the run.
void runTask(TaskOperation operation, const std::function<bool()>& done, const char* what)
{
    const auto failure = std::make_shared<std::optional<QString>>();
    startTask(std::nullopt, std::move(operation),
              handleError([failure](const Error& error) { *failure = error.debugDescription(); }));
    runUntil([&] { return failure->has_value() || done(); }, 120, what);
    if (*failure)
        throw std::runtime_error(std::string(what) + ": " + (*failure)->toStdString());
}

// Checks the document out (it is then listed with the check-in panel above its activity), types
// `keys` letters into the panel's message and returns the time of each until the window had
// nothing left to do; then gives the check-out up. `shownRows` gets the activity rows shown.
std::vector<double> typeIntoCheckIn(Shell& shell, const std::shared_ptr<Document>& document, int& shownRows)
{
    CollectionContentView* content = contentOf(shell);
    QWidget* area = content->activityArea();
    const int before = activityRows(area);
    runTask(
        [document] { return checkOut(document); },
        [&] { return document->isCheckedOut() && content->checkInArea()->isVisible() && activityRows(area) > before; },
        "the check-out");
    settle(1.0);
    auto* editor = content->checkInArea()->findChild<QPlainTextEdit*>();
    if (!editor || !editor->isEnabled())
        throw std::runtime_error("the check-in panel has no message editor to type into");
    // The text cursor blinks on a timer of its own, twice a second whatever is typed: a blink in
    // the quiet after a key would count the wait for it as the key's time.
    const int flashTime = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(0);
    editor->setFocus(Qt::MouseFocusReason);
    settle(0.5);
    shownRows = activityRows(area);

    std::vector<double> times;
    for (int index = 0; index < keys; ++index) {
        const auto start = Clock::now();
        typeKey(editor, Qt::Key_A + index % 26, QString(QChar(u'a' + index % 26)));
        times.push_back(between(start, waitForIdle()));
    }
    if (document->commitMessage().size() != keys)
        throw std::runtime_error("the keys typed did not reach the commit message");
    QApplication::setCursorFlashTime(flashTime);

    runTask([document] { return giveUpCheckOut(document); }, [&] { return !document->isCheckedOut(); },
            "giving the check-out up");
    settle(0.5);
    return times;
}

} // namespace

void measureHistory(const QString& work, Report& report)
{
    note(QStringLiteral("writing a team bundle of two documents of %1 and %2 versions")
             .arg(HistoryTeam::shortVersions)
             .arg(HistoryTeam::longVersions));
    const HistoryTeam history = writeHistoryTeam(work);
    const auto format = [](double value) { return seconds(value); };

    std::vector<double> shorts, longs;
    for (int index = 0; index < runs; ++index) {
        clearLeftovers();
        {
            Shell shell(history.bundle, localFolder(work, QStringLiteral("history-%1").arg(index + 1)));
            showTeam(shell, Clock::now());
            const auto collection = selectCollection(shell, HistoryTeam::collectionName, 2);
            shorts.push_back(clickDocument(shell, documentNamed(*collection, HistoryTeam::shortName)));
            settle(0.5);
            teamOf(shell)->navigation().setSelectedDocument(nullptr);
            settle(0.5);
            longs.push_back(clickDocument(shell, documentNamed(*collection, HistoryTeam::longName)));
            settle(0.5);
        }
        note(QStringLiteral("history run %1: %2 versions shown in %3, %4 versions in %5")
                 .arg(index + 1)
                 .arg(HistoryTeam::shortVersions)
                 .arg(seconds(shorts.back()))
                 .arg(HistoryTeam::longVersions)
                 .arg(seconds(longs.back())));
        settle(0.5); // the closed team bundle's background work
    }
    report.rows.push_back({QStringLiteral("Document of 100 versions clicked → header and activity painted"),
                           seconds(median(shorts)), QStringLiteral("(shown)"), QStringLiteral("info")});
    report.rows.push_back({QStringLiteral("Document of 1,000 versions clicked → header and activity painted"),
                           seconds(median(longs)), QStringLiteral("≤ 100 ms"), verdict(median(longs) <= selectTarget)});
    report.details
        << QStringLiteral("%1 versions clicked: %2").arg(HistoryTeam::shortVersions).arg(runList(shorts, format))
        << QStringLiteral("%1 versions clicked: %2").arg(HistoryTeam::longVersions).arg(runList(longs, format));

    measureLaunch(history, work, report);

    // A teammate's changes, then the check-in panel, in one window showing the long history.
    clearLeftovers();
    Shell shell(history.bundle, localFolder(work, QStringLiteral("changes")));
    showTeam(shell, Clock::now());
    const auto collection = selectCollection(shell, HistoryTeam::collectionName, 2);
    const auto document = documentNamed(*collection, HistoryTeam::longName);
    clickDocument(shell, document);
    teamOf(shell)->bundle()->setPollInterval(changePoll);
    const Clients teammates(work + QStringLiteral("/teammates"), true);
    const auto teammate = teammates.open(history.bundle, QStringLiteral("teammate"));
    settle(1.0);
    const double residentBefore = statusBytes("VmRSS");
    std::vector<double> busy, stalls, shown;
    for (int round = 1; round <= changes; ++round) {
        const ChangeFigures figures = teammateChange(shell, *teammate, history, round);
        note(QStringLiteral("teammate's version %1: shown after %2, interface thread busy %3, longest stall %4")
                 .arg(round)
                 .arg(seconds(figures.shown), seconds(figures.busy), seconds(figures.stall)));
        busy.push_back(figures.busy);
        stalls.push_back(figures.stall);
        shown.push_back(figures.shown);
        settle(0.5);
    }
    settle(1.0);
    const double residentAfter = statusBytes("VmRSS");
    const double growth = residentAfter - residentBefore;
    report.rows.push_back(
        {QStringLiteral("Teammate's version of the shown 1,000-version document: interface thread busy"),
         medianAndWorst(busy), QStringLiteral("≤ 16 ms"), verdict(median(busy) <= frameTarget)});
    report.rows.push_back({QStringLiteral("  longest stall of the interface thread meanwhile"), medianAndWorst(stalls),
                           QStringLiteral("(shown)"), QStringLiteral("info")});
    report.rows.push_back({QStringLiteral("  VmRSS growth after %1 such versions").arg(changes), mebibytes(growth, 1),
                           QStringLiteral("≤ 5 MiB"), verdict(growth <= memoryTarget)});
    report.details << QStringLiteral("teammate's versions, busy: %1").arg(runList(busy, format))
                   << QStringLiteral("teammate's versions, longest stall: %1").arg(runList(stalls, format))
                   << QStringLiteral("teammate's versions, shown after (poll every %1 ms): %2")
                          .arg(changePoll.count())
                          .arg(runList(shown, format))
                   << QStringLiteral("VmRSS before the teammate's versions %1, after %2")
                          .arg(mebibytes(residentBefore, 1), mebibytes(residentAfter, 1));

    int shownRows = 0;
    const std::vector<double> typed = typeIntoCheckIn(shell, document, shownRows);
    note(QStringLiteral("check-in panel keys: %1").arg(runList(typed, format)));
    report.rows.push_back({QStringLiteral("Key typed into the check-in message, %1 activity rows shown").arg(shownRows),
                           medianAndWorst(typed), QStringLiteral("≤ 16 ms"), verdict(median(typed) <= frameTarget)});
    report.details << QStringLiteral("check-in panel keys: %1").arg(runList(typed, format));
}

} // namespace vantrel::bench
