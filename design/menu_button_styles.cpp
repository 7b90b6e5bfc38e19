#include "design/menu_button_styles.h"

#include "design/menu_button.h"
#include "design/palette.h"

namespace vantrel::design {

namespace {

MenuButton::Look menuLook(const QColor& fill)
{
    MenuButton::Look look;
    look.fill = fill;
    look.outline = withOpacity(neutral(9), 0.1);
    look.height = 32;
    look.horizontalPadding = 8;
    look.cornerRadius = 8;
    look.disabledOpacity = 0.6;
    return look;
}

} // namespace

void PrimaryMenuButtonStyle::apply(MenuButton& button) const
{
    button.setLook(menuLook(blue(kFilledBlue)));
}

void SecondaryMenuButtonStyle::apply(MenuButton& button) const
{
    button.setLook(menuLook(withOpacity(neutral(9), 0.2)));
}

} // namespace vantrel::design
