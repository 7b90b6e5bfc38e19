#pragma once

#include "actions/alert_models.h"
#include "actions/confirmation_dialogs.h"
#include "actions/file_importer.h"
#include "actions/item_actions.h"
#include "actions/sheets.h"
#include "actions/toolbar_progress.h"
#include "actions/trash_manager.h"
#include "foundation/cancellable.h"
#include "foundation/observable_object.h"
#include "model/collections.h"
#include "open_team/navigation_model.h"

#include <QPointer>

#include <functional>
#include <memory>

namespace vantrel {

class TeamBundle;

// One open team bundle as its window shows it: its collections, kept current from the bundle's
// changes; the window's navigation and item actions, wired to the window's interface models;
// its trash; and the question whether it may be closed.
class Team final : public ObservableObject {
    Q_OBJECT
public:
    enum class ClosingEvent { quit, close };

    // Does not load the collections: the caller reloads them once the team is set up.
    Team(std::shared_ptr<TeamBundle> bundle, QString urlScheme, item_action::OpenURL openURL, AlertModel* alert,
         SheetModel* sheet, ConfirmationDialogModel* confirmation, FileImporter* fileImporter,
         ToolbarProgressIndicator* progress, std::shared_ptr<KeyValueStorage> settings, QObject* parent = nullptr);
    ~Team() override;

    const std::shared_ptr<TeamBundle>& bundle() const { return m_bundle; }
    Collections& collections() const { return *m_collections; }
    const QString& urlScheme() const { return m_urlScheme; }
    // The window's alert and toolbar progress, which the team's views report to.
    AlertModel* alert() const { return m_alert; }
    ToolbarProgressIndicator* progress() const { return m_progress; }

    // Built on first use and kept.
    NavigationModel& navigation();
    ItemActions& itemActions();
    // A new manager, loading the trash, on every call.
    std::unique_ptr<TrashManager> trashManager();

    // The index the add-existing picker searches: the live bundles, the trashed ones, or both.
    VersionBundlesIndex versionBundlesIndex(IndexingOptions options) const;
    // A local folder showing what the attic keeps of a bundle, prepared on a worker thread.
    QCoro::Task<QUrl> atticURL(IdFor<VersionBundle> id) const;

    // Whether the team bundle's share can be reached, as the bundle's last poll found it.
    bool isShareReachable() const { return m_shareReachable(); }

    // Answers through `shouldClose`, exactly once, whether the team may be closed: at once when no
    // document is checked out here, otherwise when the user has answered the alert.
    void alertBeforeClosing(ClosingEvent event, std::function<void(bool)> shouldClose);

Q_SIGNALS:
    void shareReachableChanged();

private:
    // The checked-out documents, each once, by collection and then by document.
    QList<ItemSelection> unsavedItems() const;

    std::shared_ptr<TeamBundle> m_bundle;
    std::shared_ptr<Collections> m_collections;
    QString m_urlScheme;
    item_action::OpenURL m_openURL;
    QPointer<FileImporter> m_fileImporter;
    QPointer<AlertModel> m_alert;
    QPointer<SheetModel> m_sheet;
    QPointer<ConfirmationDialogModel> m_confirmation;
    QPointer<ToolbarProgressIndicator> m_progress;
    std::shared_ptr<KeyValueStorage> m_settings;
    std::unique_ptr<NavigationModel> m_navigation;
    std::unique_ptr<ItemActions> m_itemActions;
    Cancellable m_cancelSyncFileSubscription;
    Published<bool> m_shareReachable{this, &Team::shareReachableChanged, true};
    Cancellable m_reachabilitySubscription;
};

} // namespace vantrel
