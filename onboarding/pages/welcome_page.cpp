#include "onboarding/pages/welcome_page.h"

#include "design/assets.h"
#include "design/palette.h"
#include "model/strings.h"
#include "onboarding/pages/icon_drawing.h"
#include "onboarding/pages/page_layout.h"
#include "packages/components/app_info.h"

#include <QLabel>
#include <QPainter>
#include <QScrollArea>

#include <cmath>

namespace vantrel {

using namespace onboarding;

namespace {

constexpr QSizeF iconSize(140, 140);
constexpr qreal wordmarkWidth = 145;
// The text block's content is taller than its 180 points and stands centred on it, so its
// first line begins 20 points (the padding above "Welcome to") below where the overflow starts.
constexpr int welcomeToTop = iconSlotHeight + slotSpacing - 15 + 20;
constexpr int welcomeToHeight = 15;

QRectF wordmarkRect()
{
    const QSize natural = design::Assets::naturalSize(QStringLiteral("VantrelWordmark"));
    const qreal height = natural.isEmpty() ? 0 : wordmarkWidth * natural.height() / natural.width();
    return QRectF((pageWidth - wordmarkWidth) / 2, welcomeToTop + welcomeToHeight + 8, wordmarkWidth, height);
}

} // namespace

WelcomePage::WelcomePage(QWidget* parent) : QWidget(parent)
{
    setFixedSize(pageSize);

    auto* welcomeTo = new QLabel(Strings::welcomeToMessage(), this);
    welcomeTo->setObjectName(QStringLiteral("title"));
    welcomeTo->setTextFormat(Qt::PlainText);
    welcomeTo->setFont(calloutFont());
    welcomeTo->setAlignment(Qt::AlignCenter);
    QPalette palette = welcomeTo->palette();
    palette.setColor(QPalette::WindowText, design::withOpacity(design::neutral(0), 0.6));
    welcomeTo->setPalette(palette);
    welcomeTo->setGeometry((pageWidth - textBlockWidth) / 2, welcomeToTop, textBlockWidth, welcomeToHeight);

    // The message gets the rest of the page under the wordmark and scrolls when it is longer.
    auto* message = makeMessageArea(Strings::welcomeOnboardingMessage(), this);
    const int messageTop = int(std::ceil(wordmarkRect().bottom())) + 20;
    message->setGeometry(0, messageTop, pageWidth, wholeLinesHeight(pageHeight - messageTop));
}

void WelcomePage::paintEvent(QPaintEvent*)
{
    const qreal dpr = devicePixelRatioF();
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    // The application's icon with a soft shadow, kept inside the picture's own bounds.
    const QRectF iconRect(QPointF((pageWidth - iconSize.width()) / 2, (iconSlotHeight - iconSize.height()) / 2),
                          iconSize);
    const QPixmap icon = AppInfo::shared().icon().pixmap(iconSize.toSize(), dpr);
    const ShadowedPicture& picture = shadowedPicture(QStringLiteral("AppInfo.icon"), icon, iconSize, 3, 3, dpr);
    painter.save();
    painter.setClipRect(iconRect);
    LayerLook look;
    look.centre = iconRect.center();
    look.shadowOpacity = 0.2;
    paintLayer(painter, picture, look);
    painter.restore();

    const QRectF wordmark = wordmarkRect();
    const QPixmap wordmarkPicture =
        design::Assets::pixmap(QStringLiteral("VantrelWordmark"), wordmark.size().toSize(), dpr);
    painter.drawPixmap(wordmark, wordmarkPicture, QRectF(wordmarkPicture.rect()));
}

} // namespace vantrel
