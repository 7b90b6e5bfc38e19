#include "app/onboarding_scene.h"

#include "onboarding/app_icon_backdrop.h"
#include "onboarding/onboarding_background.h"
#include "onboarding/onboarding_model.h"
#include "onboarding/onboarding_view.h"
#include "onboarding/pages/onboarding_pages.h"

#include <QVBoxLayout>

namespace vantrel {

namespace {

// The blurred background, with the application icon's backdrop behind the pages that show it.
QWidget* makeBackground(const OnboardingModel& model, QWidget* parent)
{
    auto* background = new OnboardingBackground(parent);
    auto* backdrop = new AppIconBackdrop(background);
    auto* layout = new QVBoxLayout(background);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(backdrop);
    const auto follow = [&model, backdrop] { backdrop->setVisible(model.showsIconBackdrop()); };
    QObject::connect(&model, &OnboardingModel::changed, backdrop, follow);
    follow();
    return background;
}

} // namespace

QWidget* makeOnboardingScene(TeamSetup* setup, QWidget* parent)
{
    OnboardingModel* model = OnboardingModel::forTeamSetup(setup, allOnboardingPages());
    model->setPageFactory(
        [setup](OnboardingPage page, QWidget* pageParent) { return makeOnboardingPage(page, pageParent, setup); });
    model->setBackgroundFactory(&makeBackground);
    return new OnboardingView(model, parent);
}

} // namespace vantrel
