#pragma once

#include "open_team/team_setup.h"
#include "views/team/team_view.h"

#include <QIcon>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <functional>

class QStackedLayout;

namespace vantrel {


class DialogPresenter;

// The main window's content. It follows the team setup: nothing while a team bundle loads, the
// onboarding while one is to be chosen, the team once loaded. Around it hang the window-wide
// presenters of the setup's interface models: the sheet, the confirmation question and the file
// dialog in every state, the alert over the onboarding and the team (never while loading).
class TeamWindow final : public QWidget {
    Q_OBJECT
public:
    // The main window's default size, and the smallest a loaded team is shown at.
    static constexpr QSize defaultSize{1150, 600};
    // The onboarding's fixed frame.
    static constexpr QSize onboardingSize{385, 527};

    // Builds the onboarding shown while a team bundle is to be chosen, for the window's setup,
    // as a child of `parent`; it should be `onboardingSize`.
    using OnboardingFactory = std::function<QWidget*(TeamSetup* setup, QWidget* parent)>;

    // A loaded team's toolbar shows the messages `ribbon` selects (none without one); it must
    // outlive the window.
    TeamWindow(TeamSetup* setup, QIcon appIcon, design::Prioritizer<design::Ribbon>* ribbon = nullptr,
               QWidget* parent = nullptr);
    ~TeamWindow() override;

    // The onboarding is made anew each time the window enters the choosing state and dropped when
    // it leaves it. Without a factory it is an empty page of the onboarding's size. Setting the
    // factory while choosing replaces the onboarding on screen.
    void setOnboardingFactory(OnboardingFactory factory);
    // The onboarding on screen; null outside the choosing state.
    QWidget* onboarding() const { return m_onboardingContent; }

    TeamSetup* setup() const { return m_setup; }
    // Whether the window's size follows its content (loading and choosing) rather than the user.
    bool followsContentSize() const;

    DialogPresenter* alertPresenter() const { return m_alert; }
    // The loaded team's view; null in the other states.
    TeamView* teamView() const { return m_teamView; }
    DialogPresenter* sheetPresenter() const { return m_sheet; }
    DialogPresenter* confirmationPresenter() const { return m_confirmation; }
    DialogPresenter* fileDialogPresenter() const { return m_fileDialog; }

Q_SIGNALS:
    // The state changed what the window shows.
    void contentChanged();

private:
    void showState();
    void buildOnboarding();
    void dropOnboarding();

    QPointer<TeamSetup> m_setup;
    QPointer<design::Prioritizer<design::Ribbon>> m_ribbon;
    QStackedLayout* m_pages = nullptr;
    QWidget* m_loading = nullptr;
    QWidget* m_onboarding = nullptr;
    QPointer<QWidget> m_onboardingContent;
    OnboardingFactory m_onboardingFactory;
    QWidget* m_team = nullptr;
    QPointer<TeamView> m_teamView;
    DialogPresenter* m_alert = nullptr;
    DialogPresenter* m_sheet = nullptr;
    DialogPresenter* m_confirmation = nullptr;
    DialogPresenter* m_fileDialog = nullptr;
};

} // namespace vantrel
