#include "views/team/shaded_column.h"

#include <QLinearGradient>
#include <QPainter>

namespace vantrel {

ShadedColumn::ShadedColumn(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("shadedColumn"));
}

void ShadedColumn::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, QColor::fromRgbF(0, 0, 0, 0));
    gradient.setColorAt(1, QColor::fromRgbF(0, 0, 0, bottomOpacity));
    painter.fillRect(rect(), gradient);
}

} // namespace vantrel
