#pragma once

#include "foundation/cancellable.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace vantrel {

// What a publisher delivers to: each value, then at most one completion.
template<typename T>
struct Subscriber {
    std::function<void(const T&)> receive;
    std::function<void()> complete;
};

// A stream of values that cannot fail. Every subscription is independent and lasts until
// its Cancellable is cancelled or destroyed. Values are delivered on the thread that
// publishes them, unless the chain moves them with receiveOn().
template<typename T>
class AnyPublisher {
public:
    using Output = T;
    using SubscribeFunction = std::function<Cancellable(Subscriber<T>)>;

    AnyPublisher() : m_subscribe([](Subscriber<T>) { return Cancellable(); }) {}
    explicit AnyPublisher(SubscribeFunction subscribe) : m_subscribe(std::move(subscribe)) {}

    [[nodiscard]] Cancellable subscribe(Subscriber<T> subscriber) const
    {
        if (!subscriber.receive)
            subscriber.receive = [](const T&) {};
        if (!subscriber.complete)
            subscriber.complete = [] {};
        return m_subscribe(std::move(subscriber));
    }

    [[nodiscard]] Cancellable sink(std::function<void(const T&)> receive, std::function<void()> complete = {}) const
    {
        return subscribe(Subscriber<T>{std::move(receive), std::move(complete)});
    }

    template<typename F>
    auto map(F transform) const -> AnyPublisher<std::decay_t<std::invoke_result_t<F, const T&>>>
    {
        using U = std::decay_t<std::invoke_result_t<F, const T&>>;
        auto upstream = *this;
        return AnyPublisher<U>([upstream, transform](Subscriber<U> downstream) {
            return upstream.subscribe(
                Subscriber<T>{[receive = downstream.receive, transform](const T& value) { receive(transform(value)); },
                              downstream.complete});
        });
    }

    // Passes on only the values for which `include` is true.
    template<typename F>
    AnyPublisher<T> filter(F include) const
    {
        auto upstream = *this;
        return AnyPublisher<T>([upstream, include](Subscriber<T> downstream) {
            return upstream.subscribe(Subscriber<T>{[receive = downstream.receive, include](const T& value) {
                                                        if (include(value))
                                                            receive(value);
                                                    },
                                                    downstream.complete});
        });
    }

    // Publishes the latest value of both once each has published; finishes when both have finished.
    template<typename U>
    AnyPublisher<std::pair<T, U>> combineLatest(const AnyPublisher<U>& other) const;

    // Delivers values and completion through the event loop of `context`'s thread. Nothing is
    // delivered once the subscription is cancelled or the context is destroyed.
    AnyPublisher<T> receiveOn(QObject* context) const;

    // Passes a value on only when it differs from the one passed on before it.
    AnyPublisher<T> removeDuplicates() const;

    // Publishes the values of both, as each comes; finishes when both have finished.
    AnyPublisher<T> merge(const AnyPublisher<T>& other) const;

private:
    SubscribeFunction m_subscribe;
};

// Publishes one value to each subscriber as it subscribes, then finishes.
template<typename T>
AnyPublisher<T> just(T value)
{
    return AnyPublisher<T>([value = std::move(value)](Subscriber<T> subscriber) {
        subscriber.receive(value);
        subscriber.complete();
        return Cancellable();
    });
}

namespace detail {

// Carries a subject's values as Qt signals, so that subscribing, cancelling and sending are
// safe from any thread, also while a value is being delivered.
class SignalRelay : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
Q_SIGNALS:
    void sent(const std::shared_ptr<const void>& value);
    void completed();
};

} // namespace detail

// A publisher that relays what is sent to it, to the subscribers present at that moment.
// After send-completion it publishes nothing more, and later subscribers finish at once.
template<typename T>
class PassthroughSubject {
public:
    PassthroughSubject() : m_state(std::make_shared<State>()) {}

    void send(const T& value) const
    {
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->finished)
                return;
        }
        Q_EMIT m_state->relay.sent(std::make_shared<const T>(value));
    }

    void sendCompletion() const
    {
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->finished)
                return;
            m_state->finished = true;
        }
        Q_EMIT m_state->relay.completed();
    }

    AnyPublisher<T> publisher() const
    {
        std::weak_ptr<State> weakState = m_state;
        return AnyPublisher<T>([weakState](Subscriber<T> subscriber) -> Cancellable {
            auto state = weakState.lock();
            if (!state) {
                subscriber.complete();
                return Cancellable();
            }
            std::unique_lock lock(state->mutex);
            if (state->finished) {
                lock.unlock();
                subscriber.complete();
                return Cancellable();
            }
            auto onValue = QObject::connect(&state->relay, &detail::SignalRelay::sent,
                                            [receive = subscriber.receive](const std::shared_ptr<const void>& value) {
                                                receive(*static_cast<const T*>(value.get()));
                                            });
            auto onCompletion = QObject::connect(&state->relay, &detail::SignalRelay::completed, subscriber.complete);
            return Cancellable([onValue, onCompletion] {
                QObject::disconnect(onValue);
                QObject::disconnect(onCompletion);
            });
        });
    }

    operator AnyPublisher<T>() const { return publisher(); }

