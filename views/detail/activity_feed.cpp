#include "views/detail/activity_feed.h"

#include "design/palette.h"
#include "design/scroll_bars.h"
#include "engine/team_bundle.h"
#include "foundation/observable_object.h"
#include "foundation/task_starter.h"
#include "foundation/worker.h"
#include "model/document.h"
#include "model/strings.h"
#include "open_team/navigation_model.h"
#include "views/detail/activity_action_buttons.h"
#include "views/detail/activity_app_versions.h"
#include "views/detail/activity_controls.h"
#include "views/detail/activity_item.h"
#include "views/detail/activity_item_delegate.h"
#include "views/detail/activity_list_model.h"
#include "views/detail/detail_look.h"

#include <QCursor>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMap>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QVBoxLayout>

namespace vantrel {

namespace {

using AppVersions = QHash<IdFor<Versions>, std::optional<QString>>;

bool isCurrent(const ActivityInfo& activity)
{
    return activity.isCurrent && activity.isCurrent();
}

// Reads the application versions off the interface thread and hands them to the feed, if it is
// still there.
QCoro::Task<> readAppVersions(QPointer<ActivityFeed> feed, std::shared_ptr<VersioningService> service,
                              std::optional<InstalledApplication> installed, QList<IdFor<Versions>> versions,
                              std::function<void(const AppVersions&)> deliver)
{
    auto team = service->teamBundle();
    auto logFailure = [team](const QString& message) {
        if (team)
            team->log().event(message, QStringLiteral("ActivityFeed::checkAppVersions"), Logger::Level::warning);
    };
    auto work = [service, installed, versions, logFailure] {
        return differingAppVersions(*service, installed, versions, logFailure);
    };
    const AppVersions found = co_await onWorker(std::move(work));
    if (feed)
        deliver(found);
}

} // namespace

ActivityFeed::ActivityFeed(NavigationModel& navigation, ItemActions& itemActions, QWidget* parent)
    : QWidget(parent),
      m_navigation(navigation),
      m_actions(itemActions)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The stack's own spacing of 8 and the list's 16 at its top: the first row stands 24 below
    // the title.
    layout->setSpacing(24);

    m_title = plainLabel(this);
    m_title->setObjectName(QStringLiteral("activityTitle"));
    QFont titleFont = font();
    titleFont.setPixelSize(15);
    titleFont.setWeight(QFont::DemiBold);
    m_title->setFont(titleFont);
    setTextColor(*m_title, design::neutral(0));
    layout->addWidget(m_title);

    m_model = new ActivityListModel(this);
    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("activityList"));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Taken by a click or Tab so that the reading keys scroll the feed, never the document list.
    // The row the view makes current (Tab makes it the first) is not scrolled to, and the rows
    // take no focus themselves, so a list arriving later never moves the focus or the feed.
    m_list->setFocusPolicy(Qt::StrongFocus);
    m_list->setAutoScroll(false);
    m_list->installEventFilter(this);
    m_list->setAutoFillBackground(false);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setMouseTracking(false);
    m_delegate = new ActivityItemDelegate(
        *m_model, *m_list, [this](int row, QWidget* parent) { return makeRow(row, parent); }, this);
    m_list->setItemDelegate(m_delegate);
    m_list->setModel(m_model);
    m_list->viewport()->installEventFilter(this);
    layout->addWidget(m_list, 1);

    QScrollBar* bar = m_list->verticalScrollBar();
    design::makeSlim(*bar);
    // Built before the next paint, so a row scrolled into view never shows empty.
    connect(bar, &QScrollBar::valueChanged, this, &ActivityFeed::syncRows);
    connect(bar, &QScrollBar::rangeChanged, this, &ActivityFeed::syncRows);
    // The rows End brought into view measure themselves and may grow the list: it stays at its end.
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (value != bar->maximum())
            m_keepEnd = false;
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_keepEnd)
            bar->setValue(maximum);
    });
    m_scroll = new QPropertyAnimation(bar, "value", this);
    m_scroll->setDuration(250);
    m_scroll->setEasingCurve(QEasingCurve::InOutQuad);

    for (auto signal : {&NavigationModel::focusChanged, &NavigationModel::selectedEventChanged,
                        &NavigationModel::selectedDocumentChanged, &NavigationModel::selectedCollectionChanged})
        connect(&m_navigation, signal, this, &ActivityFeed::followFocus);
    m_title->hide();
    m_list->hide();
    followFocus();
}

ActivityFeed::~ActivityFeed() = default;

