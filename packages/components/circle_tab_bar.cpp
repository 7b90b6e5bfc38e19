#include "packages/components/circle_tab_bar.h"

#include "packages/components/component_colors.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vantrel {

namespace {

constexpr double dotHeight = 6;
constexpr double cornerRadius = 25; // clamped by the dot's size: a circle, or a pill with round ends
constexpr double hoverScale = 1.3;
constexpr double springResponse = 0.5; // seconds
constexpr double springDamping = 0.85;
constexpr int springMilliseconds = 750; // by then the spring has settled to within 0.1 %

// A damped spring released from 0 towards 1, over springMilliseconds.
qreal spring(qreal progress)
{
    if (progress >= 1)
        return 1;
    constexpr double omega = 2 * std::numbers::pi / springResponse;
    const double decay = springDamping * omega;
    const double dampedOmega = omega * std::sqrt(1 - springDamping * springDamping);
    const double t = progress * springMilliseconds / 1000.0;
    return 1 - std::exp(-decay * t) * (std::cos(dampedOmega * t) + decay / dampedOmega * std::sin(dampedOmega * t));
}

CircleTabBarBase::Look mix(const CircleTabBarBase::Look& a, const CircleTabBarBase::Look& b, double t)
{
    const auto at = [t](double from, double to) { return from + (to - from) * t; };
    return {at(a.width, b.width), at(a.height, b.height), at(a.opacity, b.opacity), at(a.scale, b.scale),
            at(a.horizontalPadding, b.horizontalPadding)};
}

} // namespace

struct CircleTabBarBase::Dot {
    bool selected = false;
    bool hovered = false;
    Look from;
    Look shown;
    QVariantAnimation* animation = nullptr;
};

CircleTabBarBase::Look CircleTabBarBase::look(bool selected, bool hovered)
{
    return {selected ? 24.0 : 6.0, dotHeight, selected ? 1.0 : 0.4, hovered ? hoverScale : 1.0, hovered ? 2.0 : 0.0};
}

CircleTabBarBase::CircleTabBarBase(int pageCount, QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    for (int i = 0; i < pageCount; ++i) {
        auto dot = std::make_unique<Dot>();
        dot->shown = look(false, false);
        dot->animation = new QVariantAnimation(this);
        dot->animation->setStartValue(0.0);
        dot->animation->setEndValue(1.0);
        dot->animation->setDuration(springMilliseconds);
        QEasingCurve curve;
        curve.setCustomType(spring);
        dot->animation->setEasingCurve(curve);
        connect(dot->animation, &QVariantAnimation::valueChanged, this, [this, raw = dot.get()](const QVariant& value) {
            raw->shown = mix(raw->from, look(raw->selected, raw->hovered), value.toDouble());
            updateGeometry();
            update();
        });
        m_dots.push_back(std::move(dot));
    }
}

CircleTabBarBase::~CircleTabBarBase() = default;

bool CircleTabBarBase::isDotSelected(int index) const
{
    return m_dots.at(index)->selected;
}

bool CircleTabBarBase::isDotHovered(int index) const
{
    return m_dots.at(index)->hovered;
}

CircleTabBarBase::Look CircleTabBarBase::targetLook(int index) const
{
    const Dot& dot = *m_dots.at(index);
    return look(dot.selected, dot.hovered);
}

CircleTabBarBase::Look CircleTabBarBase::shownLook(int index) const
{
    return m_dots.at(index)->shown;
}

void CircleTabBarBase::updateSelection()
{
    for (int i = 0; i < dotCount(); ++i) {
        Dot& dot = *m_dots[i];
        const bool selected = isPageSelected(i);
        if (!m_evaluated) {
            // The first look is taken as it is, without springing into it.
            dot.selected = selected;
            dot.shown = look(dot.selected, dot.hovered);
        } else if (selected != dot.selected) {
            dot.selected = selected;
            animate(dot);
        }
    }
    m_evaluated = true;
    updateGeometry();
    update();
}

void CircleTabBarBase::animate(Dot& dot)
{
    dot.from = dot.shown;
    dot.animation->stop();
    dot.animation->start();
}

double CircleTabBarBase::rowWidth() const
{
    double row = spacing * std::max(0, dotCount() - 1);
    for (const auto& dot : m_dots)
        row += dot->shown.width + 2 * dot->shown.horizontalPadding;
    return row;
}

QSize CircleTabBarBase::sizeHint() const
{
    // Room for the row as it is drawn now, plus what a hovered pill grows beyond its frame.
    const double row = rowWidth();
    const double grow = 24 * (hoverScale - 1) / 2;
    return QSize(static_cast<int>(std::ceil(row + 2 * grow)), static_cast<int>(std::ceil(dotHeight * hoverScale)));
}

int CircleTabBarBase::dotAt(QPointF position) const
{
    double x = (width() - rowWidth()) / 2;
    for (int i = 0; i < dotCount(); ++i) {
        const double slot = m_dots[i]->shown.width + 2 * m_dots[i]->shown.horizontalPadding;
        if (position.x() >= x && position.x() < x + slot)
            return i;
        x += slot + spacing;
    }
    return -1;
}

void CircleTabBarBase::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(component_colors::pageDot());

    double x = (width() - rowWidth()) / 2;
    const double centreY = height() / 2.0;
    for (const auto& dot : m_dots) {
        const Look& l = dot->shown;
        const QPointF centre(x + l.horizontalPadding + l.width / 2, centreY);
        const QSizeF size(l.width * l.scale, l.height * l.scale);
        const double radius = std::min({cornerRadius * l.scale, size.width() / 2, size.height() / 2});
        painter.setOpacity(std::clamp(l.opacity, 0.0, 1.0));
        painter.drawRoundedRect(QRectF(centre - QPointF(size.width() / 2, size.height() / 2), size), radius, radius);
        x += l.width + 2 * l.horizontalPadding + spacing;
    }
}

void CircleTabBarBase::setHovered(int index)
{
    for (int i = 0; i < dotCount(); ++i) {
        Dot& dot = *m_dots[i];
        const bool hovered = i == index;
        if (hovered != dot.hovered) {
            dot.hovered = hovered;
            animate(dot);
        }
    }
}

void CircleTabBarBase::mouseMoveEvent(QMouseEvent* event)
{
    setHovered(dotAt(event->position()));
    QWidget::mouseMoveEvent(event);
}

void CircleTabBarBase::leaveEvent(QEvent* event)
{
    setHovered(-1);
    QWidget::leaveEvent(event);
}

void CircleTabBarBase::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton ? dotAt(event->position()) : -1;
}

void CircleTabBarBase::mouseReleaseEvent(QMouseEvent* event)
{
    // A click is a press and a release on the same dot.
    const int pressed = std::exchange(m_pressed, -1);
    if (event->button() == Qt::LeftButton && pressed >= 0 && pressed == dotAt(event->position()))
        selectPage(pressed);
}

} // namespace vantrel
