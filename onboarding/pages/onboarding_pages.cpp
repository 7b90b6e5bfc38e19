#include "onboarding/pages/onboarding_pages.h"

#include "onboarding/pages/collections_page.h"
#include "onboarding/pages/documents_page.h"
#include "onboarding/pages/event_locking_page.h"
#include "onboarding/pages/page_layout.h"
#include "onboarding/pages/teams_page.h"
#include "onboarding/pages/welcome_page.h"

namespace vantrel {

QSize onboardingPageSize()
{
    return onboarding::pageSize;
}

QWidget* makeOnboardingPage(OnboardingPage page, QWidget* parent, TeamSetup* setup)
{
    switch (page) {
    case OnboardingPage::intro:
        return new WelcomePage(parent);
    case OnboardingPage::collections:
        return new CollectionsPage(parent);
    case OnboardingPage::documents:
        return new DocumentsPage(parent);
    case OnboardingPage::eventlocking:
        return new EventLockingPage(parent);
    case OnboardingPage::teams:
        return new TeamsPage(setup, parent);
    }
    return new WelcomePage(parent);
}

} // namespace vantrel
