#pragma once

#include <QObject>
#include <QTimer>

namespace vantrel {

// A value that follows its target like a mass on a damped spring, described as interface springs
// are: by `response` (seconds for one undamped oscillation) and `dampingFraction` (1 settles
// without overshoot, less overshoots, more creeps). A new target mid-flight keeps the current
// value and velocity, so a motion that is turned around stays continuous; eased curves cannot.
// It ticks itself at the display's pace while it moves and stops when it has settled.
class SpringAnimator final : public QObject {
    Q_OBJECT
public:
    SpringAnimator(double response, double dampingFraction, double value = 0.0, QObject* parent = nullptr);

    double value() const { return m_value; }
    double velocity() const { return m_velocity; }
    double target() const { return m_target; }
    double response() const { return m_response; }
    double dampingFraction() const { return m_dampingFraction; }
    bool isSettled() const { return !m_ticker.isActive(); }

    // Moves towards `target` from where the value is, at the speed it has.
    void animateTo(double target);
    // Jumps to `value` and stays there.
    void setValue(double value);
    // Advances the motion by `seconds`; the ticker calls it, tests may too.
    void step(double seconds);

    // Within this distance of the target, and slower than this, the spring is at rest.
    static constexpr double restDistance = 0.0005;
    static constexpr double restSpeed = 0.005;

Q_SIGNALS:
    void valueChanged(double value);
    void settled();

private:
    void tick();

    double m_response;
    double m_dampingFraction;
    double m_value;
    double m_velocity = 0.0;
    double m_target;
    QTimer m_ticker;
    qint64 m_lastTick = 0;
};

// Linear interpolation from `from` to `to` by `progress` (not clamped: a spring's overshoot shows).
inline double interpolate(double from, double to, double progress)
{
    return from + (to - from) * progress;
}

} // namespace vantrel
