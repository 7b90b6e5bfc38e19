#include "views/detail/event_buttons.h"

namespace vantrel {

EventButtons::EventButtons(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(rowHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

} // namespace vantrel
