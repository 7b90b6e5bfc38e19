#include "onboarding/onboarding_background.h"

#include "onboarding/soft_blur.h"

#include <QPaintEvent>
#include <QPainter>

#include <array>
#include <cmath>

namespace vantrel {

namespace {

// An outline as data: a start point, then segments that are cubic curves (end point, first
// control point, second control point) or, with both control points absent, straight lines.
struct Segment {
    QPointF end;
    QPointF control1;
    QPointF control2;
    bool line = false;
};

struct Outline {
    QPointF start;
    std::array<Segment, 10> segments;
    int count;
};

Segment curve(double ex, double ey, double c1x, double c1y, double c2x, double c2y)
{
    return {{ex, ey}, {c1x, c1y}, {c2x, c2y}, false};
}

Segment line(double ex, double ey)
{
    return {{ex, ey}, {}, {}, true};
}

const Outline& outlineData(int index)
{
    // The magenta blob, then the two cyan blobs: two different shapes of the same colour.
    static const std::array<Outline, 3> outlines{{
        {{0.04996, 2.70398},
         {curve(-0.40466, 3.11312, -0.09537, 3.20789, -0.38451, 3.03835),
          curve(-0.41955, 2.07759, -0.39620, 2.79217, -0.40077, 2.41555),
          curve(-0.49286, 1.15753, -0.43069, 1.87714, -0.54763, 1.58287),
          curve(-0.07107, 0.92502, -0.43808, 0.73218, -0.14658, 1.09276),
          curve(0.20491, 0.89901, 0.00444, 0.75729, 0.13679, 0.76240),
          curve(0.60403, 1.38080, 0.27303, 1.03561, 0.45926, 1.16034),
          curve(0.76067, 1.95957, 0.74881, 1.60127, 0.71596, 1.69957),
          curve(0.38023, 2.33797, 0.80539, 2.21958, 0.54588, 2.00156),
          curve(0.04996, 2.70398, 0.27023, 2.56135, 0.17670, 2.26453)},
         9},
        {{-0.18358, 1.99308},
         {curve(0.02399, 1.50935, -0.22234, 1.76325, -0.15742, 1.83315), line(0.23106, 1.22300),
          curve(0.62199, 0.79178, 0.37712, 1.02101, 0.41964, 0.96221),
          curve(1.00905, 0.61290, 0.82435, 0.62135, 0.78985, 0.64696),
          curve(1.04225, 0.95263, 1.22825, 0.57884, 1.05416, 0.66709),
          curve(0.86062, 1.48005, 1.03034, 1.23816, 1.06769, 1.19369),
          curve(0.28886, 2.27072, 0.65355, 1.76640, 0.54693, 1.99395),
          curve(-0.03366, 2.61506, 0.03079, 2.54749, 0.15953, 2.44239),
          curve(-0.13729, 2.38710, -0.22684, 2.78773, -0.12906, 2.62323),
          curve(-0.18358, 1.99308, -0.14552, 2.15096, -0.14482, 2.22292)},
         10},
        {{-0.20093, 1.17105},
         {curve(0.07981, 0.91477, -0.18652, 0.80175, -0.14489, 1.00979), line(0.31891, 0.91477),
          curve(0.74749, 1.05730, 0.48757, 0.91477, 0.53667, 0.91477),
          curve(1.12003, 1.52162, 0.95831, 1.19984, 0.92308, 1.17105),
          curve(1.07786, 2.02409, 1.31697, 1.87220, 1.14778, 1.67351),
          curve(0.81047, 2.38403, 1.00795, 2.37468, 1.04957, 2.38403),
          curve(0.15026, 2.38403, 0.57136, 2.38403, 0.43153, 2.48841),
          curve(-0.20093, 2.25158, -0.13101, 2.27965, 0.00242, 2.37468),
          curve(-0.24310, 1.76782, -0.40428, 2.12848, -0.28526, 2.09032),
          curve(-0.20093, 1.17105, -0.20093, 1.44532, -0.21534, 1.54033)},
         10},
    }};
    return outlines.at(static_cast<std::size_t>(index));
}

} // namespace

OnboardingBackground::Blob OnboardingBackground::blob(int index)
{
    const QColor cyan = QColor::fromRgbF(0.07f, 0.79f, 0.95f);
    static const std::array<Blob, 3> blobs{{
        {{40, 150}, QColor::fromRgbF(0.75f, 0.11f, 0.43f), {489.12515, 277.34741}},
        {{200, 120}, cyan, {611.3645, 168.2379}},
        {{40, 190}, cyan, {611.3645, 168.2379}},
    }};
    return blobs.at(static_cast<std::size_t>(index));
}

QPainterPath OnboardingBackground::outline(int index, QSizeF size)
{
    const Outline& data = outlineData(index);
    const auto scaled = [size](QPointF p) { return QPointF(p.x() * size.width(), p.y() * size.height()); };
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.moveTo(scaled(data.start));
    for (int i = 0; i < data.count; ++i) {
        const Segment& s = data.segments[static_cast<std::size_t>(i)];
        if (s.line)
            path.lineTo(scaled(s.end));
        else
            path.cubicTo(scaled(s.control1), scaled(s.control2), scaled(s.end));
    }
    path.closeSubpath();
    return path;
}

QImage OnboardingBackground::render(QSize size, qreal devicePixelRatio)
{
    // The frame is centred in the widget; the blobs' frames are centred on one another in a
    // stack as large as the largest of them, itself centred in the frame.
    const QPointF frameOrigin((size.width() - frameSize.width()) / 2.0, (size.height() - frameSize.height()) / 2.0);
    QSizeF stack;
    for (int i = 0; i < blobCount; ++i)
        stack = stack.expandedTo(blob(i).frame);
    const QPointF stackOrigin =
        frameOrigin + QPointF((frameSize.width() - stack.width()) / 2.0, (frameSize.height() - stack.height()) / 2.0);

    // Each blob is blurred on its own, with room around the widget for the blur of shapes that
    // lie outside it, and laid over the ones before.
    const int spread = blurSpread(blurRadius);
    const QSize pixels = ((QSizeF(size) + QSizeF(2 * spread, 2 * spread)) * devicePixelRatio).toSize();
    QImage picture(size * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter result(&picture);
    for (int i = 0; i < blobCount; ++i) {
        const Blob b = blob(i);
        QImage layer(pixels, QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        {
            QPainter painter(&layer);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(devicePixelRatio, devicePixelRatio);
            const QPointF frame =
                stackOrigin
                + QPointF((stack.width() - b.frame.width()) / 2.0, (stack.height() - b.frame.height()) / 2.0);
            painter.translate(QPointF(spread, spread) + frame + b.offset);
            painter.fillPath(outline(i, b.frame), b.color);
        }
        layer = blurredImage(layer, blurSigma(blurRadius) * devicePixelRatio);
        result.drawImage(QPointF(-spread * devicePixelRatio, -spread * devicePixelRatio), layer);
    }
    result.end();
    picture.setDevicePixelRatio(devicePixelRatio);
    return picture;
}

OnboardingBackground::OnboardingBackground(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void OnboardingBackground::paintEvent(QPaintEvent* event)
{
    const qreal ratio = devicePixelRatioF();
    if (m_cache.isNull() || m_cache.deviceIndependentSize().toSize() != size() || m_cache.devicePixelRatio() != ratio) {
        m_cache = QPixmap::fromImage(render(size(), ratio));
        ++m_renderCount;
    }
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawPixmap(0, 0, m_cache);
}

} // namespace vantrel
