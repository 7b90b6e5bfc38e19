#include "onboarding/pages/documents_page.h"

#include "model/strings.h"
#include "onboarding/pages/documents_icon.h"
#include "onboarding/pages/page_layout.h"

namespace vantrel {

DocumentsPage::DocumentsPage(QWidget* parent, Clock& clock) : QWidget(parent), m_icon(new DocumentsIcon(this, clock))
{
    onboarding::layOutTemplatePage(this, m_icon, Strings::documentsOnboardingTitle(),
                                   Strings::documentsOnboardingMessage(), false);
}

} // namespace vantrel
