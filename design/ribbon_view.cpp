#include "design/ribbon_view.h"

#include "design/palette.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace vantrel::design {

namespace {

QString ribbonStyleSheet()
{
    const auto rgba = [](const QColor& c) { return c.name(QColor::HexArgb); };
    const QColor tint = brandColor();
    return QStringLiteral("QPushButton { background: %1; color: %2; border: 1px solid %3;"
                          " border-radius: 10px; padding: 2px 10px; font-weight: 600; }"
                          "QPushButton:hover { background: %4; color: %5; }"
                          "QPushButton:pressed { background: %6; }")
        .arg(rgba(withOpacity(tint, 0.22)), rgba(neutral(0)), rgba(withOpacity(tint, 0.55)),
             rgba(withOpacity(tint, 0.34)), rgba(neutral(9)), rgba(withOpacity(tint, 0.45)));
}

} // namespace

RibbonView::RibbonView(Prioritizer<Ribbon>* prioritizer, QWidget* parent)
    : QWidget(parent),
      m_prioritizer(prioritizer),
      m_button(new QPushButton(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_button);
    m_button->setCursor(Qt::PointingHandCursor);
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setFixedHeight(20);
    m_button->setStyleSheet(ribbonStyleSheet());
    connect(m_button, &QPushButton::clicked, this, &RibbonView::runAction);
    if (prioritizer) {
        connect(prioritizer, &PrioritizerBase::selectedChanged, this, &RibbonView::showSelection);
        connect(prioritizer, &QObject::destroyed, this, &RibbonView::showSelection);
    }
    showSelection();
}

RibbonView::~RibbonView() = default;

QString RibbonView::text() const
{
    return isShowingRibbon() ? m_button->text() : QString();
}

bool RibbonView::isShowingRibbon() const
{
    return !m_button->isHidden();
}

void RibbonView::showSelection()
{
    const Ribbon* ribbon = m_prioritizer && m_prioritizer->selected() ? &*m_prioritizer->selected() : nullptr;
    m_button->setText(ribbon ? ribbon->text : QString());
    m_button->setHidden(!ribbon);
    updateGeometry();
}

void RibbonView::runAction()
{
    if (!m_prioritizer || !m_prioritizer->selected())
        return;
    // A copy: the action may well make the feed publish and replace the selection.
    const auto action = m_prioritizer->selected()->action;
    if (action)
        action();
}

} // namespace vantrel::design
