#include "open_team/team_setup.h"

#include "engine/engine_errors.h"
#include "engine/logger.h"
#include "engine/team_bundle.h"
#include "foundation/task_starter.h"
#include "foundation/worker.h"
#include "model/key_value_storage.h"
#include "model/strings.h"
#include "model/text_format.h"

#include <QDir>
#include <QFileInfo>
#include <QThreadPool>

namespace vantrel {

namespace {

// The local path `url` names: a file URL's path, or the URL itself when it came as a plain path.
// Empty for any other URL.
QString localPathOf(const QUrl& url)
{
    QString path;
    if (url.isLocalFile())
        path = url.toLocalFile();
    else if (url.scheme().isEmpty())
        path = url.path(QUrl::FullyDecoded);
    // "Team.vantrelteam/" names the same folder as "Team.vantrelteam".
    return path.isEmpty() ? path : QDir::cleanPath(path);
}

// Closes a team bundle that is no longer shown on a worker thread: closing waits for its poll
// of the share, which may hang.
void closeInBackground(std::shared_ptr<TeamBundle> bundle)
{
    if (bundle)
        QThreadPool::globalInstance()->start([bundle = std::move(bundle)]() mutable { bundle.reset(); });
}

QCoro::Task<> reloadAndRestoreSelection(std::shared_ptr<Team> team)
{
    co_await team->collections().reload();
    team->navigation().restoreStoredSelection();
}

} // namespace

TeamNameError::TeamNameError(const QString& name)
    : Error(formatText(Strings::invalidTeamNameMessage(),
                       forbiddenCharacters(SheetModel::CreateNewTeamBundle{}).value_or(QString())),
            Strings::invalidTeamNameTitle()),
      m_name(name)
{
}

QString TeamNameError::typeName() const
{
    return QStringLiteral("TeamNameError");
}

void checkTeamName(const QString& name)
{
    const QString trimmed = name.trimmed();
    bool valid = !trimmed.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
                 && !name.contains(QLatin1Char('/'))
                 && isValidName(name, forbiddenCharacters(SheetModel::CreateNewTeamBundle{}));
    for (const QChar character : name) {
        const auto category = character.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph)
            valid = false;
    }
    if (!valid)
        throw TeamNameError(name);
}

QString teamBundleImporterType()
{
    return QStringLiteral("*.") + TeamBundle::fileExtension + QLatin1Char('/');
}

TeamSetup::TeamSetup(QString urlScheme, item_action::OpenURL openURL, AlertModel* alert, SheetModel* sheet,
                     ConfirmationDialogModel* confirmation, ToolbarProgressIndicator* progress,
                     std::shared_ptr<KeyValueStorage> storage, FileImporter* fileImporter,
                     std::shared_ptr<FileManaging> fileManager, std::shared_ptr<WorkspaceInterfacing> workspace,
                     QObject* parent)
    : ObservableObject(parent),
      m_urlScheme(std::move(urlScheme)),
      m_openURL(std::move(openURL)),
      m_alert(alert),
      m_sheet(sheet),
      m_progress(progress),
      m_confirmation(confirmation),
      m_fileImporter(fileImporter),
      m_storage(std::move(storage)),
      m_fileManager(std::move(fileManager)),
      m_workspace(std::move(workspace))
{
    bindLog(alert);
    restoreLastTeamBundle();
}

TeamSetup::~TeamSetup() = default;

void TeamSetup::bindLog(AlertModel* alert)
{
    const QPointer<AlertModel> target(alert);
    const auto assign = [this, target] {
        if (!target)
            return;
        const auto& team = m_state().team();
        if (!team) {
            target->log = &AlertModel::ignoreLog;
            return;
        }
        // The log belongs to the bundle: an alert raised after the bundle was closed goes nowhere.
        const std::weak_ptr<TeamBundle> bundle = team->bundle();
        target->log = [bundle](const QString& text) {
            if (const auto open = bundle.lock())
                open->log().event(text, QStringLiteral("bindLog(alert:)"), Logger::Level::info);
        };
    };
    assign();
    const auto connection = connect(this, &TeamSetup::stateChanged, this, assign);
    m_cancelLogSubscription = Cancellable([connection] { QObject::disconnect(connection); });
}

