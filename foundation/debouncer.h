#pragma once

#include "foundation/clock.h"
#include "foundation/publisher.h"

#include <chrono>
#include <functional>
#include <memory>
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

// Passes on the latest value of `upstream` once `interval` has gone by on `clock` without a newer
// one. A value still waiting when the upstream finishes is passed on in its time, then the
// completion. The clock must outlive the subscription and be the one of the thread that delivers
// the values.
template<typename T>
AnyPublisher<T> debounce(const AnyPublisher<T>& upstream, std::chrono::milliseconds interval, Clock& clock)
{
    Clock* timing = &clock;
    return AnyPublisher<T>([upstream, interval, timing](Subscriber<T> downstream) {
        struct State {
            std::unique_ptr<Debouncer<T>> debouncer;
            bool upstreamDone = false;
            bool completed = false;
            bool cancelled = false;
        };
        auto state = std::make_shared<State>();
        std::weak_ptr<State> weakState = state;
        auto finish = [weakState, complete = downstream.complete] {
            auto held = weakState.lock();
            if (!held || held->completed || held->cancelled)
                return;
            held->completed = true;
            complete();
        };
        state->debouncer = std::make_unique<Debouncer<T>>(
            interval,
            [weakState, receive = downstream.receive, finish](const T& value) {
                // Holding the state keeps this debouncer alive while the value is delivered, even
                // when the receiver cancels the subscription.
                auto held = weakState.lock();
                if (!held || held->cancelled)
                    return;
                receive(value);
                if (held->upstreamDone)
                    finish();
            },
            *timing);
        auto subscription = std::make_shared<Cancellable>(upstream.subscribe(Subscriber<T>{
            [weakState](const T& value) {
                if (auto held = weakState.lock(); held && !held->cancelled)
                    held->debouncer->send(value);
            },
            [weakState, finish] {
                auto held = weakState.lock();
                if (!held)
                    return;
                held->upstreamDone = true;
                if (!held->debouncer->isPending())
                    finish();
            }}));
        return Cancellable([state, subscription] {
            state->cancelled = true;
            subscription->cancel();
            state->debouncer->cancel();
        });
    });
}

} // namespace vantrel
