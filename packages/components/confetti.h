#pragma once

#include <QColor>
#include <QDate>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

namespace vantrel {

// A two-colour gradient a flake of confetti is filled with, from top to bottom.
struct ConfettiGradient {
    QColor start;
    QColor end;
    bool operator==(const ConfettiGradient&) const = default;
};

enum class ConfettiShape { tilted, upright };

// One kind of flake the emitter sends out.
struct ConfettiCell {
    ConfettiGradient gradient;
    ConfettiShape shape;
    bool operator==(const ConfettiCell&) const = default;
};

// The settings every cell shares. Lengths in points, times in seconds, angles in radians.
struct ConfettiCellSettings {
    static constexpr double scale = 1.0;
    static constexpr double scaleRange = 0.5;
    static constexpr int birthRate = 5; // flakes per second
    static constexpr int lifetimeMilliseconds = 10'000;
    static constexpr double velocity = 150;
    static constexpr double spin = 5;
    static constexpr double xAcceleration = 5;
    static constexpr double yAcceleration = 0;
    static constexpr double emissionRange = 0.7853981633974483; // a quarter turn around the right
};

// Blue, red, green and amber.
std::vector<ConfettiGradient> defaultConfettiGradients();
// The four gradients of a day: from 21 to 31 December all white, on 27 April all orange, the
// default four on any other day.
std::vector<ConfettiGradient> confettiGradients(QDate date);
// The twelve cells of a day: for each of its gradients in order, one tilted and two upright.
std::vector<ConfettiCell> confettiCells(QDate date);
// A 12 by 12 point image of one flake.
QImage confettiFlakeImage(ConfettiShape shape, const ConfettiGradient& gradient, qreal devicePixelRatio = 2);

// Small coloured flakes sent out without end from a line 100 points above the widget's top
// edge, as wide as the widget: each leaves to the right within 22.5 degrees up or down,
// spinning, and the downward ones cross the widget. The size, the emitting line and the colours
// (by today's date) are fixed when the widget is made; the flakes move while it is shown.
class Confetti : public QWidget {
    Q_OBJECT
public:
    Confetti(int width, int height, QWidget* parent = nullptr);

    // The centre of the emitting line and its size, in the widget's coordinates.
    QPointF emitterPosition() const { return m_emitterPosition; }
    QSizeF emitterSize() const { return m_emitterSize; }
    const std::vector<ConfettiCell>& cells() const { return m_cells; }
    int particleCount() const { return static_cast<int>(m_particles.size()); }

    // Moves the flakes on by `elapsed`, emitting and retiring them as they fall due.
    void advance(std::chrono::milliseconds elapsed);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Particle {
        int cell;
        QPointF position;
        QPointF velocity;
        double scale;
        std::int64_t bornAt; // milliseconds
    };

    void step(std::int64_t milliseconds);
    void emitFlake(int cell);

    const QPointF m_emitterPosition;
    const QSizeF m_emitterSize;
    const std::vector<ConfettiCell> m_cells;
    std::vector<QImage> m_images;
    std::vector<Particle> m_particles;
    std::int64_t m_now = 0;
    std::mt19937 m_random;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

} // namespace vantrel
