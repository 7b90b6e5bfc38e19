#pragma once

#include <QColor>

namespace vantrel::design {

// The colours of the application's dark look. Views name a colour by its palette and its
// position in it, never by value, so the whole look can be tuned here. Every position gives
// the same colour on every call. A position outside a palette is a programming error; in a
// release build it gives the nearest position of that palette.

// Neutral steps, from the lightest text down to the deepest background:
//   0  primary text and icons (titles, names, the strongest foreground)
//   1  secondary text (activity lines, messages)
//   2  muted text (captions, headers, placeholders, small icons)
//   3  faint foreground (large decorative symbols, avatar discs)
//   4  strong borders and disabled text
//   5  dividers and raised content fills (readable against 6, 7 and 8)
//   6  panels standing on the window (the check-in panel)
//   7  the main window background
//   8  sunk backgrounds (text fields, wells)
//   9  pure white, meant to be taken at an opacity (dimmed subtitles, glows, sheen)
constexpr int kNeutralSteps = 10;
QColor neutral(int step);

// Role colours by position:
//   0  primary text            1  secondary text          2  muted text (about window)
//   3  placeholder text        4  disabled text           5  link text
//   6  window background       7  content background      8  bar background (about window)
//   9  raised surface          10 hover fill              11 pressed fill
//   12 separator               13 selection fill          14 success
//   15 warning                 16 text-field background   17 text-field border, idle
//   18 text-field border while editing in the active application
constexpr int kStyleCount = 19;
QColor style(int position);

// Blue steps, from light to deep:
//   0  link and accent text on dark backgrounds
//   1  hover fill of filled buttons
//   2  fill of filled (primary) buttons and menus
//   3  pressed fill of filled buttons
//   4  deep blue for outlines on light fills
constexpr int kBlueSteps = 5;
constexpr int kFilledBlue = 2;
QColor blue(int step);

// The application's own colour: new versions on the activity timeline, the onboarding
// backdrop, the edition badge.
QColor brandColor();

// `color` with its alpha multiplied by `opacity` (0 to 1).
QColor withOpacity(QColor color, qreal opacity);

// WCAG relative luminance and contrast ratio (1 to 21) of two opaque colours, and `over`
// composited onto an opaque `background`; used to keep the palette readable.
qreal relativeLuminance(const QColor& color);
qreal contrastRatio(const QColor& first, const QColor& second);
QColor composited(const QColor& over, const QColor& background);

} // namespace vantrel::design