private:
    struct State {
        std::mutex mutex;
        bool finished = false;
        detail::SignalRelay relay;
    };
    std::shared_ptr<State> m_state;
};

template<typename T>
template<typename U>
AnyPublisher<std::pair<T, U>> AnyPublisher<T>::combineLatest(const AnyPublisher<U>& other) const
{
    auto first = *this;
    return AnyPublisher<std::pair<T, U>>([first, other](Subscriber<std::pair<T, U>> downstream) {
        struct State {
            std::mutex mutex;
            std::optional<T> left;
            std::optional<U> right;
            bool leftDone = false;
            bool rightDone = false;
            bool completed = false;
        };
        auto state = std::make_shared<State>();
        const auto emitIfReady = [state, receive = downstream.receive](std::unique_lock<std::mutex>& lock) {
            if (!state->left || !state->right || state->completed)
                return;
            std::pair<T, U> value(*state->left, *state->right);
            lock.unlock();
            receive(value);
        };
        const auto completeIfDone = [state, complete = downstream.complete](std::unique_lock<std::mutex>& lock) {
            if (!state->leftDone || !state->rightDone || state->completed)
                return;
            state->completed = true;
            lock.unlock();
            complete();
        };
        auto leftSubscription = first.subscribe(Subscriber<T>{[state, emitIfReady](const T& value) {
                                                                  std::unique_lock lock(state->mutex);
                                                                  state->left = value;
                                                                  emitIfReady(lock);
                                                              },
                                                              [state, completeIfDone] {
                                                                  std::unique_lock lock(state->mutex);
                                                                  state->leftDone = true;
                                                                  completeIfDone(lock);
                                                              }});
        auto rightSubscription = other.subscribe(Subscriber<U>{[state, emitIfReady](const U& value) {
                                                                   std::unique_lock lock(state->mutex);
                                                                   state->right = value;
                                                                   emitIfReady(lock);
                                                               },
                                                               [state, completeIfDone] {
                                                                   std::unique_lock lock(state->mutex);
                                                                   state->rightDone = true;
                                                                   completeIfDone(lock);
                                                               }});
        auto subscriptions = std::make_shared<std::pair<Cancellable, Cancellable>>(std::move(leftSubscription),
                                                                                   std::move(rightSubscription));
        return Cancellable([subscriptions] {
            subscriptions->first.cancel();
            subscriptions->second.cancel();
        });
    });
}

template<typename T>
AnyPublisher<T> AnyPublisher<T>::receiveOn(QObject* context) const
{
    auto upstream = *this;
    QPointer<QObject> target(context);
    return AnyPublisher<T>([upstream, target](Subscriber<T> downstream) {
        auto alive = std::make_shared<std::atomic<bool>>(true);
        auto post = [target, alive](std::function<void()> deliver) {
            if (!target)
                return;
            QMetaObject::invokeMethod(
                target.data(),
                [alive, deliver = std::move(deliver)] {
                    if (alive->load())
                        deliver();
                },
                Qt::QueuedConnection);
        };
        auto subscription = std::make_shared<Cancellable>(upstream.subscribe(Subscriber<T>{
            [post, receive = downstream.receive](const T& value) { post([receive, value] { receive(value); }); },
            [post, complete = downstream.complete] { post(complete); }}));
        return Cancellable([alive, subscription] {
            alive->store(false);
            subscription->cancel();
        });
    });
}

template<typename T>
AnyPublisher<T> AnyPublisher<T>::removeDuplicates() const
{
    auto upstream = *this;
    return AnyPublisher<T>([upstream](Subscriber<T> downstream) {
        // One subscription's values arrive one after the other.
        auto last = std::make_shared<std::optional<T>>();
        return upstream.subscribe(Subscriber<T>{[last, receive = downstream.receive](const T& value) {
                                                    if (*last && **last == value)
                                                        return;
                                                    *last = value;
                                                    receive(value);
                                                },
                                                downstream.complete});
    });
}

template<typename T>
AnyPublisher<T> AnyPublisher<T>::merge(const AnyPublisher<T>& other) const
{
    auto first = *this;
    return AnyPublisher<T>([first, other](Subscriber<T> downstream) {
        auto remaining = std::make_shared<std::atomic<int>>(2);
        auto completeOne = [remaining, complete = downstream.complete] {
            if (remaining->fetch_sub(1) == 1)
                complete();
        };
        auto left = std::make_shared<Cancellable>(first.subscribe(Subscriber<T>{downstream.receive, completeOne}));
        auto right = std::make_shared<Cancellable>(other.subscribe(Subscriber<T>{downstream.receive, completeOne}));
        return Cancellable([left, right] {
            left->cancel();
            right->cancel();
        });
    });
}

} // namespace vantrel
