#include "packages/components/spring_animator.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vantrel {

namespace {

constexpr int tickMs = 16;
// The longest step integrated at once; a stalled interface thread does not make the spring jump.
constexpr double maxStep = 1.0 / 30.0;
// Steps of the integration inside one step. A stiff spring (a response of a few hundredths of a
// second) needs shorter ones: the integration only stays stable while a step is a small share of
// one oscillation.
constexpr double subStep = 1.0 / 240.0;
constexpr double stepsPerResponse = 40.0;

qint64 nowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

} // namespace

SpringAnimator::SpringAnimator(double response, double dampingFraction, double value, QObject* parent)
    : QObject(parent),
      m_response(std::max(response, 0.001)),
      m_dampingFraction(std::max(dampingFraction, 0.0)),
      m_value(value),
      m_target(value)
{
    m_ticker.setInterval(tickMs);
    m_ticker.setTimerType(Qt::PreciseTimer);
    connect(&m_ticker, &QTimer::timeout, this, &SpringAnimator::tick);
}

void SpringAnimator::animateTo(double target)
{
    m_target = target;
    if (std::abs(m_value - m_target) <= restDistance && std::abs(m_velocity) <= restSpeed) {
        setValue(target);
        return;
    }
    if (!m_ticker.isActive()) {
        m_lastTick = nowMs();
        m_ticker.start();
    }
}

void SpringAnimator::setValue(double value)
{
    const bool moving = m_ticker.isActive();
    m_ticker.stop();
    m_velocity = 0.0;
    m_target = value;
    const bool changed = m_value != value;
    m_value = value;
    if (changed)
        Q_EMIT valueChanged(m_value);
    if (moving)
        Q_EMIT settled();
}

void SpringAnimator::step(double seconds)
{
    // Unit mass: stiffness from the period of one undamped oscillation, damping from its fraction
    // of the critical damping.
    const double angular = 2.0 * std::numbers::pi / m_response;
    const double stiffness = angular * angular;
    const double damping = 2.0 * m_dampingFraction * angular;
    const double longest = std::min(subStep, m_response / stepsPerResponse);
    double remaining = std::clamp(seconds, 0.0, maxStep);
    while (remaining > 0.0) {
        const double dt = std::min(longest, remaining);
        const double acceleration = -stiffness * (m_value - m_target) - damping * m_velocity;
        m_velocity += acceleration * dt; // semi-implicit Euler: stable for these springs
        m_value += m_velocity * dt;
        remaining -= dt;
    }
    if (std::abs(m_value - m_target) <= restDistance && std::abs(m_velocity) <= restSpeed) {
        m_value = m_target;
        m_velocity = 0.0;
        Q_EMIT valueChanged(m_value);
        if (m_ticker.isActive()) {
            m_ticker.stop();
            Q_EMIT settled();
        }
        return;
    }
    Q_EMIT valueChanged(m_value);
}

void SpringAnimator::tick()
{
    const qint64 now = nowMs();
    const double elapsed = static_cast<double>(now - m_lastTick) / 1000.0;
    m_lastTick = now;
    step(elapsed);
}

} // namespace vantrel
