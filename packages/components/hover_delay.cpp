#include "packages/components/hover_delay.h"

#include <QEvent>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>

namespace vantrel {

DelayedOnHover::DelayedOnHover(QWidget* view, std::uint64_t milliSeconds, std::function<void(bool)> onHover,
                               Clock& clock)
    : QObject(view),
      m_onHover(std::move(onHover)),
      m_milliSeconds(milliSeconds),
      m_clock(clock)
{
    view->installEventFilter(this);
    if (view->isVisible()) {
        // Already on screen: its appearance is now.
        QEvent shown(QEvent::Show);
        eventFilter(view, &shown);
    }
}

DelayedOnHover::~DelayedOnHover()
{
    // A wait that outlives the widget would write into a gone object.
    for (const auto token : m_waiting)
        m_clock.cancel(token);
}

bool DelayedOnHover::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::Leave:
        if (m_enableHover)
            m_onHover(event->type() == QEvent::Enter);
        break;
    case QEvent::Show: {
        // Every appearance waits again; the flag, once set, stays set.
        const auto capped = std::min<std::uint64_t>(m_milliSeconds, std::numeric_limits<std::int64_t>::max());
        auto token = std::make_shared<Clock::Token>();
        *token = m_clock.schedule(std::chrono::milliseconds(static_cast<std::int64_t>(capped)), [this, token] {
            std::erase(m_waiting, *token);
            m_enableHover = true;
        });
        m_waiting.push_back(*token);
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

DelayedOnHover* delayedOnHover(QWidget* view, std::uint64_t milliSeconds, std::function<void(bool)> perform,
                               Clock& clock)
{
    return new DelayedOnHover(view, milliSeconds, std::move(perform), clock);
}

} // namespace vantrel
