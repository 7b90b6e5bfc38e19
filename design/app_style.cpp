#include "design/app_style.h"

#include <QStyleFactory>
#include <QStyleOptionButton>

#include <algorithm>

namespace vantrel::design {

AppStyle::AppStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

QSize AppStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                                 const QWidget* widget) const
{
    QSize size = QProxyStyle::sizeFromContents(type, option, contents, widget);
    if (type != CT_PushButton)
        return size;
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (!button || button->text.isEmpty())
        return size;
    // The label is centred between the frames, so the extra width falls evenly on both sides.
    const int frame = pixelMetric(PM_DefaultFrameWidth, option, widget);
    size.setWidth(std::max(size.width(), contents.width() + 2 * (frame + labelPadding)));
    return size;
}

} // namespace vantrel::design
