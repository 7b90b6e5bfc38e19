#include "onboarding/page_transition.h"

#include <QEvent>
#include <QLayout>
#include <QPainter>

namespace vantrel {

// The layer over the container on which a transition paints its snapshots.
class PageTransitionOverlay : public QWidget {
public:
    PageTransitionOverlay(PageTransition* transition, QWidget* container) : QWidget(container), m_transition(transition)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setGeometry(container->rect());
        container->installEventFilter(this);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const double fade = m_transition->fadeOpacity();
        if (fade > 0 && !m_transition->m_oldSnapshot.isNull()) {
            painter.setOpacity(fade);
            painter.drawPixmap(m_transition->m_oldRect.topLeft(), m_transition->m_oldSnapshot);
        }
        if (!m_transition->m_newSnapshot.isNull()) {
            painter.setOpacity(1);
            painter.drawPixmap(QPointF(m_transition->m_newRect.topLeft()) + QPointF(m_transition->offset(), 0),
                               m_transition->m_newSnapshot);
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // A container that changes size lays its pages out anew (the buttons under the pages may
        // change as the page does): the motion goes on from the entering page's new place, once
        // the container has placed it.
        if (watched == parent() && event->type() == QEvent::Resize)
            QMetaObject::invokeMethod(m_transition, &PageTransition::refit, Qt::QueuedConnection);
        return QWidget::eventFilter(watched, event);
    }

private:
    PageTransition* m_transition;
};

namespace {

// Where `page` lies in `container`'s coordinates.
QRect rectIn(QWidget* container, QWidget* page)
{
    return QRect(page->mapTo(container, QPoint(0, 0)), page->size());
}

// The child of `container` that holds `page`, or the page itself.
QWidget* childHolding(QWidget* container, QWidget* page)
{
    QWidget* child = page;
    while (child && child->parentWidget() != container)
        child = child->parentWidget();
    return child;
}

// Stacks `layer` directly above the child of `container` holding `page`: the motion passes under
// whatever the container shows above its pages (the page dots, the buttons).
void stackAbove(QWidget* layer, QWidget* container, QWidget* page)
{
    layer->raise();
    QWidget* holder = childHolding(container, page);
    bool passed = false;
    for (QObject* child : container->children()) {
        if (passed && child->isWidgetType() && child != layer) {
            layer->stackUnder(static_cast<QWidget*>(child));
            return;
        }
        passed = passed || child == holder;
    }
}

// A picture of `page` and its children over a transparent ground. QWidget::grab() would paint the
// page's own window background first, an opaque slab over whatever lies behind the page (the
// background's glow, for the icon backdrop).
QPixmap snapshot(QWidget* page)
{
    const qreal ratio = page->devicePixelRatioF();
    QPixmap pixmap(page->size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    page->render(&pixmap, QPoint(), QRegion(), QWidget::DrawChildren);
    return pixmap;
}

bool inside(QWidget* container, QWidget* page)
{
    return !page || (container && container->isAncestorOf(page));
}

} // namespace

PageTransition* PageTransition::run(QWidget* container, QWidget* oldPage, QWidget* newPage)
{
    if (!container || !inside(container, oldPage) || !inside(container, newPage) || oldPage == newPage) {
        if (oldPage != newPage) {
            qWarning("PageTransition: the pages are not inside the container; they are switched without motion");
            if (oldPage)
                oldPage->hide();
        }
        if (newPage)
            newPage->show();
        return nullptr;
    }
    // A page still moving, or still fading, is put at its end before it moves again.
    const auto running = container->findChildren<PageTransition*>(Qt::FindDirectChildrenOnly);
    for (PageTransition* other : running) {
        const QList<QWidget*> pages{other->m_oldPage, other->m_newPage};
        if ((oldPage && pages.contains(oldPage)) || (newPage && pages.contains(newPage)))
            other->finish();
    }
    auto* transition = new PageTransition(container, oldPage, newPage);
    transition->start();
    return transition;
}

PageTransition::PageTransition(QWidget* container, QWidget* oldPage, QWidget* newPage)
    : QObject(container),
      m_container(container),
      m_oldPage(oldPage),
      m_newPage(newPage),
      m_spring(response, dampingFraction, 0.0)
{
    m_fade.setStartValue(1.0);
    m_fade.setEndValue(0.0);
    m_fade.setDuration(fadeOutMs);
    m_fade.setEasingCurve(QEasingCurve::Linear);
}

void PageTransition::start()
{
    if (m_oldPage && m_oldPage->isVisible()) {
        m_oldRect = rectIn(m_container, m_oldPage);
        m_oldSnapshot = snapshot(m_oldPage);
    }
    if (m_oldPage)
        m_oldPage->hide();

    if (m_newPage) {
        m_newPage->show();
        for (QWidget* w = m_newPage->parentWidget(); w; w = w->parentWidget()) {
            if (w->layout())
                w->layout()->activate();
            if (w == m_container)
                break;
        }
        m_newRect = rectIn(m_container, m_newPage);
        m_newSnapshot = snapshot(m_newPage);
        // Enter from beyond the trailing edge: the new page's left edge starts at the container's
        // right edge, or its right edge at the container's left edge.
        m_startOffset = m_container->layoutDirection() == Qt::RightToLeft
                            ? -double(m_newRect.right() + 1)
                            : double(m_container->width() - m_newRect.x());
        QSizePolicy policy = m_newPage->sizePolicy();
        m_newRetainedSize = policy.retainSizeWhenHidden();
        policy.setRetainSizeWhenHidden(true);
        m_newPage->setSizePolicy(policy);
        m_newPage->hide();
    }

    m_overlay = new PageTransitionOverlay(this, m_container);
    stackAbove(m_overlay, m_container, m_newPage ? m_newPage : m_oldPage);
    m_overlay->show();

    connect(&m_fade, &QVariantAnimation::valueChanged, m_overlay, qOverload<>(&QWidget::update));
    connect(&m_spring, &SpringAnimator::valueChanged, m_overlay, qOverload<>(&QWidget::update));
    connect(&m_spring, &SpringAnimator::settled, this, &PageTransition::finish);
    connect(&m_fade, &QVariantAnimation::finished, this, [this] {
        if (!m_newPage)
            finish(); // a page that only leaves is done once it has faded
    });
    m_fade.start();
    if (m_newPage)
        m_spring.animateTo(1.0);
}

void PageTransition::refit()
{
    if (m_finished || !m_container || !m_overlay)
        return;
    m_overlay->setGeometry(m_container->rect());
    if (m_newPage) {
        const QRect place = rectIn(m_container, m_newPage);
        if (place.size() != m_newRect.size()) {
            // Hidden children are not drawn: the page shows for as long as the picture takes,
            // which paints nothing on screen.
            m_newPage->show();
            m_newSnapshot = snapshot(m_newPage);
            m_newPage->hide();
        }
        m_newRect = place;
    }
    m_overlay->update();
}

double PageTransition::offset() const
{
    return interpolate(m_startOffset, 0.0, m_spring.value());
}

double PageTransition::fadeOpacity() const
{
    return m_fade.state() == QAbstractAnimation::Stopped && m_fade.currentTime() == 0
               ? 1.0
               : m_fade.currentValue().toDouble();
}

void PageTransition::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_fade.stop();
    m_spring.disconnect(this);
    m_spring.setValue(1.0);
    delete m_overlay;
    if (m_newPage) {
        m_newPage->show();
        QSizePolicy policy = m_newPage->sizePolicy();
        policy.setRetainSizeWhenHidden(m_newRetainedSize);
        m_newPage->setSizePolicy(policy);
    }
    Q_EMIT finished();
    deleteLater();
}

} // namespace vantrel
