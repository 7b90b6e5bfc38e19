#include "onboarding/pages/event_locking_page.h"

#include "model/strings.h"
#include "onboarding/pages/event_locking_icon.h"
#include "onboarding/pages/page_layout.h"

namespace vantrel {

EventLockingPage::EventLockingPage(QWidget* parent, Clock& clock)
    : QWidget(parent),
      m_icon(new EventLockingIcon(this, clock))
{
    onboarding::layOutTemplatePage(this, m_icon, Strings::eventLockingOnboardingTitle(),
                                   Strings::eventLockingOnboardingMessage(), true);
}

} // namespace vantrel
