#pragma once

#include <functional>
#include <utility>

namespace vantrel {

// Owns one subscription and ends it when cancelled, reassigned or destroyed. Models keep
// one per subscription, in a field named after what it cancels, so that releasing the
// model really ends every subscription it holds.
class Cancellable {
public:
    Cancellable() = default;
    explicit Cancellable(std::function<void()> cancel) : m_cancel(std::move(cancel)) {}
    ~Cancellable() { cancel(); }

    Cancellable(const Cancellable&) = delete;
    Cancellable& operator=(const Cancellable&) = delete;
    Cancellable(Cancellable&& other) noexcept : m_cancel(std::exchange(other.m_cancel, {})) {}
    Cancellable& operator=(Cancellable&& other) noexcept
    {
        if (this != &other) {
            cancel();
            m_cancel = std::exchange(other.m_cancel, {});
        }
        return *this;
    }

    void cancel()
    {
        if (auto action = std::exchange(m_cancel, {}))
            action();
    }

    bool isActive() const { return static_cast<bool>(m_cancel); }

private:
    std::function<void()> m_cancel;
};

} // namespace vantrel
