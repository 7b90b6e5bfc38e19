#include "onboarding/pages/collections_page.h"

#include "model/strings.h"
#include "onboarding/pages/collections_icon.h"
#include "onboarding/pages/page_layout.h"

namespace vantrel {

CollectionsPage::CollectionsPage(QWidget* parent, Clock& clock)
    : QWidget(parent),
      m_icon(new CollectionsIcon(this, clock))
{
    // The title is the name of the feature and stays as it is in every language.
    static const QString title = QStringLiteral("Collections");
    onboarding::layOutTemplatePage(this, m_icon, title, Strings::collectionsOnboardingMessage(), false);
}

} // namespace vantrel
