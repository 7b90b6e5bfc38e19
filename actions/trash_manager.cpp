#include "actions/trash_manager.h"

#include "engine/team_bundle.h"
#include "engine/version_bundles.h"
#include "foundation/task_starter.h"
#include "model/strings.h"
#include "model/text_format.h"

namespace vantrel {

namespace {

QCoro::Task<> firstLoad(QPointer<TrashManager> self)
{
    if (self)
        co_await self->loadContent();
}

} // namespace

TrashManager::TrashManager(std::shared_ptr<TeamBundle> teamBundle, ToolbarProgressIndicator* progress,
                           AlertModel* alert, ConfirmationDialogModel* confirmation, std::function<void()> close,
                           RestoreCollection restoreCollection, bool loadAtOnce, QObject* parent)
    : ObservableObject(parent),
      m_teamBundle(std::move(teamBundle)),
      m_alert(alert),
      m_progress(progress),
      m_confirmation(confirmation),
      m_restoreCollection(std::move(restoreCollection)),
      m_close(std::move(close))
{
    if (loadAtOnce) {
        QPointer<TrashManager> self(this);
        startTask(
            std::nullopt, [self] { return firstLoad(self); }, handleError([](const Error&) {}));
    }
}

TrashManager::~TrashManager() = default;

QCoro::Task<> TrashManager::loadContent()
{
    m_teamBundle->log().event(QStringLiteral("Loading trash content"), QStringLiteral("loadContent()"),
                              Logger::Level::info);
    m_index = m_teamBundle->versionBundles().trashIndex();
    setContent(m_index.all);
    QSet<IdFor<VersionBundle>> present;
    for (const auto& summary : m_index.all)
        present.insert(summary.id());
    const auto kept = selection() & present;
    if (kept.size() != selection().size())
        setSelection(kept);
    co_return;
}

QCoro::Task<> TrashManager::restore(VersionBundle::Summary summary)
{
    QPointer<TrashManager> self(this);
    setDisableActions(true);
    if (m_progress)
        m_progress->setState(
            ToolbarProgressIndicator::State::busy(formatText(Strings::restoringProgress(), {summary.name()})));
    const auto team = m_teamBundle;
    const auto restoreCollection = m_restoreCollection;
    co_await team->versionBundles().restore(summary);
    if (restoreCollection)
        co_await restoreCollection(summary.id());
    if (self)
        co_await self->loadContent();
}

QCoro::Task<> TrashManager::present(const Error& error)
{
    if (m_alert)
        m_alert->show(error);
    co_return;
}

void TrashManager::closeWhenEmpty()
{
    // The view animates the change of pane.
    if (content().isEmpty() && m_close)
        m_close();
}

void TrashManager::finishAction()
{
    setSelection({});
    setDisableActions(false);
    if (m_progress)
        m_progress->setState(ToolbarProgressIndicator::State::idle());
    closeWhenEmpty();
}

void TrashManager::deleteSelected()
{
    const QList<IdFor<VersionBundle>> ids(selection().begin(), selection().end());
    askToDeletePermanently(m_index.summaries(ids));
}

void TrashManager::emptyTrash()
{
    askToDeletePermanently(content());
}

void TrashManager::askToDeletePermanently(QList<VersionBundle::Summary> items)
{
    if (!m_confirmation)
        return;
    // Once confirmed, the deletion runs even when this manager is gone by then (the trash pane
    // was left, say because a finishing check-out moved the focus): the question was answered,
    // so the items go. The answer holds the team bundle itself, never the manager.
    const auto team = m_teamBundle;
    const QPointer<AlertModel> alert = m_alert;
    const QPointer<TrashManager> self(this);
    m_confirmation->setDialog(ConfirmationDialog::ConfirmPermanentlyDelete{
        items, [team, alert, self, items] { startDeletion(team, alert, self, items); }});
}

void TrashManager::deletePermanently(QList<VersionBundle::Summary> items)
{
    startDeletion(m_teamBundle, m_alert, this, std::move(items));
}

void TrashManager::startDeletion(std::shared_ptr<TeamBundle> team, QPointer<AlertModel> alert,
                                 QPointer<TrashManager> self, QList<VersionBundle::Summary> items)
{
    startTask(
        std::nullopt, [team, self, items] { return deleteAll(team, self, items); },
        handleError([alert](const Error& error) {
            if (alert)
                alert->show(error);
        }),
        [self] {
            if (!self)
                return;
            self->setSelection({});
            self->setDisableActions(false);
            self->closeWhenEmpty();
        });
}

QCoro::Task<> TrashManager::deleteAll(std::shared_ptr<TeamBundle> team, QPointer<TrashManager> self,
                                      QList<VersionBundle::Summary> items)
{
    // The team bundle is held for the whole deletion; the manager only shows it.
    if (self)
        self->setDisableActions(true);
    for (const auto& item : items)
        co_await team->versionBundles().deletePermanently(item);
    if (self)
        co_await self->loadContent();
}

} // namespace vantrel
