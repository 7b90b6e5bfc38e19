#include "views/detail/activity_feed.h"

#include "actions/item_actions.h"
#include "actions/selected_item_commands.h"
#include "design/button_styles.h"
#include "design/icon_provider.h"
#include "design/palette.h"
#include "engine/team_bundle.h"
#include "foundation/observable_object.h"
#include "foundation/task_starter.h"
#include "foundation/worker.h"
#include "model/document.h"
#include "model/strings.h"
#include "open_team/navigation_model.h"
#include "views/detail/activity_action_buttons.h"
#include "views/detail/activity_app_versions.h"
#include "views/detail/activity_row.h"
#include "views/detail/activity_spacer.h"
#include "views/detail/detail_look.h"

#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
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
    layout->setSpacing(16);

    m_title = plainLabel(this);
    m_title->setObjectName(QStringLiteral("activityTitle"));
    QFont titleFont = font();
    titleFont.setPixelSize(15);
    titleFont.setWeight(QFont::DemiBold);
    m_title->setFont(titleFont);
    setTextColor(*m_title, design::neutral(0));
    layout->addWidget(m_title);

    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setObjectName(QStringLiteral("activityScrollArea"));
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->viewport()->setAutoFillBackground(false);
    m_list = new QWidget;
    m_rowsLayout = new QVBoxLayout(m_list);
    m_rowsLayout->setContentsMargins(0, 0, 32, 0);
    m_rowsLayout->setSpacing(0);
    m_rowsLayout->addStretch(1);
    m_scrollArea->setWidget(m_list);
    m_list->setAutoFillBackground(false); // after setWidget(), which turns it on
    layout->addWidget(m_scrollArea, 1);

    m_scroll = new QPropertyAnimation(m_scrollArea->verticalScrollBar(), "value", this);
    m_scroll->setDuration(250);
    m_scroll->setEasingCurve(QEasingCurve::InOutQuad);

    for (auto signal : {&NavigationModel::focusChanged, &NavigationModel::selectedEventChanged,
                        &NavigationModel::selectedDocumentChanged, &NavigationModel::selectedCollectionChanged})
        connect(&m_navigation, signal, this, &ActivityFeed::followFocus);
    m_title->hide();
    m_scrollArea->hide();
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
    m_activities.clear();
    m_appVersions.clear();
    m_appVersionsPending.clear();
    // Another item: where the last one's list was scrolled to means nothing now.
    m_scroll->stop();
    clearRows();
    m_title->setVisible(m_item != nullptr);
    m_scrollArea->setVisible(m_item != nullptr);
    if (!m_item)
        return;
    m_title->setText(m_item->documentType().isEvent() ? Strings::eventActivityTitle() : Strings::activityTitle());
    if (auto* observable = qobject_cast<ObservableObject*>(m_item->object())) {
        // The lock and the current version decide the rows' controls: the change is read once
        // it is made.
        m_itemChanged = connect(observable, &ObservableObject::objectWillChange, this, &ActivityFeed::scheduleRebuild,
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
    m_activities = activities;
    rebuildRows();
    checkAppVersions();
    scrollToTop();
}

// A rebuild of the same item's rows leaves a scroll to the top running: the newest row is what
// the user is to see.
void ActivityFeed::clearRows()
{
    for (ActivityRow* row : std::as_const(m_rows)) {
        m_rowsLayout->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    m_rows.clear();
}

void ActivityFeed::scheduleRebuild()
{
    if (m_rebuildQueued)
        return;
    m_rebuildQueued = true;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            m_rebuildQueued = false;
            if (generation == m_generation && !m_activities.isEmpty())
                rebuildRows();
        },
        Qt::QueuedConnection);
}

void ActivityFeed::rebuildRows()
{
    clearRows();
    // First and last are places in the list: two entries that compare equal are still two rows.
    for (qsizetype index = 0; index < m_activities.size(); ++index) {
        const ActivityInfo& activity = m_activities.at(index);
        const bool isFirst = index == 0;
        const bool isLast = index == m_activities.size() - 1;
        auto* row =
            new ActivityRow(activity, makeActionButtons(activity), makeForceUnlock(activity, isFirst), isFirst, isLast);
        m_rowsLayout->insertWidget(m_rowsLayout->count() - 1, row);
        row->show();
        // A row rebuilt under the pointer keeps its buttons shown.
        row->setHover(row->isVisible() && row->rect().contains(row->mapFromGlobal(QCursor::pos())));
        m_rows.append(row);
    }
    showAppVersions();
    emit rowsChanged();
}