void ActivityFeed::followFocus()
{
    auto focused = m_navigation.focusedItem();
    if (focused == m_item)
        return;
    ++m_generation;
    m_subscription.cancel();
    disconnect(m_itemChanged);
    m_item = std::move(focused);
    m_keepEnd = false;
    m_appVersionsKnown.clear();
    m_appVersionsPending.clear();
    // Another item: where the last one's list was scrolled to means nothing now.
    m_scroll->stop();
    closeAllRows();
    m_model->clear();
    m_delegate->setShareMenu(std::dynamic_pointer_cast<Document>(m_item) != nullptr);
    m_title->setVisible(m_item != nullptr);
    m_list->setVisible(m_item != nullptr);
    if (!m_item)
        return;
    m_title->setText(m_item->documentType().isEvent() ? Strings::eventActivityTitle() : Strings::activityTitle());
    if (auto* observable = qobject_cast<ObservableObject*>(m_item->object())) {
        // The lock and the current version decide the rows' controls: the change is read once
        // it is made.
        m_itemChanged = connect(observable, &ObservableObject::objectWillChange, this, &ActivityFeed::scheduleRefresh,
                                Qt::QueuedConnection);
    }
    const std::weak_ptr<VersionedItem> weak = m_item;
    QPointer<ActivityFeed> self(this);
    m_subscription = m_item->activitiesPublisher().receiveOn(this).sink([self, weak](const QList<ActivityInfo>& list) {
        if (const auto item = weak.lock(); self && item)
            self->receive(item, list);
    });
}

void ActivityFeed::receive(const std::shared_ptr<VersionedItem>& item, const QList<ActivityInfo>& activities)
{
    if (!item || item != m_item || item != m_navigation.focusedItem())
        return;
    m_model->setActivities(activities);
    refreshForceUnlock();
    syncRows();
    checkAppVersions();
    scrollToTop();
    emit rowsChanged();
}

void ActivityFeed::scheduleRefresh()
{
    if (m_refreshQueued)
        return;
    m_refreshQueued = true;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            m_refreshQueued = false;
            if (generation == m_generation)
                refreshState();
        },
        Qt::QueuedConnection);
}

// The item changed but its list did not: only the controls that read the item's state can
// differ, and only the built rows show them.
void ActivityFeed::refreshState()
{
    refreshForceUnlock();
    for (ActivityItem* row : shownRows())
        row->setRevertEnabled(revertEnabled(row->activity()));
    syncRows();
}

void ActivityFeed::refreshForceUnlock()
{
    m_model->setForceUnlockOnFirst(m_model->rowCount() > 0 && offersForceUnlock(m_model->activity(0)));
}

