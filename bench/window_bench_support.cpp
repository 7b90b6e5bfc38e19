#include "bench/window_bench_support.h"

#include "desktop/system_services.h"
#include "model/collection.h"
#include "model/document.h"
#include "open_team/navigation_model.h"
#include "open_team/team.h"
#include "views/team/collection_content_view.h"
#include "views/team/team_view.h"

#include <QAbstractItemView>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QScrollArea>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <stdexcept>

namespace vantrel::bench {

void waitUntil(const std::function<bool()>& done, double timeout, const char* what)
{
    const auto start = Clock::now();
    while (!done()) {
        if (secondsSince(start) > timeout)
            throw std::runtime_error(std::string("timed out waiting for ") + what);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
}

void settle(double seconds)
{
    const auto start = Clock::now();
    while (secondsSince(start) < seconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

bool isWithin(const QWidget* widget, const QWidget* ancestor)
{
    for (; widget; widget = widget->parentWidget()) {
        if (widget == ancestor)
            return true;
    }
    return false;
}

PaintWatch::PaintWatch()
{
    qApp->installEventFilter(this);
}

PaintWatch::~PaintWatch()
{
    qApp->removeEventFilter(this);
}

bool PaintWatch::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Paint || m_delivering || !counts || !watched->isWidgetType())
        return false;
    m_delivering = true;
    QCoreApplication::sendEvent(watched, event);
    m_delivering = false;
    counts(static_cast<QWidget*>(watched));
    return true;
}

BenchApplication::BenchApplication(int& argc, char** argv) : QApplication(argc, argv) {}

BenchApplication& BenchApplication::instance()
{
    return *static_cast<BenchApplication*>(QCoreApplication::instance());
}

bool BenchApplication::notify(QObject* receiver, QEvent* event)
{
    // Only the interface thread's own events, each counted once with what it delivers inside it.
    if (m_depth > 0 || receiver == m_ignored || QThread::currentThread() != thread())
        return QApplication::notify(receiver, event);
    const auto start = Clock::now();
    ++m_depth;
    bool result = false;
    try {
        result = QApplication::notify(receiver, event);
    } catch (...) {
        --m_depth;
        throw;
    }
    --m_depth;
    m_lastEnd = Clock::now();
    m_busy += std::chrono::duration<double>(m_lastEnd - start).count();
    return result;
}

double runUntil(const std::function<bool()>& done, double timeout, const char* what)
{
    if (done())
        return 0;
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    BenchApplication& app = BenchApplication::instance();
    app.ignore(&tick);
    const auto start = Clock::now();
    auto last = start;
    double stall = 0;
    bool timedOut = false;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const auto now = Clock::now();
        stall = std::max(stall, std::chrono::duration<double>(now - last).count());
        last = now;
        if (done())
            loop.quit();
        else if (std::chrono::duration<double>(now - start).count() > timeout) {
            timedOut = true;
            loop.quit();
        }
    });
    tick.start();
    loop.exec();
    app.ignore(nullptr);
    if (timedOut)
        throw std::runtime_error(std::string("timed out waiting for ") + what);
    return stall;
}

Clock::time_point waitForIdle(double quiet, double* stall)
{
    BenchApplication& app = BenchApplication::instance();
    const double longest =
        runUntil([&] { return std::chrono::duration<double>(Clock::now() - app.lastEventEnd()).count() >= quiet; }, 300,
                 "the window to have nothing left to do");
    if (stall)
        *stall = longest;
    return app.lastEventEnd();
}

double clearLeftovers()
{
    // At most a minute for the workers: work that never ends there is reported by the wait, not by
    // a hang.
    constexpr double longest = 60;
    const auto start = Clock::now();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    runUntil([&] { return QThreadPool::globalInstance()->activeThreadCount() == 0 || secondsSince(start) > longest; },
             2 * longest, "the worker threads to finish");
    waitForIdle(0.2);
    return secondsSince(start);
}

void typeKey(QWidget* target, int key, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &release);
}

