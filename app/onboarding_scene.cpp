#include "app/onboarding_scene.h"

#include "onboarding/app_icon_backdrop.h"
#include "onboarding/onboarding_background.h"
#include "onboarding/onboarding_model.h"
#include "onboarding/onboarding_view.h"
#include "onboarding/page_transition.h"
#include "onboarding/pages/onboarding_pages.h"

#include <QVBoxLayout>

#include <memory>

namespace vantrel {

namespace {

// The icon backdrop stands this far below the top of the window.
constexpr int backdropTop = 24;

// The blurred background, with the application icon's backdrop behind the pages that show it.
QWidget* makeBackground(const OnboardingModel& model, QWidget* parent)
{
    auto* background = new OnboardingBackground(parent);
    auto* backdrop = new AppIconBackdrop(background);
    auto* layout = new QVBoxLayout(background);
    layout->setContentsMargins(0, backdropTop, 0, 0);
    layout->addWidget(backdrop);
    // The backdrop comes and goes with the icon transition: it slides in when the first page
    // returns and fades out at once when it leaves. Whether it is wanted is kept apart from its
    // visibility, which a running transition holds back until the spring has settled.
    backdrop->setVisible(model.showsIconBackdrop());
    auto shown = std::make_shared<bool>(model.showsIconBackdrop());
    QObject::connect(&model, &OnboardingModel::changed, backdrop, [&model, background, backdrop, shown] {
        const bool wanted = model.showsIconBackdrop();
        if (wanted == *shown)
            return;
        *shown = wanted;
        if (wanted)
            PageTransition::runIcon(background, nullptr, backdrop);
        else
            PageTransition::runIcon(background, backdrop, nullptr);
    });
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
