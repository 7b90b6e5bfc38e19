#pragma once

#include <QImage>

namespace vantrel {

// The onboarding's soft shapes are blurred once, when they are first drawn at a size, and the
// result is kept; nothing is blurred while a frame is painted.

// The standard deviation, in points, of the Gaussian that a blur of `radius` points stands for:
// a blur's radius reaches about two standard deviations, where its weight has nearly run out.
constexpr double blurSigma(double radius)
{
    return radius / 2.0;
}

// How far, in points, a blur of `radius` spreads a shape; pictures are drawn with this much room
// around their shapes so that nothing of the blur is cut off.
constexpr int blurSpread(double radius)
{
    return static_cast<int>(3.0 * blurSigma(radius)) + 1;
}

// `image` blurred as a Gaussian of standard deviation `sigma` pixels would blur it, by three
// running box blurs; beyond its edges the image counts as transparent. Large blurs are done on a
// smaller copy and scaled back, which a blur hides. The result has the size and pixel ratio of
// `image`, in premultiplied ARGB; a sigma that is not positive returns the image unblurred.
QImage blurredImage(const QImage& image, double sigma);

} // namespace vantrel
