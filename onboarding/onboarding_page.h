#pragma once

#include <QList>

#include <optional>

namespace vantrel {

// The pages of the onboarding, in the order they are shown.
enum class OnboardingPage { intro = 0, collections = 1, documents = 2, eventlocking = 3, teams = 4 };

inline QList<OnboardingPage> allOnboardingPages()
{
    return {OnboardingPage::intro, OnboardingPage::collections, OnboardingPage::documents, OnboardingPage::eventlocking,
            OnboardingPage::teams};
}

// The page of `rawValue`; none outside 0 to 4.
inline std::optional<OnboardingPage> onboardingPage(int rawValue)
{
    if (rawValue < 0 || rawValue > 4)
        return std::nullopt;
    return static_cast<OnboardingPage>(rawValue);
}

} // namespace vantrel