void ActivityFeed::scrollToTop()
{
    if (m_rows.isEmpty())
        return;
    QScrollBar* bar = m_scrollArea->verticalScrollBar();
    m_scroll->stop();
    if (bar->value() == bar->minimum())
        return;
    m_scroll->setStartValue(bar->value());
    m_scroll->setEndValue(bar->minimum());
    m_scroll->start();
}

void ActivityFeed::showAppVersions()
{
    for (ActivityRow* row : std::as_const(m_rows))
        row->setIncompatibleAppVersion(m_appVersions.value(row->activity().versionID));
}

void ActivityFeed::checkAppVersions()
{
    const auto aware = std::dynamic_pointer_cast<AppVersionAware>(m_item);
    if (!aware)
        return;
    QList<IdFor<Versions>> missing;
    for (const ActivityInfo& activity : std::as_const(m_activities)) {
        if (!m_appVersions.contains(activity.versionID) && !m_appVersionsPending.contains(activity.versionID)
            && !missing.contains(activity.versionID))
            missing.append(activity.versionID);
    }
    if (missing.isEmpty())
        return;
    for (const auto& version : std::as_const(missing))
        m_appVersionsPending.insert(version);
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
        m_appVersions.insert(it.key(), it.value());
    }
    showAppVersions();
    emit appVersionsChecked();
}

QWidget* ActivityFeed::makeActionButtons(const ActivityInfo& activity)
{
    if (!activity.allowsVersionActions)
        return nullptr;
    const auto item = m_item;
    const auto* lockable = dynamic_cast<const Lockable*>(item.get());
    const bool locked = lockable && lockable->isLocked();
    const bool revertEnabled = !locked && !isCurrent(activity);
    const std::weak_ptr<VersionedItem> weak = item;
    const IdFor<Versions> version = activity.versionID;

    ActivityActionButtons::Actions actions;
    const RevertItemAction revert = m_actions.revert();
    actions.revert = [revert, weak, version] {
        const auto item = weak.lock();
        if (!item)
            return;
        revert.showConfirmation(ConfirmationDialog(ConfirmationDialog::ConfirmRevert{item, [revert, weak, version] {
                                                                                         if (const auto item =
                                                                                                 weak.lock())
                                                                                             revert(item, version);
                                                                                     }}));
    };
    if (const auto document = std::dynamic_pointer_cast<Document>(item)) {
        const std::weak_ptr<Document> weakDocument = document;
        const OpenItemCopyAction openCopy = m_actions.openCopy();
        actions.openCopy = [openCopy, weakDocument, version] {
            if (const auto document = weakDocument.lock())
                SelectedItemCommands::openCopy(document, version, openCopy);
        };
        const ExportItemAction exportVersion = m_actions.exportVersion();
        actions.exportVersion = [exportVersion, weak, version] {
            if (const auto item = weak.lock())
                SelectedItemCommands::exportItem(item, version, exportVersion);
        };
    }
    return new ActivityActionButtons(std::move(actions), revertEnabled);
}

QWidget* ActivityFeed::makeForceUnlock(const ActivityInfo& activity, bool isFirst)
{
    const auto document = std::dynamic_pointer_cast<Document>(m_item);
    if (!document || !isFirst || !document->isLocked() || document->lockedByCurrentInitiator() || !isCurrent(activity))
        return nullptr;
    auto* control = new QWidget;
    control->setObjectName(QStringLiteral("activityForceUnlock"));
    control->setFixedHeight(32);
    auto* layout = new QHBoxLayout(control);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new ActivitySpacer(ActivitySpacer::Position::middle, control));
    auto* button = new QPushButton(design::IconProvider::icon(QStringLiteral("lock.open"), design::neutral(1)),
                                   Strings::forceUnlockButtonTitle(), control);
    button->setObjectName(QStringLiteral("forceUnlockButton"));
    design::SmallSecondaryActionButtonLabelStyle().apply(*button);
    design::SmallSecondaryActionButtonStyle().apply(*button);
    layout->addWidget(button);
    layout->addStretch(1);
    const ForceUnlockItemAction forceUnlock = m_actions.forceUnlock();
    const std::weak_ptr<Document> weak = document;
    connect(button, &QPushButton::clicked, control, [forceUnlock, weak] {
        const auto document = weak.lock();
        if (!document)
            return;
        forceUnlock.showConfirmation(
            ConfirmationDialog(ConfirmationDialog::ConfirmForceUnlock{document, [forceUnlock, weak] {
                                                                          if (const auto document = weak.lock())
                                                                              forceUnlock(document);
                                                                      }}));
    });
    return control;
}

} // namespace vantrel
