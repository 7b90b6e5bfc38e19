#include "design/button_styles.h"

#include "design/palette.h"

#include <QAbstractButton>
#include <QToolButton>
#include <QtGlobal>

namespace vantrel::design {

namespace {

QString css(const QColor& color)
{
    return color.name(QColor::HexArgb);
}

struct Look {
    QColor fill, hoverFill, pressedFill, disabledFill;
    QColor text, disabledText;
    QColor border;
    int radius;
    int horizontalPadding;
    int fontPixelSize;
    int fontWeight;
};

QString styleSheet(const Look& look)
{
    // QAbstractButton matches both QPushButton and QToolButton.
    return QStringLiteral("QAbstractButton { background: %1; color: %2; border: 1px solid %3; border-radius: %4px;"
                          " padding: 0px %5px; font-size: %6px; font-weight: %7; }"
                          "QAbstractButton:hover { background: %8; }"
                          "QAbstractButton:pressed, QAbstractButton:checked { background: %9; }"
                          "QAbstractButton:disabled { background: %10; color: %11; }"
                          "QAbstractButton:focus { outline: none; }")
        .arg(css(look.fill), css(look.text), css(look.border))
        .arg(look.radius)
        .arg(look.horizontalPadding)
        .arg(look.fontPixelSize)
        .arg(look.fontWeight)
        .arg(css(look.hoverFill), css(look.pressedFill), css(look.disabledFill), css(look.disabledText));
}

// Taller buttons get rounder corners, larger type and more room beside the label.
Look sized(Look look, int height)
{
    look.radius = height >= 28 ? 7 : 5;
    look.horizontalPadding = height >= 28 ? 14 : 10;
    look.fontPixelSize = height >= 28 ? 13 : 12;
    return look;
}

void applyLook(QAbstractButton& button, const Look& look, int height, std::optional<int> maxWidth)
{
    button.setFixedHeight(height);
    if (maxWidth) {
        button.setMaximumWidth(*maxWidth);
        button.setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        button.setMaximumWidth(QWIDGETSIZE_MAX);
        button.setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    }
    button.setCursor(Qt::PointingHandCursor);
    button.setStyleSheet(styleSheet(look));
}

double strengthened(double opacity, double by)
{
    return qBound(0.0, opacity + by, 1.0);
}

} // namespace

PrimaryActionButtonStyle::PrimaryActionButtonStyle(int height, std::optional<int> maxWidth, double opacity)
    : m_height(height),
      m_maxWidth(maxWidth),
      m_opacity(qBound(0.0, opacity, 1.0))
{
}

void PrimaryActionButtonStyle::apply(QAbstractButton& button) const
{
    Look look{};
    look.fill = withOpacity(blue(kFilledBlue), m_opacity);
    look.hoverFill = withOpacity(blue(1), strengthened(m_opacity, 0.1));
    look.pressedFill = blue(3);
    look.disabledFill = withOpacity(neutral(5), 0.6);
    look.text = neutral(9);
    look.disabledText = neutral(3);
    look.border = withOpacity(neutral(9), 0.12);
    look.fontWeight = 600;
    applyLook(button, sized(look, m_height), m_height, m_maxWidth);
}

SecondaryActionButtonStyle::SecondaryActionButtonStyle(int height, std::optional<int> maxWidth, double opacity)
    : m_height(height),
      m_maxWidth(maxWidth),
      m_opacity(qBound(0.0, opacity, 1.0))
{
}

void SecondaryActionButtonStyle::apply(QAbstractButton& button) const
{
    Look look{};
    look.fill = withOpacity(neutral(5), m_opacity);
    look.hoverFill = withOpacity(neutral(4), strengthened(m_opacity, 0.15));
    look.pressedFill = neutral(4).darker(115);
    look.disabledFill = withOpacity(neutral(5), m_opacity * 0.5);
    look.text = neutral(0);
    look.disabledText = neutral(4);
    look.border = withOpacity(neutral(9), 0.08);
    look.fontWeight = 500;
    applyLook(button, sized(look, m_height), m_height, m_maxWidth);
}

void SmallSecondaryActionButtonStyle::apply(QAbstractButton& button) const
{
    Look look{};
    look.fill = withOpacity(neutral(5), 0.7);
    look.hoverFill = neutral(4);
    look.pressedFill = neutral(4).darker(115);
    look.disabledFill = withOpacity(neutral(5), 0.35);
    look.text = neutral(1);
    look.disabledText = neutral(4);
    look.border = withOpacity(neutral(9), 0.08);
    look.radius = 5;
    look.horizontalPadding = 8;
    look.fontPixelSize = 11;
    look.fontWeight = 500;
    applyLook(button, look, 22, std::nullopt);
}

void SmallSecondaryActionButtonLabelStyle::apply(QAbstractButton& button) const
{
    button.setIconSize(QSize(12, 12));
    if (auto* toolButton = qobject_cast<QToolButton*>(&button))
        toolButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}

} // namespace vantrel::design
