#include "packages/components/confetti.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vantrel {

namespace {

QColor rgb(double red, double green, double blue)
{
    return QColor::fromRgbF(red, green, blue, 1.0);
}

// Blended a tenth of the way towards black.
QColor darkened(const QColor& colour)
{
    return QColor::fromRgbF(colour.redF() * 0.9f, colour.greenF() * 0.9f, colour.blueF() * 0.9f, 1.0);
}

struct SpecialDate {
    std::vector<int> days;
    int month;
    ConfettiGradient gradient;
};

const std::vector<SpecialDate>& specialDates()
{
    static const std::vector<SpecialDate> dates = [] {
        const QColor white = rgb(1.0, 1.0, 1.0);
        const QColor orange = rgb(1.0, 0.617, 0.0);
        return std::vector<SpecialDate>{
            {{21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}, 12, {white, darkened(white)}},
            {{27}, 4, {orange, darkened(orange)}},
        };
    }();
    return dates;
}

constexpr int stepMilliseconds = 16;

} // namespace

std::vector<ConfettiGradient> defaultConfettiGradients()
{
    return {
        {rgb(0.172, 0.524, 0.829), rgb(0.197, 0.631, 1.0)}, // blue
        {rgb(1.0, 0.149, 0.0), rgb(0.886, 0.125, 0.0)},     // red
        {rgb(0.0, 0.925, 0.0), rgb(0.0, 0.843, 0.0)},       // green
        {rgb(0.996, 0.678, 0.0), rgb(0.871, 0.588, 0.0)},   // amber
    };
}

std::vector<ConfettiGradient> confettiGradients(QDate date)
{
    // An invalid date has neither month nor day, and matches nothing.
    const int month = date.isValid() ? date.month() : 0;
    const int day = date.isValid() ? date.day() : 0;
    for (const SpecialDate& special : specialDates()) {
        if (special.month == month && std::ranges::find(special.days, day) != special.days.end())
            return std::vector<ConfettiGradient>(4, special.gradient);
    }
    return defaultConfettiGradients();
}

std::vector<ConfettiCell> confettiCells(QDate date)
{
    std::vector<ConfettiCell> cells;
    for (const ConfettiGradient& gradient : confettiGradients(date)) {
        cells.push_back({gradient, ConfettiShape::tilted});
        cells.push_back({gradient, ConfettiShape::upright});
        cells.push_back({gradient, ConfettiShape::upright});
    }
    return cells;
}

QImage confettiFlakeImage(ConfettiShape shape, const ConfettiGradient& gradient, qreal devicePixelRatio)
{
    constexpr int side = 12;
    QImage image(QSize(side, side) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // The flakes are laid out with y growing upwards.
    painter.translate(0, side);
    painter.scale(1, -1);

    QRectF oval;
    if (shape == ConfettiShape::tilted) {
        painter.translate(5.6, 5.75);
        painter.rotate(-22.49);
        oval = QRectF(-4.35, -5.22, 8.71, 10.44);
    } else {
        oval = QRectF(3, 0, 6, 12);
    }
    // From the top of the oval down to its bottom.
    QLinearGradient fill(QPointF(oval.center().x(), oval.bottom()), QPointF(oval.center().x(), oval.top()));
    fill.setColorAt(0, gradient.start);
    fill.setColorAt(1, gradient.end);
    painter.setBrush(fill);
    painter.drawEllipse(oval);
    return image;
}

Confetti::Confetti(int width, int height, QWidget* parent)
    : QWidget(parent),
      m_emitterPosition(width * 0.5, -100.0),
      m_emitterSize(width, 0),
      m_cells(confettiCells(QDate::currentDate())),
      m_random(std::random_device{}())
{
    setFixedSize(width, height);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    for (const ConfettiCell& cell : m_cells)
        m_images.push_back(confettiFlakeImage(cell.shape, cell.gradient));
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(stepMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        advance(std::chrono::milliseconds(m_clock.restart()));
        update();
    });
}

void Confetti::advance(std::chrono::milliseconds elapsed)
{
    for (auto left = elapsed.count(); left > 0; left -= stepMilliseconds)
        step(std::min<std::int64_t>(left, stepMilliseconds));
}

void Confetti::step(std::int64_t milliseconds)
{
    const double seconds = milliseconds / 1000.0;
    const auto lifetime = ConfettiCellSettings::lifetimeMilliseconds;
    const std::int64_t before = m_now;
    m_now += milliseconds;

    std::erase_if(m_particles, [&](const Particle& particle) { return m_now - particle.bornAt >= lifetime; });
    const QPointF acceleration(ConfettiCellSettings::xAcceleration, ConfettiCellSettings::yAcceleration);
    for (Particle& particle : m_particles) {
        particle.velocity += acceleration * seconds;
        particle.position += particle.velocity * seconds;
    }

    // Every cell gives birth at its own steady rate; counting in whole milliseconds keeps the
    // number of flakes exact however time is cut up.
    const auto born = [](std::int64_t at) { return at * ConfettiCellSettings::birthRate / 1000; };
    for (auto count = born(m_now) - born(before); count > 0; --count) {
        for (int cell = 0; cell < static_cast<int>(m_cells.size()); ++cell)
            emitFlake(cell);
    }
}

void Confetti::emitFlake(int cell)
{
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double x = m_emitterPosition.x() + unit(m_random) * m_emitterSize.width() / 2;
    // Around the emission direction (to the right), half the range either way.
    const double angle = unit(m_random) * ConfettiCellSettings::emissionRange / 2;
    const double scale = ConfettiCellSettings::scale + unit(m_random) * ConfettiCellSettings::scaleRange;
    const QPointF velocity(ConfettiCellSettings::velocity * std::cos(angle),
                           -ConfettiCellSettings::velocity * std::sin(angle));
    m_particles.push_back({cell, QPointF(x, m_emitterPosition.y()), velocity, scale, m_now});
}

void Confetti::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const Particle& particle : m_particles) {
        // A flake reaches no further than its diagonal from its centre.
        const double reach = 9 * particle.scale;
        if (particle.position.y() < -reach || particle.position.y() > height() + reach || particle.position.x() < -reach
            || particle.position.x() > width() + reach)
            continue;
        const double turned = ConfettiCellSettings::spin * (m_now - particle.bornAt) / 1000.0;
        QTransform transform;
        transform.translate(particle.position.x(), particle.position.y());
        transform.rotateRadians(-turned);
        transform.scale(particle.scale, particle.scale);
        painter.setTransform(transform);
        painter.drawImage(QPointF(-6, -6), m_images[particle.cell]);
    }
}

void Confetti::showEvent(QShowEvent* event)
{
    m_clock.start();
    m_timer.start();
    QWidget::showEvent(event);
}

void Confetti::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

} // namespace vantrel
