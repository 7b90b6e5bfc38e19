#include "packages/components/in_progress_view.h"

namespace vantrel {

InProgressView::InProgressView(ControlSize size, QWidget* parent)
    : ActivityIndicator(Fields{[] { return true; }, Style::spinning, size}, parent)
{
}

} // namespace vantrel