void TeamSetup::setState(State state)
{
    // The team that leaves is released here; its bundle, once nothing else holds it, is closed on a
    // worker thread.
    std::shared_ptr<TeamBundle> previous = m_state().team() ? m_state().team()->bundle() : nullptr;
    if (previous && state.team() != m_state().team())
        dismissWhatTheTeamAsked();
    m_state = std::move(state);
    closeInBackground(std::move(previous));
}

// The window's question, sheet, alert and file dialog hold actions on the team that leaves; an
// answer given after it left would act on a team no longer shown. They close without acting, before
// the next team can raise its own.
void TeamSetup::dismissWhatTheTeamAsked()
{
    if (m_confirmation)
        m_confirmation->setDialog(std::nullopt);
    if (m_sheet)
        m_sheet->setSheet(std::nullopt);
    if (m_fileImporter)
        m_fileImporter->setAction(nullptr);
    if (m_alert)
        m_alert->dismissAll();
}

void TeamSetup::show(const Error& error)
{
    if (m_alert)
        m_alert->show(error);
}

void TeamSetup::restoreLastTeamBundle()
{
    const auto path = m_storage ? m_storage->string(TeamBundle::pathStorageKey) : std::nullopt;
    if (!path || path->isEmpty()) {
        setState(State::select());
        return;
    }
    openExisting(QUrl::fromLocalFile(*path));
}

void TeamSetup::createNewTeamBundle()
{
    if (const auto team = m_state().team()) {
        const QPointer<TeamSetup> self(this);
        team->alertBeforeClosing(Team::ClosingEvent::close, [self](bool shouldClose) {
            if (self)
                self->showCreateNewTeamBundleSheet(shouldClose);
        });
        return;
    }
    showCreateNewTeamBundleSheet(true);
}

void TeamSetup::showCreateNewTeamBundleSheet(bool shouldClose)
{
    if (!shouldClose || !m_sheet)
        return;
    const QPointer<TeamSetup> self(this);
    m_sheet->setSheet(SheetModel::CreateNewTeamBundle{[self](QString name) {
        if (self)
            self->chooseLocationForNewTeamBundle(name);
    }});
}

void TeamSetup::chooseLocationForNewTeamBundle(const QString& name)
{
    try {
        checkTeamName(name);
    } catch (const TeamNameError& error) {
        show(error);
        return;
    }
    if (!m_fileImporter)
        return;
    const QPointer<TeamSetup> self(this);
    m_fileImporter->request(
        {folderContentType},
        [self, name](QUrl folder) {
            if (self)
                self->createTeamBundle(folder, name);
        },
        FileImporter::Purpose::newTeamBundleLocation);
}

void TeamSetup::createTeamBundle(const QUrl& folder, const QString& name)
{
    try {
        checkTeamName(name);
        const QString folderPath = localPathOf(folder);
        if (folderPath.isEmpty())
            throw TeamBundleError(TeamBundleError::Case::missingFolder, folder.toDisplayString());
        startRequest(folderPath + QLatin1Char('/') + name + QLatin1Char('.') + TeamBundle::fileExtension, true);
    } catch (const Error& error) {
        show(error); // the state, and a team that is open, stay as they are
    }
}

void TeamSetup::openExistingTeamBundle()
{
    if (const auto team = m_state().team()) {
        const QPointer<TeamSetup> self(this);
        team->alertBeforeClosing(Team::ClosingEvent::close, [self](bool shouldClose) {
            if (self)
                self->showTeamBundleImporter(shouldClose);
        });
        return;
    }
    showTeamBundleImporter(true);
}

void TeamSetup::showTeamBundleImporter(bool shouldClose)
{
    if (!shouldClose || !m_fileImporter)
        return;
    const QPointer<TeamSetup> self(this);
    m_fileImporter->request(
        {teamBundleImporterType()},
        [self](QUrl url) {
            if (self)
                self->openExisting(url);
        },
        FileImporter::Purpose::openTeamBundle);
}

