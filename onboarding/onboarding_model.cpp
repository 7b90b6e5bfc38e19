#include "onboarding/onboarding_model.h"

#include "design/icon_provider.h"
#include "design/palette.h"
#include "model/strings.h"
#include "onboarding/onboarding_button.h"
#include "onboarding/page_template.h"
#include "open_team/team_setup.h"
#include "packages/components/animated_binding.h"

#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace vantrel {

OnboardingModel::OnboardingModel(TeamActions actions, QList<OnboardingPage> pages, QObject* parent)
    : QObject(parent),
      m_actions(std::move(actions)),
      m_pages(pages.isEmpty() ? QList<OnboardingPage>{OnboardingPage::intro} : std::move(pages)),
      m_currentPage(m_pages.first()),
      m_pageFactory(&OnboardingModel::defaultPage),
      m_backgroundFactory(&OnboardingModel::defaultBackground)
{
}

OnboardingModel::~OnboardingModel() = default;

OnboardingModel* OnboardingModel::forTeamSetup(TeamSetup* setup, QList<OnboardingPage> pages, QObject* parent)
{
    // The actions hold the setup weakly: the window owns it, not the onboarding.
    const QPointer<TeamSetup> weak(setup);
    TeamActions actions{[weak] {
                            if (weak)
                                weak->openExistingTeamBundle();
                        },
                        [weak] {
                            if (weak)
                                weak->createNewTeamBundle();
                        }};
    auto* model = new OnboardingModel(std::move(actions), std::move(pages), parent);
    model->m_teamSetup = setup;
    return model;
}

TeamSetup* OnboardingModel::teamSetup() const
{
    return m_teamSetup.data();
}

void OnboardingModel::setCurrentPage(OnboardingPage page)
{
    if (page == m_currentPage)
        return;
    m_currentPage = page;
    Q_EMIT currentPageChanged(page);
    Q_EMIT changed();
}

void OnboardingModel::next()
{
    const auto following = onboardingPage(static_cast<int>(m_currentPage) + 1);
    if (!following)
        return;
    withAnimation(Animation::defaultAnimation(), [&] { setCurrentPage(*following); });
}

void OnboardingModel::previous()
{
    const auto preceding = onboardingPage(static_cast<int>(m_currentPage) - 1);
    if (!preceding)
        return;
    withAnimation(Animation::defaultAnimation(), [&] { setCurrentPage(*preceding); });
}

void OnboardingModel::skip()
{
    setCurrentPage(m_pages.last());
}

QString OnboardingModel::nextButtonTitle() const
{
    return m_currentPage == OnboardingPage::intro ? Strings::getStartedButtonTitle() : Strings::nextButtonTitle();
}

bool OnboardingModel::showsNextButton() const
{
    return m_currentPage != m_pages.last();
}

bool OnboardingModel::showsIconBackdrop() const
{
    return m_currentPage == m_pages.first();
}

void OnboardingModel::openExistingTeamBundle()
{
    if (m_actions.openExistingTeamBundle)
        m_actions.openExistingTeamBundle();
}

void OnboardingModel::createNewTeamBundle()
{
    if (m_actions.createNewTeamBundle)
        m_actions.createNewTeamBundle();
}

QWidget* OnboardingModel::makeFinalButtons(QWidget* parent)
{
    return showsFinalButtons() ? buildFinalButtons(parent) : nullptr;
}

QWidget* OnboardingModel::buildFinalButtons(QWidget* parent)
{
    auto* stack = new QWidget(parent);
    stack->setObjectName(QStringLiteral("onboardingFinalButtons"));
    auto* layout = new QVBoxLayout(stack);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    const auto addButton = [&](const QString& objectName, const QString& title, const QString& symbol,
                               void (OnboardingModel::*action)()) {
        auto* button = new OnboardingButton(title + QStringLiteral("..."), OnboardingButton::Height::compact, stack);
        button->setObjectName(objectName);
        button->setIcon(design::IconProvider::icon(symbol, design::neutral(2)));
        // The model is the connection's context: once it is gone, a click does nothing.
        connect(button, &QPushButton::clicked, this, action);
        layout->addWidget(button, 0, Qt::AlignHCenter);
    };
    addButton(QStringLiteral("openExistingTeamBundleButton"), Strings::openExistingTeamBundleButtonTitle(),
              QStringLiteral("shippingbox"), &OnboardingModel::openExistingTeamBundle);
    addButton(QStringLiteral("createNewTeamButton"), Strings::createNewTeamButtonTitle(), QStringLiteral("plus.app"),
              &OnboardingModel::createNewTeamBundle);
    return stack;
}

QWidget* OnboardingModel::makeContent(QWidget* parent) const
{
    return m_pageFactory(m_currentPage, parent);
}

QWidget* OnboardingModel::makeBackground(QWidget* parent) const
{
    return m_backgroundFactory(*this, parent);
}

void OnboardingModel::setPageFactory(PageFactory factory)
{
    m_pageFactory = factory ? std::move(factory) : PageFactory(&OnboardingModel::defaultPage);
}

void OnboardingModel::setBackgroundFactory(BackgroundFactory factory)
{
    m_backgroundFactory = factory ? std::move(factory) : BackgroundFactory(&OnboardingModel::defaultBackground);
}

QString OnboardingModel::pageName(OnboardingPage page)
{
    switch (page) {
    case OnboardingPage::intro:
        return QStringLiteral("Welcome");
    case OnboardingPage::collections:
        return QStringLiteral("Collections");
    case OnboardingPage::documents:
        return QStringLiteral("Documents");
    case OnboardingPage::eventlocking:
        return QStringLiteral("Event Locking");
    case OnboardingPage::teams:
        return QStringLiteral("Teams");
    }
    return {};
}

QWidget* OnboardingModel::defaultPage(OnboardingPage page, QWidget* parent)
{
    auto* page_ = new OnboardingPageTemplate(nullptr, pageName(page), QString(), false, parent);
    page_->setObjectName(QStringLiteral("onboardingPage_%1").arg(static_cast<int>(page)));
    return page_;
}

QWidget* OnboardingModel::defaultBackground(const OnboardingModel&, QWidget* parent)
{
    auto* background = new QWidget(parent);
    background->setObjectName(QStringLiteral("onboardingBackground"));
    background->setAutoFillBackground(true);
    QPalette palette = background->palette();
    palette.setColor(QPalette::Window, design::neutral(7));
    background->setPalette(palette);
    return background;
}

} // namespace vantrel
