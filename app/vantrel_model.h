#pragma once

#include "actions/alert_models.h"
#include "actions/confirmation_dialogs.h"
#include "actions/file_importer.h"
#include "actions/sheets.h"
#include "actions/toolbar_progress.h"
#include "app/crash_reporter.h"

#include "app/app_updater.h"
#include "app/url_handler.h"
#include "design/ribbon.h"
#include "foundation/clock.h"
#include "model/key_value_storage.h"
#include "open_team/team_setup.h"
#include "packages/components/app_info.h"

#include <QObject>

#include <functional>
#include <memory>

namespace vantrel {

class FileManaging;
class WorkspaceInterfacing;

// The one root object of the application. Its constructor creates the services and the interface
// models every team window shares, and wires them; afterwards it only holds them.
class VantrelModel final : public QObject {
    Q_OBJECT
public:
    // What quitting and restarting do; both go through the application's quit confirmation.
    struct Lifecycle {
        std::function<void()> quit;
        std::function<void()> restart;
    };

    // Throws MissingURLSchemeError when `appInfo` has no URL scheme: the build is broken.
    // `clock` times the ribbon feed and must outlive the model.
    VantrelModel(AppInfo appInfo, std::shared_ptr<AppUpdater> updater, std::shared_ptr<KeyValueStorage> storage,
                 std::shared_ptr<FileManaging> fileManager, std::shared_ptr<WorkspaceInterfacing> workspace,
                 Lifecycle lifecycle, Clock& clock = TimerClock::shared(), QObject* parent = nullptr);
    ~VantrelModel() override;

    const AppInfo& appInfo() const { return m_appInfo; }
    CrashReporter* crashReporter() const { return m_crashReporter; }

    const std::shared_ptr<AppUpdater>& updater() const { return m_updater; }
    // The messages of the team toolbar's ribbon: the update message and, in alpha and beta builds,
    // the beta-feedback one, a second after they last changed.
    design::Prioritizer<design::Ribbon>* ribbon() const { return m_ribbon; }
    TeamSetup* teamSetup() const { return m_teamSetup; }
    URLHandler& urlHandler() const { return *m_urlHandler; }
    // Opens links through the desktop; every link a view opens goes through it.
    const std::function<void(const QUrl&)>& openURL() const { return m_openURL; }
    const std::shared_ptr<KeyValueStorage>& storage() const { return m_storage; }
    const std::shared_ptr<FileManaging>& fileManager() const { return m_fileManager; }
    const std::shared_ptr<WorkspaceInterfacing>& workspace() const { return m_workspace; }

private:
    void bindUpdater();

    const AppInfo m_appInfo;
    CrashReporter* m_crashReporter = nullptr;

    std::shared_ptr<AppUpdater> m_updater;
    std::shared_ptr<KeyValueStorage> m_storage;
    std::shared_ptr<FileManaging> m_fileManager;
    std::shared_ptr<WorkspaceInterfacing> m_workspace;
    std::function<void(const QUrl&)> m_openURL;
    AlertModel* m_alert = nullptr;
    SheetModel* m_sheet = nullptr;
    FileImporter* m_fileImporter = nullptr;
    ToolbarProgressIndicator* m_progress = nullptr;
    ConfirmationDialogModel* m_confirmation = nullptr;
    TeamSetup* m_teamSetup = nullptr;
    design::Prioritizer<design::Ribbon>* m_ribbon = nullptr;
    std::unique_ptr<URLHandler> m_urlHandler;
};

// The application's information names no URL scheme.
class MissingURLSchemeError final : public Error {
public:
    MissingURLSchemeError();
};

} // namespace vantrel
