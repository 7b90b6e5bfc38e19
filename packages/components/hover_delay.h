#pragma once

#include "foundation/clock.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <vector>

class QWidget;

namespace vantrel {

// Reports the pointer entering (true) and leaving (false) a widget, but only once the widget
// has been on screen for a delay. Events during that first interval are dropped, not queued.
// The delay counts from the widget's appearance; once it has passed it never applies again,
// also when the widget is hidden and shown again. The action given at creation is the one
// called for the widget's whole life.
class DelayedOnHover : public QObject {
    Q_OBJECT
public:
    // Watches `view` and lives as long as it does.
    DelayedOnHover(QWidget* view, std::uint64_t milliSeconds, std::function<void(bool)> onHover,
                   Clock& clock = TimerClock::shared());
    ~DelayedOnHover() override;

    // Whether the delay has passed and hover changes are reported.
    bool isHoverEnabled() const { return m_enableHover; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const std::function<void(bool)> m_onHover;
    const std::uint64_t m_milliSeconds;
    Clock& m_clock;
    bool m_enableHover = false;
    std::vector<Clock::Token> m_waiting;
};

// Installs a DelayedOnHover on `view` and returns it (owned by `view`).
DelayedOnHover* delayedOnHover(QWidget* view, std::uint64_t milliSeconds, std::function<void(bool)> perform,
                               Clock& clock = TimerClock::shared());

} // namespace vantrel
