#include "app/vantrel_model.h"

#include "desktop/system_services.h"
#include "foundation/debouncer.h"
#include "model/combine_latest_many.h"

#include <chrono>
#include <vector>

namespace vantrel {

namespace {

QCoro::Task<> openReportingFailure(item_action::OpenURL open, QUrl url, QPointer<AlertModel> alert)
{
    try {
        co_await open(url);
    } catch (const Error& error) {
        if (alert)
            alert->show(error);
    }
}

} // namespace

MissingURLSchemeError::MissingURLSchemeError()
    : Error(QStringLiteral("The application's information names no URL scheme; this build is broken."))
{
}

VantrelModel::VantrelModel(AppInfo appInfo, std::shared_ptr<AppUpdater> updater,
                           std::shared_ptr<KeyValueStorage> storage, std::shared_ptr<FileManaging> fileManager,
                           std::shared_ptr<WorkspaceInterfacing> workspace, Lifecycle lifecycle, Clock& clock,
                           QObject* parent)
    : QObject(parent),
      m_appInfo(std::move(appInfo))
{
    if (!m_appInfo.urlScheme())
        throw MissingURLSchemeError();
    m_updater = std::move(updater);
    m_crashReporter = new CrashReporter(m_appInfo, storage, {}, this);
    m_crashReporter->start();

    m_storage = std::move(storage);
    m_fileManager = std::move(fileManager);
    m_workspace = std::move(workspace);

    // The interface models every team window shares, each idle.
    m_alert = new AlertModel(this);
    m_sheet = new SheetModel(this);
    m_fileImporter = new FileImporter(this);
    m_fileImporter->setStorage(m_storage);
    m_progress = new ToolbarProgressIndicator(this);
    m_confirmation = new ConfirmationDialogModel(this);

    // Links and downloads open without anyone waiting; what did not open is an alert all the same.
    const QPointer<AlertModel> alert = m_alert;
    const item_action::OpenURL open = [desktop = m_workspace](const QUrl& url) { return desktop->open(url); };
    m_openURL = [open, alert](const QUrl& url) { openReportingFailure(open, url, alert); };
    m_teamSetup = new TeamSetup(*m_appInfo.urlScheme(), open, m_alert, m_sheet, m_confirmation, m_progress, m_storage,
                                m_fileImporter, m_fileManager, m_workspace, this);

    // The ribbon feed: the latest update and beta-feedback messages, those there are, in that
    // order, a second after they last changed.
    using design::Ribbon;
    std::vector<AnyPublisher<std::optional<Ribbon>>> ribbons{m_updater->updatesPublisher(),
                                                             betaRibbonPublisher(m_openURL, m_appInfo.releaseType())};
    const auto present = CombineLatestMany<std::optional<Ribbon>>(std::move(ribbons))
                             .eraseToAnyPublisher()
                             .map([](const std::vector<std::optional<Ribbon>>& latest) {
                                 QList<Ribbon> shown;
                                 for (const auto& ribbon : latest) {
                                     if (ribbon)
                                         shown.append(*ribbon);
                                 }
                                 return shown;
                             });
    m_ribbon = new design::Prioritizer<Ribbon>(debounce(present, std::chrono::seconds(1), clock), this);

    QPointer<TeamSetup> setup = m_teamSetup;
    m_urlHandler = std::make_unique<URLHandler>(
        [updater = m_updater] { updater->checkForUpdates(); },
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

    bindUpdater();
}

void VantrelModel::bindUpdater()
{
    // The update service's alerts go to the alert model every team window shares; their first
    // button opens the download page of the newest build. (The updater keeps these closures, so
    // they refer to it weakly.)
    QPointer<AppUpdater> updater = m_updater.get();
    QPointer<AlertModel> alert = m_alert;
    m_updater->subscribeAlerts(
        m_openURL,
        [updater, openURL = m_openURL] {
            if (updater)
                updater->download(openURL);
        },
        [alert](std::optional<AlertDetails> details) {
            if (alert)
                alert->setDetails(std::move(details));
        });
}

VantrelModel::~VantrelModel() = default;

} // namespace vantrel
