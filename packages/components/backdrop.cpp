#include "packages/components/backdrop.h"

#include <QGridLayout>

namespace vantrel {

Backdrop::Backdrop(QWidget* front, bool condition, Qt::Alignment alignment, std::function<QWidget*()> content,
                   QWidget* parent)
    : QWidget(parent),
      m_layout(new QGridLayout(this)),
      m_front(front),
      m_alignment(alignment),
      m_makeContent(std::move(content))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    // The front widget keeps the width it is given and is placed vertically by the alignment.
    m_layout->addWidget(m_front, 0, 0, m_alignment & Qt::AlignVertical_Mask);
    setCondition(condition);
}

void Backdrop::setCondition(bool condition)
{
    if (condition == (m_content != nullptr))
        return;
    if (!condition) {
        delete m_content;
        m_content = nullptr;
        return;
    }
    m_content = m_makeContent();
    if (!m_content)
        return;
    m_layout->addWidget(m_content, 0, 0, m_alignment);
    m_content->lower(); // behind the front widget
}

} // namespace vantrel
