#include "packages/components/animated_binding.h"

namespace vantrel {

namespace {
// Changes are made on the interface thread; each thread keeps its own.
thread_local std::optional<Animation> current;
} // namespace

void withAnimation(const Animation& animation, const std::function<void()>& change)
{
    auto outer = std::exchange(current, animation);
    struct Restore {
        std::optional<Animation>& slot;
        std::optional<Animation> value;
        ~Restore() { slot = std::move(value); }
    } restore{current, std::move(outer)};
    change();
}

std::optional<Animation> currentAnimation()
{
    return current;
}

} // namespace vantrel
