#pragma once

#include "onboarding/onboarding_page.h"

#include <QSize>

class QWidget;

namespace vantrel {

class TeamSetup;

// The fixed size of every page widget: the onboarding frame's width by the height of the icon
// slot and the text block. The page's message may scroll out to the frame's edges, so a page is
// placed across the frame's whole width, under its top padding.
QSize onboardingPageSize();

// The content of `page`, a fixed-size widget. The teams page watches `setup` (it may be null).
QWidget* makeOnboardingPage(OnboardingPage page, QWidget* parent, TeamSetup* setup = nullptr);

} // namespace vantrel
