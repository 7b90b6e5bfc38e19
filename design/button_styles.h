#pragma once

#include <optional>

class QAbstractButton;

namespace vantrel::design {

// Button looks of the design system. Each style is built with the values the views pass and
// then applied to a QPushButton or QToolButton; it sets the button's fixed height, its width
// limit and a style sheet with the hover, pressed and disabled states. `opacity` is the
// strength of the resting fill (0 to 1); hovering and pressing make the fill stronger.
// Without a maximum width the button is as wide as its label; with one it grows with the
// space it is given, up to that width.

// The main action of a view: a filled blue button.
class PrimaryActionButtonStyle {
public:
    PrimaryActionButtonStyle(int height, std::optional<int> maxWidth, double opacity);
    void apply(QAbstractButton& button) const;

private:
    int m_height;
    std::optional<int> m_maxWidth;
    double m_opacity;
};

// A secondary action: a translucent neutral fill with a hairline border.
class SecondaryActionButtonStyle {
public:
    SecondaryActionButtonStyle(int height, std::optional<int> maxWidth, double opacity);
    void apply(QAbstractButton& button) const;

private:
    int m_height;
    std::optional<int> m_maxWidth;
    double m_opacity;
};

// A compact secondary action (Restore, Force Unlock): small type, 22 pixels high.
class SmallSecondaryActionButtonStyle {
public:
    SmallSecondaryActionButtonStyle() = default;
    void apply(QAbstractButton& button) const;
};

// The label of a compact button: the icon (12 pixels) beside the title. On a QToolButton it
// also puts the text beside the icon.
class SmallSecondaryActionButtonLabelStyle {
public:
    SmallSecondaryActionButtonLabelStyle() = default;
    void apply(QAbstractButton& button) const;
};

} // namespace vantrel::design