QAbstractScrollArea* activityView(const QWidget* area)
{
    return area ? area->findChild<QAbstractScrollArea*>() : nullptr;
}

int activityRows(const QWidget* area)
{
    QAbstractScrollArea* view = activityView(area);
    if (const auto* list = qobject_cast<QAbstractItemView*>(view))
        return list->model() ? list->model()->rowCount() : 0;
    const auto* scroll = qobject_cast<QScrollArea*>(view);
    if (!scroll || !scroll->widget())
        return 0;
    int rows = 0;
    for (const QObject* child : scroll->widget()->children()) {
        if (child->isWidgetType() && !static_cast<const QWidget*>(child)->isHidden())
            ++rows;
    }
    return rows;
}

bool activityPainted(const QWidget* area, const QWidget* widget, int before)
{
    const QAbstractScrollArea* view = activityView(area);
    return view && isWithin(widget, view->viewport()) && activityRows(area) > before;
}

QString localFolder(const QString& work, const QString& name)
{
    const QString folder = work + QStringLiteral("/local-") + name;
    QDir().mkpath(folder);
    return folder;
}

QString medianAndWorst(const std::vector<double>& values)
{
    return QStringLiteral("%1 (worst %2)").arg(seconds(median(values)), seconds(*std::ranges::max_element(values)));
}

Shell::Shell(const QString& bundle, const QString& local, const std::optional<ItemSelection>& restored)
{
    storage->set(bundle, TeamBundle::pathStorageKey);
    if (restored)
        storage->setCodableValue(restored, NavigationModel::itemSelectionKey);
    files = std::make_shared<SystemFileManager>(local + QStringLiteral("/data"), local + QStringLiteral("/cache"),
                                                local + QStringLiteral("/downloads"));
    setup = std::make_unique<TeamSetup>(
        QStringLiteral("vantrel"), [](const QUrl&) { return completedTask(); }, &alert, &sheet, &confirmation,
        &progress, storage, &importer, files, std::make_shared<RecordingWorkspace>());
    window = std::make_unique<TeamWindow>(setup.get(), QIcon());
}

Shell::~Shell()
{
    window.reset();
    setup.reset();
}

double showTeam(Shell& shell, Clock::time_point start)
{
    waitUntil([&] { return shell.setup->state().kind() == TeamSetup::State::Case::loaded; }, 120, "the team to load");
    const double loaded = secondsSince(start);
    shell.window->resize(TeamWindow::defaultSize);
    shell.window->show();
    const auto team = teamOf(shell);
    waitUntil(
        [&] {
            return shell.window->windowHandle() && shell.window->windowHandle()->isExposed() && shell.window->teamView()
                   && !team->collections().all().isEmpty();
        },
        60, "the window with its collections");
    settle(0.5);
    return loaded;
}

std::shared_ptr<Team> teamOf(const Shell& shell)
{
    return shell.setup->state().team();
}

CollectionContentView* contentOf(const Shell& shell)
{
    TeamView* view = shell.window->teamView();
    return view ? qobject_cast<CollectionContentView*>(view->detail()) : nullptr;
}

std::shared_ptr<Collection> selectCollection(Shell& shell, const QString& name, int count)
{
    const auto team = teamOf(shell);
    std::shared_ptr<Collection> collection;
    for (const auto& candidate : team->collections().all()) {
        if (candidate->name() == name)
            collection = candidate;
    }
    if (!collection)
        throw std::runtime_error("no collection " + name.toStdString());
    collection->setSelectedItem(nullptr);
    team->navigation().setSelectedCollection(collection);
    waitUntil([&] { return contentOf(shell) && collection->nestedItems().size() == count; }, 120,
              "the collection's documents");
    settle(0.5);
    return collection;
}

std::shared_ptr<Document> documentNamed(const Collection& collection, const QString& name)
{
    for (const auto& document : collection.nestedItems()) {
        if (document->name() == name)
            return document;
    }
    throw std::runtime_error("no document " + name.toStdString());
}

} // namespace vantrel::bench
