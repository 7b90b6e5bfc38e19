#pragma once

#include "open_team/team_setup.h"

#include <QIcon>
#include <QPointer>
#include <QSize>
#include <QWidget>

class QLabel;
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

    TeamWindow(TeamSetup* setup, QIcon appIcon, QWidget* parent = nullptr);
    ~TeamWindow() override;

    TeamSetup* setup() const { return m_setup; }
    // Whether the window's size follows its content (loading and choosing) rather than the user.
    bool followsContentSize() const;

    DialogPresenter* alertPresenter() const { return m_alert; }
    DialogPresenter* sheetPresenter() const { return m_sheet; }
    DialogPresenter* confirmationPresenter() const { return m_confirmation; }
    DialogPresenter* fileDialogPresenter() const { return m_fileDialog; }

Q_SIGNALS:
    // The state changed what the window shows.
    void contentChanged();

private:
    void showState();

    QPointer<TeamSetup> m_setup;
    QStackedLayout* m_pages = nullptr;
    QWidget* m_loading = nullptr;
    QWidget* m_onboarding = nullptr;
    QWidget* m_team = nullptr;
    QLabel* m_teamName = nullptr;
    DialogPresenter* m_alert = nullptr;
    DialogPresenter* m_sheet = nullptr;
    DialogPresenter* m_confirmation = nullptr;
    DialogPresenter* m_fileDialog = nullptr;
};

} // namespace vantrel
