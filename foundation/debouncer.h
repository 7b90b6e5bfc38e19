#pragma once

#include "foundation/clock.h"

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

namespace vantrel {

// Passes on the latest value once `interval` has gone by without a newer one. Lives on one
// thread (the clock's); destroying it drops a value still waiting.
template<typename T>
class Debouncer {
public:
    Debouncer(std::chrono::milliseconds interval, std::function<void(const T&)> output, Clock& clock)
        : m_interval(interval),
          m_output(std::move(output)),
          m_clock(clock)
    {
    }
    ~Debouncer() { cancel(); }

    Debouncer(const Debouncer&) = delete;
    Debouncer& operator=(const Debouncer&) = delete;

    void send(T value)
    {
        cancel();
        m_pending = std::move(value);
        m_token = m_clock.schedule(m_interval, [this] {
            m_token.reset();
            auto value = std::move(*m_pending);
            m_pending.reset();
            m_output(value);
        });
    }

    // Drops a value that has not been passed on yet.
    void cancel()
    {
        if (m_token)
            m_clock.cancel(*m_token);
        m_token.reset();
        m_pending.reset();
    }

    bool isPending() const { return m_token.has_value(); }

private:
    std::chrono::milliseconds m_interval;
    std::function<void(const T&)> m_output;
    Clock& m_clock;
    std::optional<Clock::Token> m_token;
    std::optional<T> m_pending;
};

} // namespace vantrel
