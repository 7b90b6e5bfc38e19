#include "views/team/team_window.h"

#include "engine/team_bundle.h"
#include "views/presenters/alert_box.h"
#include "views/presenters/confirmation_box.h"
#include "views/presenters/dialog_presenter.h"
#include "views/presenters/file_import_dialog.h"
#include "views/presenters/sheet_dialog.h"
#include "views/team/team_view.h"

#include <QStackedLayout>
#include <QVBoxLayout>

namespace vantrel {

TeamWindow::TeamWindow(TeamSetup* setup, QIcon appIcon, design::Prioritizer<design::Ribbon>* ribbon, QWidget* parent)
    : QWidget(parent),
      m_setup(setup),
      m_ribbon(ribbon)
{
    setObjectName(QStringLiteral("teamWindow"));
    m_pages = new QStackedLayout(this);

    m_loading = new QWidget(this);
    m_loading->setObjectName(QStringLiteral("loadingPage"));

    // The onboarding itself comes and goes with the choosing state; its page stays.
    m_onboarding = new QWidget(this);
    m_onboarding->setObjectName(QStringLiteral("onboardingPage"));
    auto* onboardingLayout = new QVBoxLayout(m_onboarding);
    onboardingLayout->setContentsMargins(0, 0, 0, 0);
    onboardingLayout->setAlignment(Qt::AlignCenter);

    m_team = new QWidget(this);
    m_team->setObjectName(QStringLiteral("teamPage"));
    auto* teamLayout = new QVBoxLayout(m_team);
    teamLayout->setContentsMargins(0, 0, 0, 0);

    m_pages->addWidget(m_loading);
    m_pages->addWidget(m_onboarding);
    m_pages->addWidget(m_team);

    // The window's dialogs, each open exactly while its model holds something to show.
    AlertModel* alert = setup->alert();
    m_alert = new DialogPresenter(
        alert, &AlertModel::detailsChanged,
        [this, alert]() -> QDialog* {
            const auto details = alert->details();
            if (!details)
                return nullptr;
            QDialog* box = makeAlertBox(*details, presentedFlag(alert), this);
            box->open();
            return box;
        },
        this);
    SheetModel* sheet = setup->sheet();
    m_sheet = new DialogPresenter(
        sheet, &SheetModel::sheetChanged,
        [this, sheet, appIcon, alert, progress = setup->progress()] {
            return openSheetDialog(sheet, this, appIcon, alert, progress);
        },
        this);
    ConfirmationDialogModel* confirmation = setup->confirmation();
    m_confirmation = new DialogPresenter(
        confirmation, &ConfirmationDialogModel::dialogChanged,
        [this, confirmation]() -> QDialog* {
            const auto dialog = confirmation->dialog();
            if (!dialog)
                return nullptr;
            QDialog* box = makeConfirmationBox(*dialog, presentedFlag(confirmation), this);
            box->open();
            return box;
        },
        this);
    FileImporter* importer = setup->fileImporter();
    m_fileDialog = new DialogPresenter(
        importer, &FileImporter::actionChanged,
        [this, importer, alert]() -> QDialog* {
            if (!importer->action())
                return nullptr;
            // A failing file dialog becomes an alert, logged like every other.
            return openFileImportDialog(
                importer, [alert](const Error& error) { alert->show(error); }, this);
        },
        this);

    connect(setup, &TeamSetup::stateChanged, this, &TeamWindow::showState);
    showState();
}

TeamWindow::~TeamWindow() = default;

void TeamWindow::setOnboardingFactory(OnboardingFactory factory)
{
    m_onboardingFactory = std::move(factory);
    if (m_onboardingContent) {
        dropOnboarding();
        buildOnboarding();
    }
}

void TeamWindow::buildOnboarding()
{
    QWidget* content = nullptr;
    if (m_onboardingFactory)
        content = m_onboardingFactory(m_setup, m_onboarding);
    if (!content) {
        content = new QWidget(m_onboarding);
        content->setFixedSize(onboardingSize);
    }
    if (content->objectName().isEmpty())
        content->setObjectName(QStringLiteral("onboarding"));
    m_onboarding->layout()->addWidget(content);
    content->show();
    m_onboardingContent = content;
}

void TeamWindow::dropOnboarding()
{
    QWidget* content = m_onboardingContent;
    m_onboardingContent = nullptr;
    if (!content)
        return;
    // Later, not now: the change may come from a click inside the onboarding.
    content->hide();
    m_onboarding->layout()->removeWidget(content);
    content->deleteLater();
}

bool TeamWindow::followsContentSize() const
{
    return !m_setup || m_setup->state().kind() != TeamSetup::State::Case::loaded;
}

void TeamWindow::showState()
{
    if (!m_setup)
        return;
    const TeamSetup::State state = m_setup->state();
    // A new onboarding, on its first page, each time the window comes to choosing.
    if (state.kind() != TeamSetup::State::Case::select)
        dropOnboarding();
    // A view of the loaded team, made anew for another team and gone with it.
    Team* team = state.kind() == TeamSetup::State::Case::loaded ? state.team().get() : nullptr;
    if (m_teamView && (!team || &m_teamView->team() != team))
        delete m_teamView;
    if (team && !m_teamView) {
        m_teamView = new TeamView(*team, m_ribbon, m_team);
        m_team->layout()->addWidget(m_teamView);
    }
    if (state.kind() == TeamSetup::State::Case::select && !m_onboardingContent)
        buildOnboarding();
    // A loaded team is never shown smaller than its default size. (A stacked layout is as large as
    // its largest page, so the team page asks for it only while it shows.) The limit is lifted before
    // the page hides: a hidden page's new limits never reach the window's layout.
    const bool loaded = state.kind() == TeamSetup::State::Case::loaded;
    if (!loaded)
        m_team->setMinimumSize(0, 0);
    switch (state.kind()) {
    case TeamSetup::State::Case::loading:
        m_pages->setCurrentWidget(m_loading);
        break;
    case TeamSetup::State::Case::select:
        m_pages->setCurrentWidget(m_onboarding);
        break;
    case TeamSetup::State::Case::loaded:
        m_pages->setCurrentWidget(m_team);
        break;
    }
    if (loaded)
        m_team->setMinimumSize(defaultSize);
    // No alert shows over a team bundle that is still loading; it waits for what comes next.
    const bool alerts = state.kind() != TeamSetup::State::Case::loading;
    if (!alerts)
        m_alert->setEnabled(false);
    Q_EMIT contentChanged();
    if (alerts) {
        // An alert is placed over the window as it is when it shows. The window takes the size of
        // what it now shows only when its layouts next run (posted events): they run now, so that
        // an alert waiting for this state stands over the new frame, not beside it.
        m_pages->activate();
        if (QLayout* top = window()->layout())
            top->activate();
        m_alert->setEnabled(true);
    }
}

} // namespace vantrel
