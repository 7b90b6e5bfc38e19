#include "onboarding/onboarding_button_look.h"

#include "design/palette.h"

#include <QAbstractButton>
#include <QColor>
#include <QString>

namespace vantrel {

namespace {

QString rgba(QColor color, double opacity)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF() * opacity, 0, 'f', 3);
}

} // namespace

void applyOnboardingButtonLook(QAbstractButton& button, OnboardingButtonHeight height)
{
    static const QColor fill = QColor::fromRgbF(0.7f, 0.72f, 0.79f);
    const int points = static_cast<int>(height);
    button.setFixedHeight(points);
    button.setMinimumWidth(304);
    button.setCursor(Qt::PointingHandCursor);
    button.setStyleSheet(QStringLiteral("QAbstractButton { background: %1; border: 1px solid %2; border-radius: 8px;"
                                        " padding: 4px 8px; color: %3; font-size: 13px; }"
                                        "QAbstractButton:pressed { background: %4; }"
                                        "QAbstractButton:disabled { background: %5; color: %6; }")
                             .arg(rgba(fill, 0.2), rgba(Qt::white, 0.05), design::neutral(0).name(), rgba(fill, 0.4),
                                  rgba(fill, 0.018), design::neutral(4).name()));
}

} // namespace vantrel
