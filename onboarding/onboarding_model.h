#pragma once

#include "onboarding/onboarding_page.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QWidget;

namespace vantrel {

class TeamSetup;

// What the onboarding shows while no team bundle is open: which page is on screen, which pages
// there are, the Next button's title, and the two buttons of the last page that hand over to the
// team setup. The model holds no widgets; the view asks it for them through its factories.
//
// The pages never change after creation; only the current page does, through next(), previous(),
// skip() and the page dots (setCurrentPage()).
class OnboardingModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(vantrel::OnboardingPage currentPage READ currentPage WRITE setCurrentPage NOTIFY currentPageChanged)
    Q_PROPERTY(QList<vantrel::OnboardingPage> pages READ pages CONSTANT)
public:
    // What the last page's buttons do. A missing action makes its button do nothing.
    struct TeamActions {
        std::function<void()> openExistingTeamBundle;
        std::function<void()> createNewTeamBundle;
    };
    // Builds the view of a page; the view owns the result.
    using PageFactory = std::function<QWidget*(OnboardingPage, QWidget* parent)>;
    // Builds what stands behind the whole onboarding; it may follow the model's current page.
    using BackgroundFactory = std::function<QWidget*(const OnboardingModel& model, QWidget* parent)>;

    // The first of `pages` is shown first. Without pages the model falls back to the welcome page
    // alone, so that it always has a page to show.
    OnboardingModel(TeamActions actions, QList<OnboardingPage> pages = allOnboardingPages(), QObject* parent = nullptr);
    ~OnboardingModel() override;

    // A model whose last-page buttons call `setup`. The model does not keep the setup alive: once
    // the setup is gone the buttons do nothing.
    static OnboardingModel* forTeamSetup(TeamSetup* setup, QList<OnboardingPage> pages = allOnboardingPages(),
                                         QObject* parent = nullptr);

    const QList<OnboardingPage>& pages() const { return m_pages; }
    OnboardingPage currentPage() const { return m_currentPage; }
    // Shows `page` (the page dots write here). A page outside `pages` is still shown: the dots
    // then mark none.
    void setCurrentPage(OnboardingPage page);

    // The team setup the model was made for, while it lives; null for a model made from actions.
    TeamSetup* teamSetup() const;

    // One page on, in the pages' own order (not that of `pages`); nothing on the last one.
    void next();
    // One page back; nothing on the first one.
    void previous();
    // Straight to the last of `pages`.
    void skip();

    // "Get Started" on the welcome page, "Next" elsewhere.
    QString nextButtonTitle() const;
    // Next and Skip show on every page but the last of `pages`; the last page shows the final
    // buttons instead.
    bool showsNextButton() const;
    bool showsFinalButtons() const { return !showsNextButton(); }
    // The app-icon backdrop stands behind the first of `pages` only.
    bool showsIconBackdrop() const;

    // The actions of the final buttons.
    void openExistingTeamBundle();
    void createNewTeamBundle();

    // The final buttons, "Open an Existing Team Bundle..." over "Create a New Team...", in one
    // widget; null while they are not to be shown. Their clicks reach this model only while it
    // lives: a click after the model is gone does nothing.
    QWidget* makeFinalButtons(QWidget* parent);
    // The same buttons whatever the page, for a view that sizes its button area ahead of the
    // last page.
    QWidget* buildFinalButtons(QWidget* parent);
    // The view of the current page, from the page factory.
    QWidget* makeContent(QWidget* parent) const;
    // The background, from the background factory.
    QWidget* makeBackground(QWidget* parent) const;

    // The page factory; the default shows each page's name in the page template.
    void setPageFactory(PageFactory factory);
    // The background factory; the default is a plain dark surface.
    void setBackgroundFactory(BackgroundFactory factory);

    static QString pageName(OnboardingPage page);
    static QWidget* defaultPage(OnboardingPage page, QWidget* parent);
    static QWidget* defaultBackground(const OnboardingModel& model, QWidget* parent);

Q_SIGNALS:
    void currentPageChanged(vantrel::OnboardingPage page);
    // Anything the view shows changed (the current page, so far).
    void changed();

private:
    TeamActions m_actions;
    QList<OnboardingPage> m_pages;
    OnboardingPage m_currentPage;
    QPointer<TeamSetup> m_teamSetup;
    PageFactory m_pageFactory;
    BackgroundFactory m_backgroundFactory;
};

} // namespace vantrel
