#pragma once

#include <QFont>
#include <QSize>
#include <QString>

class QScrollArea;
class QWidget;

namespace vantrel::onboarding {

// Every onboarding page has this fixed size: as wide as the onboarding frame (the message's
// scroll area reaches out to the frame's edges, beyond the 320-point text block) and as tall as
// the icon slot, the spacing and the text block.
inline constexpr int pageWidth = 385;
inline constexpr int iconSlotHeight = 140;
inline constexpr int slotSpacing = 8;
inline constexpr int textBlockWidth = 320;
inline constexpr int textBlockHeight = 180;
inline constexpr int pageHeight = iconSlotHeight + slotSpacing + textBlockHeight;
inline constexpr QSize pageSize{pageWidth, pageHeight};
// The width of the message's lines, centred on the page.
inline constexpr int messageLineWidth = 316;

QFont bodyFont();
QFont calloutFont();

// A frameless, see-through area that scrolls `message` vertically: centred lines of the
// secondary text colour, `messageLineWidth` wide when the area spans the page's width.
QScrollArea* makeMessageArea(const QString& message, QWidget* parent);
// The height of a message area that fits in `available` points showing whole lines only, so no
// line is cut through while the message is scrolled to its top.
int wholeLinesHeight(int available);

// Lays `page` out as an onboarding page: `icon` centred in the icon slot at the top, under it
// the bold `title` (followed by the edition badge when `showProLabel`) and the scrolling
// message filling the rest of the text block (the shared page template). Title and message are
// shown as given. Makes `page` fixed-size.
void layOutTemplatePage(QWidget* page, QWidget* icon, const QString& title, const QString& message, bool showProLabel);

} // namespace vantrel::onboarding
