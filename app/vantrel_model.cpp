#include "app/vantrel_model.h"

#include "engine/system_services.h"

namespace vantrel {

MissingURLSchemeError::MissingURLSchemeError()
    : Error(QStringLiteral("The application's information names no URL scheme; this build is broken."))
{
}

VantrelModel::VantrelModel(AppInfo appInfo, std::shared_ptr<KeyValueStorage> storage,
                           std::shared_ptr<FileManaging> fileManager, std::shared_ptr<WorkspaceInterfacing> workspace,
                           Lifecycle lifecycle, QObject* parent)
    : QObject(parent),
      m_appInfo(std::move(appInfo))
{
    if (!m_appInfo.urlScheme())
        throw MissingURLSchemeError();
    // The update service is stored here once it exists.
    m_crashReporter = new CrashReporter(m_appInfo, storage, {}, this);
    m_crashReporter->start();

    m_storage = std::move(storage);
    m_fileManager = std::move(fileManager);
    m_workspace = std::move(workspace);
    m_openURL = [workspace = m_workspace](const QUrl& url) { workspace->open(url); };

    // The interface models every team window shares, each idle.
    m_alert = new AlertModel(this);
    m_sheet = new SheetModel(this);
    m_fileImporter = new FileImporter(this);
    m_progress = new ToolbarProgressIndicator(this);
    m_confirmation = new ConfirmationDialogModel(this);

    m_teamSetup = new TeamSetup(*m_appInfo.urlScheme(), m_openURL, m_alert, m_sheet, m_confirmation, m_progress,
                                m_storage, m_fileImporter, m_fileManager, m_workspace, this);

    // The ribbon feed (update and beta-feedback messages) is built here.

    QPointer<TeamSetup> setup = m_teamSetup;
    m_urlHandler = std::make_unique<URLHandler>(
        // Checking for updates goes to the update service.
        [] {},
        [setup](const QUrl& url) {
            if (setup)
                setup->openTeamBundle(url);
        },
        [setup](std::optional<ItemSelection> selection) {
            if (!setup || setup->state().kind() != TeamSetup::State::Case::loaded)
                return;
            setup->state().team()->navigation().restoreSelection(std::move(selection), std::nullopt);
        },
        std::move(lifecycle.quit), std::move(lifecycle.restart), [](const QString&) {});

    // The update service's alerts are bound to the alert model here.
}

VantrelModel::~VantrelModel() = default;

} // namespace vantrel
