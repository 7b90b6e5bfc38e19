#include "design/palette.h"

#include <QtGlobal>

#include <array>
#include <cmath>

namespace vantrel::design {

namespace {

template<std::size_t N>
QColor pick(const std::array<QRgb, N>& colours, int position)
{
    Q_ASSERT_X(position >= 0 && position < int(N), "design palette", "position outside the palette");
    return QColor::fromRgb(colours[std::size_t(qBound(0, position, int(N) - 1))]);
}

// A cool grey ramp with a touch of blue, so that the dark surfaces do not look muddy.
constexpr std::array<QRgb, kNeutralSteps> neutralSteps{
    0xfff2f2f5, // 0
    0xffd0d0d7, // 1
    0xffa3a3ad, // 2
    0xff7d7d88, // 3
    0xff5b5b65, // 4
    0xff404048, // 5
    0xff2c2c32, // 6
    0xff1f1f23, // 7
    0xff161619, // 8
    0xffffffff, // 9
};

constexpr std::array<QRgb, kStyleCount> styleColours{
    0xfff2f2f5, // 0  primary text
    0xffd0d0d7, // 1  secondary text
    0xff9a9aa4, // 2  muted text
    0xff85858f, // 3  placeholder text
    0xff64646d, // 4  disabled text
    0xff6fa8ff, // 5  link text
    0xff1f1f23, // 6  window background
    0xff242429, // 7  content background
    0xff2a2a30, // 8  bar background
    0xff323239, // 9  raised surface
    0xff3a3a42, // 10 hover fill
    0xff45454e, // 11 pressed fill
    0xff3c3c44, // 12 separator
    0xff2f5fa8, // 13 selection fill
    0xff4cc38a, // 14 success
    0xfff0b03c, // 15 warning
    0xff141417, // 16 text-field background
    0xff46464f, // 17 text-field border, idle
    0xff4d8ff5, // 18 text-field border, editing
};

constexpr std::array<QRgb, kBlueSteps> blueSteps{
    0xff8dbaff, // 0
    0xff3b7bea, // 1
    0xff2f6bd9, // 2
    0xff2557b5, // 3
    0xff173a7d, // 4
};

qreal linearChannel(qreal channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

} // namespace

QColor neutral(int step)
{
    return pick(neutralSteps, step);
}

QColor style(int position)
{
    return pick(styleColours, position);
}

QColor blue(int step)
{
    return pick(blueSteps, step);
}

QColor brandColor()
{
    return QColor::fromRgb(0xff8a63f2);
}

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(float(color.alphaF() * qBound(0.0, opacity, 1.0)));
    return color;
}

qreal relativeLuminance(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * linearChannel(rgb.redF()) + 0.7152 * linearChannel(rgb.greenF())
           + 0.0722 * linearChannel(rgb.blueF());
}

qreal contrastRatio(const QColor& first, const QColor& second)
{
    const qreal a = relativeLuminance(first);
    const qreal b = relativeLuminance(second);
    return (qMax(a, b) + 0.05) / (qMin(a, b) + 0.05);
}

QColor composited(const QColor& over, const QColor& background)
{
    const QColor top = over.toRgb();
    const QColor bottom = background.toRgb();
    const qreal alpha = top.alphaF();
    const auto mix = [alpha](qreal a, qreal b) { return a * alpha + b * (1.0 - alpha); };
    return QColor::fromRgbF(float(mix(top.redF(), bottom.redF())), float(mix(top.greenF(), bottom.greenF())),
                            float(mix(top.blueF(), bottom.blueF())));
}

} // namespace vantrel::design
