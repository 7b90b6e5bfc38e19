#include "foundation/clock.h"

#include <QCoreApplication>
#include <QTimerEvent>

#include <algorithm>
#include <tuple>

namespace vantrel {

Clock::~Clock() = default;

TimerClock::TimerClock(QObject* parent) : QObject(parent) {}

TimerClock::~TimerClock() = default;

Clock::Token TimerClock::schedule(std::chrono::milliseconds delay, std::function<void()> action)
{
    const int id = startTimer(std::max(delay, std::chrono::milliseconds(0)), Qt::PreciseTimer);
    m_actions.emplace(id, std::move(action));
    return static_cast<Token>(id);
}

void TimerClock::cancel(Token token)
{
    const int id = static_cast<int>(token);
    if (m_actions.erase(id) > 0)
        killTimer(id);
}

void TimerClock::timerEvent(QTimerEvent* event)
{
    const auto found = m_actions.find(event->timerId());
    killTimer(event->timerId());
    if (found == m_actions.end())
        return;
    auto action = std::move(found->second);
    m_actions.erase(found);
    action();
}

TimerClock& TimerClock::shared()
{
    static auto* clock = [] {
        auto* created = new TimerClock(QCoreApplication::instance());
        return created;
    }();
    return *clock;
}

Clock::Token ManualClock::schedule(std::chrono::milliseconds delay, std::function<void()> action)
{
    const Token token = m_next++;
    m_actions.emplace(token,
                      Scheduled{m_now + std::max(delay, std::chrono::milliseconds(0)), token, std::move(action)});
    return token;
}

void ManualClock::cancel(Token token)
{
    m_actions.erase(token);
}

void ManualClock::advance(std::chrono::milliseconds by)
{
    const auto target = m_now + by;
    for (;;) {
        // The earliest due action, ties in the order scheduled; actions may schedule or cancel others.
        auto next = std::min_element(m_actions.begin(), m_actions.end(), [](const auto& a, const auto& b) {
            return std::tie(a.second.due, a.second.token) < std::tie(b.second.due, b.second.token);
        });
        if (next == m_actions.end() || next->second.due > target)
            break;
        m_now = next->second.due;
        auto action = std::move(next->second.action);
        m_actions.erase(next);
        action();
    }
    m_now = target;
}

} // namespace vantrel
