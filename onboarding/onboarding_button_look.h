#pragma once

class QAbstractButton;

namespace vantrel {

// The heights of the onboarding's large buttons: Next is tall, the last page's buttons short.
enum class OnboardingButtonHeight { tall = 42, short_ = 32 };

// The look of the onboarding's buttons: a wide pill of a pale blue-grey tint, at least 304 wide,
// with a faint light border; the fill grows stronger while pressed and fades when disabled.
void applyOnboardingButtonLook(QAbstractButton& button, OnboardingButtonHeight height);

} // namespace vantrel
