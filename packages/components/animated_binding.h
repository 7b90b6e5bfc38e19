#pragma once

#include <QEasingCurve>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

namespace vantrel {

// How a change is animated: for how long and along which curve.
struct Animation {
    std::chrono::milliseconds duration{350};
    QEasingCurve curve{QEasingCurve::InOutQuad};

    // The animation used when nothing more specific is asked for.
    static Animation defaultAnimation() { return {}; }
};

// Runs `change` with `animation` as the current animation: a widget that applies a change
// made inside it animates the change with it.
void withAnimation(const Animation& animation, const std::function<void()>& change);

// The animation of the change running now, if it runs inside withAnimation().
std::optional<Animation> currentAnimation();

// Read and write access to a value kept elsewhere.
template<typename T>
struct Binding {
    std::function<T()> get;
    std::function<void(const T&)> set;

    // The same value, whose writes run inside the default animation. Reads are unchanged, and
    // writes made through this binding's own setter elsewhere are not animated.
    Binding withDefaultAnimation() const
    {
        return Binding{[source = *this] { return source.get(); },
                       [source = *this](const T& value) {
                           withAnimation(Animation::defaultAnimation(), [&] { source.set(value); });
                       }};
    }
};

} // namespace vantrel
