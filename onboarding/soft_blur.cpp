#include "onboarding/soft_blur.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vantrel {

namespace {

// Widths of three box blurs whose sequence matches a Gaussian of `sigma`.
std::array<int, 3> boxWidths(double sigma)
{
    constexpr int passes = 3;
    const double ideal = std::sqrt(12.0 * sigma * sigma / passes + 1.0);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    lower = std::max(lower, 1);
    const int upper = lower + 2;
    const double m =
        (12.0 * sigma * sigma - passes * lower * lower - 4.0 * passes * lower - 3.0 * passes) / (-4.0 * lower - 4.0);
    const int lowerCount = static_cast<int>(std::lround(m));
    std::array<int, 3> widths{};
    for (int i = 0; i < passes; ++i)
        widths[i] = i < lowerCount ? lower : upper;
    return widths;
}

// One box blur of half-width `radius` along `lines` lines of `length` pixels; `along` steps to the
// next pixel of a line, `across` to the next line.
void boxPass(const std::uint32_t* source, std::uint32_t* target, int lines, int length, std::ptrdiff_t along,
             std::ptrdiff_t across, int radius)
{
    const int window = 2 * radius + 1;
    for (int line = 0; line < lines; ++line) {
        const std::uint32_t* in = source + line * across;
        std::uint32_t* out = target + line * across;
        std::array<int, 4> sum{};
        const auto add = [&](std::uint32_t pixel, int sign) {
            for (int c = 0; c < 4; ++c)
                sum[c] += sign * static_cast<int>((pixel >> (8 * c)) & 0xff);
        };
        for (int i = 0; i <= radius && i < length; ++i)
            add(in[i * along], 1);
        for (int x = 0; x < length; ++x) {
            std::uint32_t pixel = 0;
            for (int c = 0; c < 4; ++c)
                pixel |= static_cast<std::uint32_t>((sum[c] + window / 2) / window) << (8 * c);
            out[x * along] = pixel;
            if (x + radius + 1 < length)
                add(in[(x + radius + 1) * along], 1);
            if (x - radius >= 0)
                add(in[(x - radius) * along], -1);
        }
    }
}

} // namespace

QImage blurredImage(const QImage& image, double sigma)
{
    QImage source = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (!(sigma > 0) || source.isNull())
        return source;

    // A copy small enough that the blur stays around eight pixels wide or less.
    const int shrink = std::clamp(static_cast<int>(sigma / 8.0), 1, 8);
    const QSize full = source.size();
    QImage work = shrink > 1 ? source.scaled(std::max(1, full.width() / shrink), std::max(1, full.height() / shrink),
                                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             : source;
    work = work.convertToFormat(QImage::Format_ARGB32_Premultiplied);

    const int width = work.width();
    const int height = work.height();
    std::vector<std::uint32_t> a(static_cast<std::size_t>(width) * height);
    std::vector<std::uint32_t> b(a.size());
    for (int y = 0; y < height; ++y)
        std::copy_n(reinterpret_cast<const std::uint32_t*>(work.constScanLine(y)), width, a.data() + y * width);
    for (const int box : boxWidths(sigma / shrink)) {
        const int radius = (box - 1) / 2;
        boxPass(a.data(), b.data(), height, width, 1, width, radius);
        boxPass(b.data(), a.data(), width, height, width, 1, radius);
    }
    QImage blurred(width, height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < height; ++y)
        std::copy_n(a.data() + y * width, width, reinterpret_cast<std::uint32_t*>(blurred.scanLine(y)));

    if (shrink > 1)
        blurred = blurred.scaled(full, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    blurred.setDevicePixelRatio(image.devicePixelRatio());
    return blurred;
}

} // namespace vantrel
