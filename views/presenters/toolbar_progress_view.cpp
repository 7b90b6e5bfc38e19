#include "views/presenters/toolbar_progress_view.h"

#include "design/palette.h"
#include "packages/components/in_progress_view.h"

#include <QHBoxLayout>
#include <QLabel>

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

    // The text was localized by whoever set the state; it is shown as it stands.
    auto* label = new QLabel(m_content);
    label->setTextFormat(Qt::PlainText);
    label->setText(m_indicator->state().text());
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, design::withOpacity(design::neutral(0), 0.8));
    label->setPalette(palette);
    row->addWidget(label);

    layout()->addWidget(m_content);
}

} // namespace vantrel
