#include "actions/toolbar_progress.h"

namespace vantrel {

QPoint toolbarContentOffset()
{
    static const QPoint offset(0, -42);
    return offset;
}

ToolbarProgressIndicator::ToolbarProgressIndicator(QObject* parent) : ObservableObject(parent) {}

void ToolbarProgressIndicator::setState(State state)
{
    m_state = std::move(state);
}

} // namespace vantrel
