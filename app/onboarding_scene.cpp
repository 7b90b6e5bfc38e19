#include "app/onboarding_scene.h"

#include "onboarding/onboarding_model.h"
#include "onboarding/onboarding_view.h"

namespace vantrel {

QWidget* makeOnboardingScene(TeamSetup* setup, QWidget* parent)
{
    OnboardingModel* model = OnboardingModel::forTeamSetup(setup, allOnboardingPages());
    return new OnboardingView(model, parent);
}

} // namespace vantrel
