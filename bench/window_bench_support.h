// What the parts of window_bench share: the team window as the application builds it, the
// watch of paints, the event loop run until something happened or until it has nothing left to
// do, the time the interface thread spends on events, keys typed into a widget, and the report.

#pragma once

#include "bench/bench_support.h"

#include "model/item_selection.h"
#include "model/key_value_storage.h"
#include "open_team/team_setup.h"
#include "views/team/team_window.h"

#include <QApplication>

#include <functional>
#include <memory>
#include <optional>

class QAbstractScrollArea;

namespace vantrel {
class Collection;
class CollectionContentView;
class Document;
class Team;
} // namespace vantrel

namespace vantrel::bench {

// Runs the event loop until `done` holds, checked after every event handled by a watcher and
// every 10 ms; throws after `timeout` seconds.
void waitUntil(const std::function<bool()>& done, double timeout, const char* what);

// Lets the window finish whatever it started (loads, animations, paints) for `seconds`.
void settle(double seconds);

bool isWithin(const QWidget* widget, const QWidget* ancestor);

// Watches every paint of the application. A paint for which `counts` holds is delivered at once
// from the filter, so that the time taken is when that widget has painted, not when it is about to.
class PaintWatch final : public QObject {
public:
    std::function<void(QWidget*)> counts;

    PaintWatch();
    ~PaintWatch() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_delivering = false;
};

// The application, which also measures how long its interface thread is busy: every event it
// delivers on that thread outside another one (a paint, a timer, a queued call, a key) counts
// from its start to its end. Events for the meter's own timer do not count.
class BenchApplication final : public QApplication {
public:
    BenchApplication(int& argc, char** argv);

    static BenchApplication& instance();

    // Seconds spent in events since the start.
    double busy() const { return m_busy; }
    // When the last event that counted ended.
    Clock::time_point lastEventEnd() const { return m_lastEnd; }
    // Events for `receiver` are not counted.
    void ignore(const QObject* receiver) { m_ignored = receiver; }

    bool notify(QObject* receiver, QEvent* event) override;

private:
    int m_depth = 0;
    double m_busy = 0;
    Clock::time_point m_lastEnd = Clock::now();
    const QObject* m_ignored = nullptr;
};

// Runs the event loop, asleep while it has nothing to do, until `done` holds: a timer ticking
// every millisecond asks. Returns the longest time between two ticks, how long the interface
// thread was at most kept from coming back to its loop. Throws after `timeout` seconds.
double runUntil(const std::function<bool()>& done, double timeout, const char* what);

// Runs the event loop until no event has been handled for `quiet` seconds; returns when the
// last one ended. Its longest stall (as runUntil()) goes to `stall` when given.
Clock::time_point waitForIdle(double quiet = 0.05, double* stall = nullptr);

// Lets what a window closed before left behind finish before the next one is timed: its
// widgets deleted later, the events it queued for the interface thread, the work it left on the
// application's worker threads (reading, closing its team bundle; a minute at most). Any of it
// would slow the next window, above all its opening. Returns the seconds it waited.
double clearLeftovers();

// A key typed into `target`: its press and release, delivered at once.
void typeKey(QWidget* target, int key, const QString& text);

// The rows the activity column within `area` shows, and the widget they are painted in: the
// first scrolling view in it, either a list view over a model (its rows) or a scroll area of
// row widgets (those shown). Zero and null while there is none.
int activityRows(const QWidget* area);
QAbstractScrollArea* activityView(const QWidget* area);
// Whether `widget`, just painted, is the activity column's view or within it, while it shows
// more than `before` rows.
bool activityPainted(const QWidget* area, const QWidget* widget, int before);

// One team setup and window over a team bundle, as the application builds them, with settings in
// memory and local folders of its own; with a selection stored as the one to restore.
struct Shell {
    Shell(const QString& bundle, const QString& local, const std::optional<ItemSelection>& restored = std::nullopt);
    ~Shell();

    std::shared_ptr<KeyValueStoragePreview> storage = std::make_shared<KeyValueStoragePreview>();
    std::shared_ptr<FileManaging> files;
    AlertModel alert;
    SheetModel sheet;
    ConfirmationDialogModel confirmation;
    ToolbarProgressIndicator progress;
    FileImporter importer;
    std::unique_ptr<TeamSetup> setup;
    std::unique_ptr<TeamWindow> window;
};

// Waits for the shell's team to load, then shows its window at the default size, waits until it
// is on screen with its collections and lets it settle. Returns the seconds until the team was
// loaded, counted from `start`.
double showTeam(Shell& shell, Clock::time_point start);
std::shared_ptr<Team> teamOf(const Shell& shell);
// The detail of the selected collection; null while another detail is shown.
CollectionContentView* contentOf(const Shell& shell);

// Selects the collection called `name` as a click on its row does and waits until its `count`
// documents are loaded and listed, then lets the window settle.
std::shared_ptr<Collection> selectCollection(Shell& shell, const QString& name, int count);
// The document called `name` among the collection's.
std::shared_ptr<Document> documentNamed(const Collection& collection, const QString& name);

// A new folder `name` in `work` for a shell's local folders.
QString localFolder(const QString& work, const QString& name);

// What a part of the benchmark found: rows of the table, then lines of details.
struct Report {
    std::vector<Row> rows;
    QStringList details;
};

// "<median> (worst <largest>)", in seconds.
QString medianAndWorst(const std::vector<double>& values);

// The team of the history measures: one collection, "Edits", of two documents with long
// histories; and an empty team to launch beside it.
struct HistoryTeam {
    static constexpr int shortVersions = 100;
    static constexpr int longVersions = 1000;
    static inline const QString collectionName = QStringLiteral("Edits");
    static inline const QString shortName = QStringLiteral("Edit 100");
    static inline const QString longName = QStringLiteral("Edit 1000");

    QString bundle;
    QString emptyBundle;
    IdFor<VersionBundle> collection;
    IdFor<VersionBundle> longDocument;
    DocumentType type = DocumentType::kdenliveProject();
    ContentHash manifest;
};

// The parts over small teams with long histories and many candidates.
void measureHistory(const QString& work, Report& report);
void measureLaunch(const HistoryTeam& history, const QString& work, Report& report);
// A launch measured in a process of its own: `window_bench --launch BUNDLE LOCAL [COLLECTION
// DOCUMENT]` prints "launched <seconds painted> <seconds loaded> <VmHWM bytes>".
int runLaunch(const QStringList& arguments);
void measureAddExisting(const QString& work, Report& report);

} // namespace vantrel::bench
