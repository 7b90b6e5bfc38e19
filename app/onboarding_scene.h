#pragma once

class QWidget;

namespace vantrel {

class TeamSetup;

// The onboarding the team window shows while a team bundle is to be chosen: a new model over
// `setup` with every page, in its view. The view owns the model; both go when the window drops
// the view.
QWidget* makeOnboardingScene(TeamSetup* setup, QWidget* parent);

} // namespace vantrel