bool ActivityFeed::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        m_scroll->stop(); // the reader takes over from the scroll to the top
        const auto* key = static_cast<QKeyEvent*>(event);
        if (design::scrollByKey(*m_list->verticalScrollBar(), *key)) {
            m_keepEnd = key->key() == Qt::Key_End;
            return true;
        }
    }
    if (watched == m_list->viewport() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        QMetaObject::invokeMethod(this, &ActivityFeed::syncRows, Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

// Builds the rows in view and one either side, drops the others, and rebuilds a built row whose
// activity or force-unlock control is no longer the model's.
void ActivityFeed::syncRows()
{
    const int count = m_model->rowCount();
    int first = 0;
    int last = -1;
    if (count > 0 && m_list->isVisible()) {
        const QRect view = m_list->viewport()->rect();
        const QModelIndex top = m_list->indexAt(QPoint(0, view.top()));
        const QModelIndex bottom = m_list->indexAt(QPoint(0, view.bottom()));
        first = std::max(0, (top.isValid() ? top.row() : 0) - 1);
        last = std::min(count - 1, (bottom.isValid() ? bottom.row() : count - 1) + 1);
    }
    QList<QPersistentModelIndex> kept;
    for (const QPersistentModelIndex& index : std::as_const(m_shown)) {
        if (!index.isValid())
            continue;
        auto* row = qobject_cast<ActivityItem*>(m_list->indexWidget(index));
        const bool inView = index.row() >= first && index.row() <= last;
        const bool current = row && row->activity() == m_model->activity(index.row())
                             && row->hasForceUnlock() == m_model->offersForceUnlock(index.row());
        if (inView && current && !kept.contains(index)) {
            kept.append(index);
            continue;
        }
        m_list->closePersistentEditor(index);
    }
    m_shown = kept;
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = m_model->index(row);
        if (!m_list->isPersistentEditorOpen(index))
            openRow(row);
    }
}

void ActivityFeed::openRow(int row)
{
    const QModelIndex index = m_model->index(row);
    m_list->openPersistentEditor(index);
    m_shown.append(QPersistentModelIndex(index));
    auto* item = qobject_cast<ActivityItem*>(m_list->indexWidget(index));
    if (!item)
        return;
    // The measured height is checked against the built row; a difference corrects the layout.
    m_delegate->correctHeight(row, item->heightForWidth(m_delegate->rowWidth()));
    // A row built under the pointer shows its buttons at once.
    item->setHover(item->rect().contains(item->mapFromGlobal(QCursor::pos())));
}

void ActivityFeed::closeAllRows()
{
    for (const QPersistentModelIndex& index : std::as_const(m_shown)) {
        if (index.isValid())
            m_list->closePersistentEditor(index);
    }
    m_shown.clear();
}

QList<ActivityItem*> ActivityFeed::shownRows() const
{
    QMap<int, ActivityItem*> rows;
    for (const QPersistentModelIndex& index : m_shown) {
        if (auto* row = index.isValid() ? qobject_cast<ActivityItem*>(m_list->indexWidget(index)) : nullptr)
            rows.insert(index.row(), row);
    }
    return rows.values();
}

ActivityItem* ActivityFeed::shownRow(int row) const
{
    return qobject_cast<ActivityItem*>(m_list->indexWidget(m_model->index(row)));
}

ActivityItem* ActivityFeed::showRow(int row)
{
    m_scroll->stop();
    m_list->scrollTo(m_model->index(row), QAbstractItemView::EnsureVisible);
    syncRows();
    return shownRow(row);
}

ActivityItem* ActivityFeed::makeRow(int row, QWidget* parent)
{
    const ActivityInfo& activity = m_model->activity(row);
    auto* item = new ActivityItem(activity, makeActionButtons(activity),
                                  m_model->offersForceUnlock(row)
                                      ? makeForceUnlockControl(std::dynamic_pointer_cast<Document>(m_item), m_actions)
                                      : nullptr,
                                  m_model->isFirst(row), m_model->isLast(row), parent);
    item->setIncompatibleAppVersion(m_model->appVersion(row));
    return item;
}

void ActivityFeed::scrollToTop()
{
    if (m_model->rowCount() == 0)
        return;
    QScrollBar* bar = m_list->verticalScrollBar();
    m_scroll->stop();
    m_keepEnd = false;
    if (bar->value() == bar->minimum())
        return;
    m_scroll->setStartValue(bar->value());
    m_scroll->setEndValue(bar->minimum());
    m_scroll->start();
}

void ActivityFeed::checkAppVersions()
{
    const auto aware = std::dynamic_pointer_cast<AppVersionAware>(m_item);
    if (!aware)
        return;
    QList<IdFor<Versions>> missing;
    QSet<IdFor<Versions>> asked;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const IdFor<Versions>& version = m_model->activity(row).versionID;
        if (!m_appVersionsKnown.contains(version) && !m_appVersionsPending.contains(version)
            && !asked.contains(version)) {
            asked.insert(version);
            missing.append(version);
        }
    }
    if (missing.isEmpty())
        return;
    m_appVersionsPending.unite(asked);
    QPointer<ActivityFeed> self(this);
    const quint64 generation = m_generation;
    auto service = aware->versioningService();
    auto installed = aware->application().installed;
    auto deliver = [self, generation](const AppVersions& found) {
        if (self)
            self->applyAppVersions(generation, found);
    };
    startTask(
        std::nullopt,
        [self, service, installed, missing, deliver] {
            return readAppVersions(self, service, installed, missing, deliver);
        },
        handleError([](const Error&) {}));
}

void ActivityFeed::applyAppVersions(quint64 generation, const AppVersions& found)
{
    if (generation != m_generation)
        return;
    for (auto it = found.begin(); it != found.end(); ++it) {
        m_appVersionsPending.remove(it.key());
        m_appVersionsKnown.insert(it.key());
    }
    m_model->setAppVersions(found);
    syncRows();
    emit appVersionsChecked();
}

bool ActivityFeed::revertEnabled(const ActivityInfo& activity) const
{
    const auto* lockable = dynamic_cast<const Lockable*>(m_item.get());
    const bool locked = lockable && lockable->isLocked();
    return !locked && !isCurrent(activity);
}

bool ActivityFeed::offersForceUnlock(const ActivityInfo& activity) const
{
    const auto document = std::dynamic_pointer_cast<Document>(m_item);
    return document && document->isLocked() && !document->lockedByCurrentInitiator() && isCurrent(activity);
}

ActivityActionButtons* ActivityFeed::makeActionButtons(const ActivityInfo& activity)
{
    if (!activity.allowsVersionActions)
        return nullptr;
    return makeVersionButtons(m_item, activity.versionID, revertEnabled(activity), m_actions);
}

} // namespace vantrel