void TeamSetup::openTeamBundle(const QUrl& url)
{
    if (const auto team = m_state().team()) {
        const QPointer<TeamSetup> self(this);
        team->alertBeforeClosing(Team::ClosingEvent::close, [self, url](bool shouldClose) {
            if (shouldClose && self)
                self->openExisting(url);
        });
        return;
    }
    openExisting(url);
}

void TeamSetup::openExisting(const QUrl& url)
{
    const QString path = localPathOf(url);
    // Exactly the extension, letter case included.
    if (QFileInfo(path).suffix() != TeamBundle::fileExtension) {
        ++m_generation; // an open still running is overtaken by this one
        endProgress();
        setState(State::select());
        show(TeamBundleError(TeamBundleError::Case::wrongExtension, path.isEmpty() ? url.toDisplayString() : path));
        return;
    }
    startRequest(path, false);
}

void TeamSetup::startRequest(const QString& path, bool create)
{
    const quint64 generation = ++m_generation;
    ++m_requestsInFlight;
    m_progressText = formatText(Strings::openingProgress(), QFileInfo(path).completeBaseName());
    if (m_progress)
        m_progress->setState(ToolbarProgressIndicator::State::busy(m_progressText));
    const QPointer<TeamSetup> self(this);
    startTask(
        std::nullopt,
        [self, generation, path, create, fileManager = m_fileManager, workspace = m_workspace] {
            return runRequest(self, generation, path, create, fileManager, workspace);
        },
        handleError([self](const Error& error) {
            if (self)
                self->show(error);
        }));
}

QCoro::Task<> TeamSetup::runRequest(QPointer<TeamSetup> self, quint64 generation, QString path, bool create,
                                    std::shared_ptr<FileManaging> fileManager,
                                    std::shared_ptr<WorkspaceInterfacing> workspace)
{
    std::shared_ptr<TeamBundle> bundle;
    std::shared_ptr<const Error> failure;
    try {
        auto work = [path, create, fileManager, workspace] {
            return create ? TeamBundle::create(path, fileManager, workspace)
                          : TeamBundle::open(path, fileManager, workspace);
        };
        bundle = co_await onWorker(std::move(work));
    } catch (...) {
        failure = errorFrom(std::current_exception());
    }
    if (self)
        --self->m_requestsInFlight;
    if (!self || generation != self->m_generation) {
        closeInBackground(std::move(bundle)); // overtaken by a newer request
        co_return;
    }
    self->endProgress();
    if (failure) {
        // A failed open leaves nothing open; a failed creation leaves everything as it was. The
        // state changes first, so an open that failed is logged in no team's log.
        if (!create)
            self->setState(State::select());
        self->show(*failure);
        co_return;
    }
    self->load(std::move(bundle));
}

void TeamSetup::endProgress()
{
    // The toolbar may have moved on to the open team's own work meanwhile: that stays.
    if (m_progress && !m_progressText.isEmpty() && m_progress->state().isBusy()
        && m_progress->state().text() == m_progressText)
        m_progress->setState(ToolbarProgressIndicator::State::idle());
    m_progressText.clear();
}

void TeamSetup::load(std::shared_ptr<TeamBundle> bundle)
{
    auto team = std::make_shared<Team>(bundle, m_urlScheme, m_openURL, m_alert.data(), m_sheet.data(),
                                       m_confirmation.data(), m_fileImporter.data(), m_progress.data(), m_storage);
    setState(State::loaded(team));
    if (m_storage)
        m_storage->set(bundle->rootPath(), TeamBundle::pathStorageKey);
    // A bundle this user may only read opens all the same, for reading: the user learns at once
    // why and whom to ask, rather than from the first change that fails.
    if (const auto& problem = bundle->writeProblem())
        show(*problem);
    const QPointer<AlertModel> alert = m_alert;
    startTask(
        std::nullopt, [team]() -> QCoro::Task<> { return reloadAndRestoreSelection(team); },
        handleError([alert](const Error& error) {
            if (alert)
                alert->show(error);
        }));
}

} // namespace vantrel
