#pragma once

namespace vantrel::design {

class MenuButton;

// The looks that make a pull-down menu match the action buttons: both draw the menu inside a
// rounded rectangle (corner radius 8) 32 pixels high, 8 pixels of padding beside the label, an
// inner hairline of white at 10 %, and the whole button at 60 % opacity while it is disabled.

// The main action of a view: filled with the design system's button blue.
class PrimaryMenuButtonStyle {
public:
    void apply(MenuButton& button) const;
};

// A secondary action: filled with white at 20 %.
class SecondaryMenuButtonStyle {
public:
    void apply(MenuButton& button) const;
};

} // namespace vantrel::design
