#pragma once

#include "actions/alert_models.h"
#include "actions/confirmation_dialogs.h"
#include "actions/toolbar_progress.h"
#include "engine/version_bundle.h"
#include "foundation/observable_object.h"

#include <QCoroTask>
#include <QPointer>
#include <QSet>

#include <functional>
#include <memory>

namespace vantrel {

class TeamBundle;

// The trash of a team bundle as its table shows it: the trashed collections, documents and
// events; restoring one at a time and deleting for good after a confirmation. When the trash
// has become empty it leaves the trash pane.
class TrashManager final : public ObservableObject {
    Q_OBJECT
public:
    using RestoreCollection = std::function<QCoro::Task<>(IdFor<VersionBundle>)>;

    // With `loadAtOnce`, starts loading the trash; a failure of that first load is dropped.
    TrashManager(std::shared_ptr<TeamBundle> teamBundle, ToolbarProgressIndicator* progress, AlertModel* alert,
                 ConfirmationDialogModel* confirmation, std::function<void()> close,
                 RestoreCollection restoreCollection, bool loadAtOnce, QObject* parent = nullptr);
    ~TrashManager() override;

    QList<VersionBundle::Summary> content() const { return m_content(); }
    void setContent(QList<VersionBundle::Summary> content) { m_content = std::move(content); }
    QSet<IdFor<VersionBundle>> selection() const { return m_selection(); }
    void setSelection(QSet<IdFor<VersionBundle>> selection) { m_selection = std::move(selection); }
    // True while a restore or a deletion runs; the table offers neither meanwhile.
    bool disableActions() const { return m_disableActions(); }
    void setDisableActions(bool disabled) { m_disableActions = disabled; }
    const VersionBundlesIndex& index() const { return m_index; }

    // Reads the trash index again. Selected items that are no longer in the trash leave the
    // selection, so that it only ever names rows the table shows.
    QCoro::Task<> loadContent();
    // Takes one item out of the trash, brings the collections up to date and reloads. The table
    // runs it as a task with present() on failure and finishAction() at the end.
    QCoro::Task<> restore(VersionBundle::Summary summary);
    QCoro::Task<> present(const Error& error);
    void finishAction();
    // Asks to delete the selected items for good.
    void deleteSelected();
    // Asks to delete everything in the trash for good.
    void emptyTrash();
    // Deletes `items` for good, one after the other, then reloads; the first failure stops it.
    void deletePermanently(QList<VersionBundle::Summary> items);

Q_SIGNALS:
    void contentChanged();
    void selectionChanged();
    void disableActionsChanged();

private:
    void closeWhenEmpty();
    // Asks to delete `items` for good; a confirmed answer deletes them whether or not this
    // manager still exists.
    void askToDeletePermanently(QList<VersionBundle::Summary> items);
    // Deletes `items` from `team` for good; `self`, while it exists, shows the deletion.
    static void startDeletion(std::shared_ptr<TeamBundle> team, QPointer<AlertModel> alert, QPointer<TrashManager> self,
                              QList<VersionBundle::Summary> items);
    static QCoro::Task<> deleteAll(std::shared_ptr<TeamBundle> team, QPointer<TrashManager> self,
                                   QList<VersionBundle::Summary> items);

    Published<QList<VersionBundle::Summary>> m_content{this, &TrashManager::contentChanged};
    VersionBundlesIndex m_index;
    Published<QSet<IdFor<VersionBundle>>> m_selection{this, &TrashManager::selectionChanged};
    std::shared_ptr<TeamBundle> m_teamBundle;
    QPointer<AlertModel> m_alert;
    QPointer<ToolbarProgressIndicator> m_progress;
    QPointer<ConfirmationDialogModel> m_confirmation;
    RestoreCollection m_restoreCollection;
    std::function<void()> m_close;
    Published<bool> m_disableActions{this, &TrashManager::disableActionsChanged, false};
};

} // namespace vantrel
