#include "packages/components/activity_indicator.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace vantrel {

namespace {

constexpr int spinnerTicks = 12;
constexpr int spinnerInterval = 1000 / spinnerTicks; // one turn a second
constexpr int barInterval = 30;
constexpr int barCycle = 50; // frames for the bar's segment to cross the track once

int spinnerDiameter(ControlSize size)
{
    switch (size) {
    case ControlSize::mini:
        return 10;
    case ControlSize::small:
        return 16;
    case ControlSize::regular:
        return 24;
    case ControlSize::large:
        return 32;
    }
    return 24;
}

int barThickness(ControlSize size)
{
    switch (size) {
    case ControlSize::mini:
        return 3;
    case ControlSize::small:
        return 4;
    case ControlSize::regular:
        return 6;
    case ControlSize::large:
        return 8;
    }
    return 6;
}

} // namespace

ActivityIndicator::ActivityIndicator(Fields fields, QWidget* parent)
    : QWidget(parent),
      m_fields(std::move(fields)),
      m_style(m_fields.style),
      m_controlSize(m_fields.controlSize)
{
    if (m_style == Style::spinning) {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        m_timer.setInterval(spinnerInterval);
    } else {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        m_timer.setInterval(barInterval);
    }
    connect(&m_timer, &QTimer::timeout, this, &ActivityIndicator::advance);
    updateAnimation();
}

ActivityIndicator::~ActivityIndicator() = default;

void ActivityIndicator::setFields(Fields fields)
{
    m_fields = std::move(fields);
    updateAnimation();
}

void ActivityIndicator::updateAnimation()
{
    const bool animating = m_fields.isAnimating && m_fields.isAnimating();
    if (animating == m_animating)
        return;
    m_animating = animating;
    m_phase = 0;
    updateTimer(isVisible());
    update();
}

QSize ActivityIndicator::sizeHint() const
{
    if (m_style == Style::spinning) {
        const int diameter = spinnerDiameter(m_controlSize);
        return {diameter, diameter};
    }
    const int thickness = barThickness(m_controlSize);
    return {thickness * 20, thickness};
}

QSize ActivityIndicator::minimumSizeHint() const
{
    if (m_style == Style::spinning)
        return sizeHint();
    const int thickness = barThickness(m_controlSize);
    return {thickness * 4, thickness};
}

void ActivityIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_style == Style::spinning)
        paintSpinner(painter);
    else
        paintBar(painter);
}

void ActivityIndicator::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateTimer(true);
}

void ActivityIndicator::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    updateTimer(false);
}

void ActivityIndicator::advance()
{
    m_phase = (m_phase + 1) % (m_style == Style::spinning ? spinnerTicks : barCycle);
    update();
}

void ActivityIndicator::updateTimer(bool visible)
{
    if (m_animating && visible)
        m_timer.start();
    else
        m_timer.stop();
}

// Twelve ticks around the centre; the one at the head of the turn is opaque and the ones behind it
// fade out. A stopped wheel is not drawn.
void ActivityIndicator::paintSpinner(QPainter& painter)
{
    if (!m_animating)
        return;
    const int diameter = std::min({spinnerDiameter(m_controlSize), width(), height()});
    const qreal radius = diameter / 2.0;
    QPen pen(palette().color(QPalette::WindowText));
    pen.setWidthF(std::max(1.0, diameter / 11.0));
    pen.setCapStyle(Qt::RoundCap);

    painter.translate(width() / 2.0, height() / 2.0);
    for (int tick = 0; tick < spinnerTicks; ++tick) {
        const int behindHead = (m_phase - tick + spinnerTicks) % spinnerTicks;
        QColor color = pen.color();
        color.setAlphaF(1.0 - 0.75 * behindHead / (spinnerTicks - 1));
        QPen tickPen = pen;
        tickPen.setColor(color);
        painter.setPen(tickPen);
        painter.save();
        painter.rotate(tick * 360.0 / spinnerTicks);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius + pen.widthF() / 2));
        painter.restore();
    }
}

// A rounded track; while animating, a segment a third of its length slides across it again and
// again.
void ActivityIndicator::paintBar(QPainter& painter)
{
    const int thickness = std::min(barThickness(m_controlSize), height());
    const QRectF track(0, (height() - thickness) / 2.0, width(), thickness);
    const qreal corner = thickness / 2.0;

    QColor trackColor = palette().color(QPalette::WindowText);
    trackColor.setAlphaF(0.15);
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, corner, corner);
    if (!m_animating)
        return;

    const qreal segmentWidth = track.width() / 3.0;
    const qreal travel = track.width() + segmentWidth;
    const qreal left = track.left() - segmentWidth + travel * m_phase / barCycle;
    QPainterPath clip;
    clip.addRoundedRect(track, corner, corner);
    painter.setClipPath(clip);
    painter.setBrush(palette().color(QPalette::Highlight));
    painter.drawRoundedRect(QRectF(left, track.top(), segmentWidth, track.height()), corner, corner);
}

} // namespace vantrel
