#include "views/presenters/toolbar_progress_view.h"

#include "design/palette.h"
#include "packages/components/in_progress_view.h"
#include "views/detail/detail_look.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>

#include <cmath>

namespace vantrel {

ToolbarProgressView::ToolbarProgressView(ToolbarProgressIndicator* indicator, QWidget* parent)
    : QWidget(parent),
      m_indicator(indicator)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    connect(indicator, &ToolbarProgressIndicator::stateChanged, this, &ToolbarProgressView::rebuild);
    connect(indicator, &QObject::destroyed, this, &ToolbarProgressView::clear);
    rebuild();
}

void ToolbarProgressView::clear()
{
    delete m_content;
    m_content = nullptr;
}

void ToolbarProgressView::rebuild()
{
    clear();
    if (!m_indicator || !m_indicator->state().isBusy())
        return;

    m_content = new QWidget(this);
    auto* row = new QHBoxLayout(m_content);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch();
    row->addWidget(new InProgressView(ControlSize::mini, m_content));

    // The text was localized by whoever set the state; it is shown as it stands, on one line.
    // Where the toolbar is too narrow for it, it ends in "…" rather than being cut mid-letter:
    // the label takes the room the toolbar has, up to what the whole text needs, and the spacer
    // before it the rest.
    auto* label = plainLabel(m_content);
    const QString text = oneLine(m_indicator->state().text());
    const int wholeWidth = static_cast<int>(std::ceil(QFontMetricsF(label->font()).horizontalAdvance(text))) + 1;
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setMaximumWidth(wholeWidth);
    label->resize(wholeWidth, label->height()); // whole until the toolbar gives it its width
    setElidedText(*label, text);
    setTextColor(*label, design::withOpacity(design::neutral(0), 0.8));
    row->addWidget(label, 1);

    layout()->addWidget(m_content);
}

} // namespace vantrel
