#pragma once

#include "actions/alert_models.h"
#include "actions/confirmation_dialogs.h"
#include "actions/file_importer.h"
#include "actions/item_actions.h"
#include "actions/sheets.h"
#include "actions/toolbar_progress.h"
#include "foundation/cancellable.h"
#include "foundation/error.h"
#include "foundation/observable_object.h"
#include "open_team/team.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

namespace vantrel {

class FileManaging;
class KeyValueStorage;
class TeamBundle;
class WorkspaceInterfacing;

// A name that can't become the folder name of a new team bundle.
class TeamNameError final : public Error {
public:
    explicit TeamNameError(const QString& name);
    const QString& name() const { return m_name; }

protected:
    QString typeName() const override;

private:
    QString m_name;
};

// Throws TeamNameError unless `name` can name the folder of a new team bundle: not empty once
// trimmed, not "." or "..", no "/", no control characters, and none of the characters the naming
// sheet refuses for teams.
void checkTeamName(const QString& name);

// What the file importer offers when opening a team bundle: only folders named with the
// team-bundle extension, each chosen as one document.
QString teamBundleImporterType();

// The one team bundle the main window shows: restoring the last one at start, opening and
// creating others, and the Team built over it. Every alert raised through the shared alert model
// is also written into the log of the team bundle loaded at that moment.
//
// The engine opens and creates team bundles on a worker thread, so a slow share never blocks
// the window. While it works the state stays as it was: `loading` while the last bundle is
// restored at start; the onboarding or the open team while the user's own request runs (the
// toolbar says what is being opened). Only the latest request lands: a request that finishes
// after a newer one was made is dropped, and a bundle it opened is closed again.
class TeamSetup final : public ObservableObject {
    Q_OBJECT
public:
    class State {
    public:
        enum class Case { loaded, loading, select };

        // A team bundle is open; the state owns its Team.
        static State loaded(std::shared_ptr<Team> team) { return State(Case::loaded, std::move(team)); }
        // Before the first restore has finished.
        static State loading() { return State(Case::loading, nullptr); }
        // No team bundle is open: the user is to create or open one.
        static State select() { return State(Case::select, nullptr); }

        Case kind() const { return m_case; }
        // Null unless loaded.
        const std::shared_ptr<Team>& team() const { return m_team; }

    private:
        State(Case which, std::shared_ptr<Team> team) : m_case(which), m_team(std::move(team)) {}
        Case m_case;
        std::shared_ptr<Team> m_team;
    };

    // Starts loading, routes the alerts' log to the loaded team bundle and restores the last one.
    // The interface models are shared with every Team made here, not owned.
    TeamSetup(QString urlScheme, item_action::OpenURL openURL, AlertModel* alert, SheetModel* sheet,
              ConfirmationDialogModel* confirmation, ToolbarProgressIndicator* progress,
              std::shared_ptr<KeyValueStorage> storage, FileImporter* fileImporter,
              std::shared_ptr<FileManaging> fileManager, std::shared_ptr<WorkspaceInterfacing> workspace,
              QObject* parent = nullptr);
    ~TeamSetup() override;

    State state() const { return m_state(); }
    AlertModel* alert() const { return m_alert; }
    SheetModel* sheet() const { return m_sheet; }
    ConfirmationDialogModel* confirmation() const { return m_confirmation; }
    FileImporter* fileImporter() const { return m_fileImporter; }
    ToolbarProgressIndicator* progress() const { return m_progress; }

    // Opens the team bundle whose path was stored at the last successful load; without one, the
    // user is to choose (no alert).
    void restoreLastTeamBundle();
    // Asks the open team whether it may close, then for the name, then for the folder.
    void createNewTeamBundle();
    // Asks the open team whether it may close, then offers team bundles to open.
    void openExistingTeamBundle();
    // Asks the open team whether it may close, then opens `url`: a file URL, or a plain path.
    void openTeamBundle(const QUrl& url);

    // The steps behind the commands, as their close check, sheet and file importer call them.
    void showCreateNewTeamBundleSheet(bool shouldClose);
    // Checks the name (a bad one is shown as an alert), then asks for the folder to create it in.
    void chooseLocationForNewTeamBundle(const QString& name);
    // Creates "<name>.vantrelteam" in `folder` and loads it; a failure leaves the state as it was.
    void createTeamBundle(const QUrl& folder, const QString& name);
    void showTeamBundleImporter(bool shouldClose);
    // Opens the team bundle at `url` and loads it; a failure drops the open team (state `select`).
    // A bundle this user may only read is loaded for reading, with an alert that says why.
    void openExisting(const QUrl& url);

    // Engine requests still running on a worker thread, including ones whose result will be
    // dropped because a newer request was made.
    int requestsInFlight() const { return m_requestsInFlight; }

Q_SIGNALS:
    void stateChanged();

private:
    void bindLog(AlertModel* alert);
    void setState(State state);
    void dismissWhatTheTeamAsked();
    // Opens (or creates) the team bundle at `path` on a worker thread, as the latest request.
    void startRequest(const QString& path, bool create);
    static QCoro::Task<> runRequest(QPointer<TeamSetup> self, quint64 generation, QString path, bool create,
                                    std::shared_ptr<FileManaging> fileManager,
                                    std::shared_ptr<WorkspaceInterfacing> workspace);
    // Ends the toolbar's progress of the latest request, unless it shows something else by now.
    void endProgress();
    void load(std::shared_ptr<TeamBundle> bundle);
    void show(const Error& error);

    Published<State> m_state{this, &TeamSetup::stateChanged, State::loading()};
    QString m_urlScheme;
    item_action::OpenURL m_openURL;
    QPointer<AlertModel> m_alert;
    QPointer<SheetModel> m_sheet;
    QPointer<ToolbarProgressIndicator> m_progress;
    QPointer<ConfirmationDialogModel> m_confirmation;
    QPointer<FileImporter> m_fileImporter;
    std::shared_ptr<KeyValueStorage> m_storage;
    std::shared_ptr<FileManaging> m_fileManager;
    std::shared_ptr<WorkspaceInterfacing> m_workspace;
    Cancellable m_cancelLogSubscription;
    // The number of the latest engine request; a result of any other is dropped.
    quint64 m_generation = 0;
    int m_requestsInFlight = 0;
    // What the toolbar shows while the latest request runs.
    QString m_progressText;
};

} // namespace vantrel
