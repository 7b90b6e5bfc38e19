#include "views/detail/gradient_divider.h"

#include <QLinearGradient>
#include <QPainter>

namespace vantrel {

GradientDivider::GradientDivider(QWidget* parent) : QWidget(parent)
{
    setFixedWidth(1);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GradientDivider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient gradient(0, height(), 0, 0);
    gradient.setColorAt(0, QColor(255, 255, 255, qRound(0.15 * 255)));
    gradient.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(rect(), gradient);
}

} // namespace vantrel
