#pragma once

#include "design/palette.h"

#include <QColor>

// The colours the components draw with, by role, taken from the design palette by position.
namespace vantrel::component_colors {

// The page dots of the circle tab bar; selected and unselected dots differ only by opacity.
inline QColor pageDot()
{
    return design::neutral(0);
}
// The placeholder text behind an empty field.
inline QColor placeholderText()
{
    return design::style(3);
}
// The rounded background of a field with a placeholder.
inline QColor fieldBackground()
{
    return design::style(16);
}
// The border of a field that is not being edited, or is edited in an inactive application.
inline QColor fieldBorderIdle()
{
    return design::style(17);
}
// The border of the field being edited in the active application.
inline QColor fieldBorderEditing()
{
    return design::style(18);
}

} // namespace vantrel::component_colors
