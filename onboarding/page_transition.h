#pragma once

#include "packages/components/spring_animator.h"

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QVariantAnimation>
#include <QWidget>

namespace vantrel {

class PageTransitionOverlay;

// How the onboarding's pages, and separately their icons, enter and leave: the entering widget
// slides in from beyond the trailing edge of its container (the right, or the left in a
// right-to-left layout) on a short spring that overshoots a little, whichever way the user
// moved; the leaving widget fades out at once and never slides.
//
// The motion is painted from snapshots on a layer of the container stacked just above the pages,
// under whatever else the container shows over them, so the pages themselves are neither moved
// nor re-laid out; the entering page is hidden, keeping its place in the layout, until the spring
// has settled. The snapshots hold only what the pages draw, so what lies behind a page shows
// through it as it moves. A container that changes size meanwhile does not stop the motion: it
// goes on towards the entering page's new place. A transition belongs to its container and
// deletes itself when done.
class PageTransition : public QObject {
    Q_OBJECT
public:
    static constexpr double response = 0.3;
    static constexpr double dampingFraction = 0.55;
    static constexpr int fadeOutMs = 10;

    // Replaces `oldPage` by `newPage` inside `container`. Either may be null, for a page (or icon)
    // that only enters or only leaves; both must lie inside the container. On return `oldPage`
    // is hidden and may be deleted, and `newPage` is shown in its place (drawn by the transition
    // until it ends). A transition still running in the container on either page is finished
    // first. Returns the running transition, or null when there was nothing to animate (no
    // container, or pages outside it: then the pages are switched at once).
    static PageTransition* run(QWidget* container, QWidget* oldPage, QWidget* newPage);
    // The same transition for a page's icon: same spring, same timing.
    static PageTransition* runIcon(QWidget* container, QWidget* oldIcon, QWidget* newIcon)
    {
        return run(container, oldIcon, newIcon);
    }

    // The horizontal offset the entering page is drawn at now, from `startOffset()` to 0.
    double offset() const;
    double startOffset() const { return m_startOffset; }
    // The opacity of the leaving page's snapshot, from 1 to 0.
    double fadeOpacity() const;
    bool isFinished() const { return m_finished; }
    QWidget* container() const { return m_container; }
    QWidget* newPage() const { return m_newPage; }
    QWidget* oldPage() const { return m_oldPage; }
    // The spring that moves the entering page, from 0 to 1.
    SpringAnimator& spring() { return m_spring; }

    // Ends the transition now: the layer goes and the new page shows in its place.
    void finish();

Q_SIGNALS:
    void finished();

private:
    PageTransition(QWidget* container, QWidget* oldPage, QWidget* newPage);
    void start();
    // Follows the entering page to where its resized container has put it.
    void refit();
    friend class PageTransitionOverlay;

    QPointer<QWidget> m_container;
    QPointer<QWidget> m_oldPage;
    QPointer<QWidget> m_newPage;
    QPixmap m_oldSnapshot;
    QRect m_oldRect;
    QPixmap m_newSnapshot;
    QRect m_newRect;
    double m_startOffset = 0;
    bool m_newRetainedSize = false;
    bool m_finished = false;
    SpringAnimator m_spring;
    QVariantAnimation m_fade;
    QPointer<PageTransitionOverlay> m_overlay;
};

} // namespace vantrel
