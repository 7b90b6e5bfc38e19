#pragma once

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

namespace vantrel {

// Schedules actions after a delay. Debouncing and other timing go through a Clock so that
// tests can drive time by hand.
class Clock {
public:
    using Token = std::uint64_t;
    virtual ~Clock();

    // Runs `action` once after `delay`, on the thread the clock belongs to.
    virtual Token schedule(std::chrono::milliseconds delay, std::function<void()> action) = 0;
    // Drops a scheduled action that has not run yet; unknown tokens are ignored.
    virtual void cancel(Token token) = 0;
};

// The real clock: Qt timers on the event loop of the thread that owns it.
class TimerClock : public QObject, public Clock {
public:
    explicit TimerClock(QObject* parent = nullptr);
    ~TimerClock() override;

    Token schedule(std::chrono::milliseconds delay, std::function<void()> action) override;
    void cancel(Token token) override;

    // One clock for the interface thread.
    static TimerClock& shared();

private:
    void timerEvent(QTimerEvent* event) override;
    std::map<int, std::function<void()>> m_actions;
};

// A clock that moves only when told to: advance() runs every action that falls due, in order.
class ManualClock : public Clock {
public:
    Token schedule(std::chrono::milliseconds delay, std::function<void()> action) override;
    void cancel(Token token) override;

    void advance(std::chrono::milliseconds by);
    std::chrono::milliseconds now() const { return m_now; }
    std::size_t pendingCount() const { return m_actions.size(); }

private:
    struct Scheduled {
        std::chrono::milliseconds due;
        Token token;
        std::function<void()> action;
    };
    std::chrono::milliseconds m_now{0};
    Token m_next = 1;
    std::map<Token, Scheduled> m_actions;
};

} // namespace vantrel
