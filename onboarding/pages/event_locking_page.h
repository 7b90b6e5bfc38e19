#pragma once

#include "foundation/clock.h"

#include <QWidget>

namespace vantrel {

class EventLockingIcon;

// The onboarding page that explains event locking, with the padlock icon and the edition badge
// after its title (the only page that shows it).
class EventLockingPage final : public QWidget {
    Q_OBJECT
public:
    explicit EventLockingPage(QWidget* parent = nullptr, Clock& clock = TimerClock::shared());

    EventLockingIcon* icon() const { return m_icon; }

private:
    EventLockingIcon* m_icon;
};

} // namespace vantrel
