// The hover motion of the onboarding icons: the delay before the pointer counts, where the
// moving parts go, and that they come back.

#include "foundation/clock.h"
#include "onboarding/pages/collections_icon.h"
#include "onboarding/pages/documents_icon.h"
#include "onboarding/pages/event_locking_icon.h"
#include "onboarding/pages/teams_icon.h"

#include <QEnterEvent>
#include <QImage>
#include <QTest>

#include <chrono>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

void sendEnter(QWidget& view)
{
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(&view, &enter);
}

void sendLeave(QWidget& view)
{
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&view, &leave);
}

// Runs the icon's spring in display frames until it rests; the lowest and highest progress seen.
std::pair<double, double> settle(HoverIcon& icon)
{
    double lowest = icon.hoverProgress();
    double highest = lowest;
    for (int frame = 0; frame < 600 && !icon.spring().isSettled(); ++frame) {
        icon.spring().step(1.0 / 60.0);
        lowest = std::min(lowest, icon.hoverProgress());
        highest = std::max(highest, icon.hoverProgress());
    }
    return {lowest, highest};
}

QImage picture(QWidget& icon)
{
    return icon.grab().toImage();
}

} // namespace

class OnboardingIconsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void thePointerCountsOnlyAfterTheDelay()
    {
        ManualClock clock;
        CollectionsIcon icon(nullptr, clock);
        icon.show();
        sendEnter(icon);
        clock.advance(499ms);
        QVERIFY(!icon.isHovered());
        clock.advance(1ms);
        // The hover that began during the delay is not replayed.
        QVERIFY(!icon.isHovered());
        QCOMPARE(icon.hoverProgress(), 0.0);
        sendLeave(icon);
        sendEnter(icon);
        QVERIFY(icon.isHovered());
    }

    void hoveringMovesTheIconAndLeavingBringsItBack()
    {
        ManualClock clock;
        CollectionsIcon icon(nullptr, clock);
        icon.show();
        clock.advance(500ms);
        const QImage rest = picture(icon);

        sendEnter(icon);
        icon.spring().step(0.1);
        const double partway = icon.hoverProgress();
        QVERIFY(partway > 0.0 && partway < 1.0);
        const auto [low, high] = settle(icon);
        QVERIFY(low >= 0.0 && high <= 1.0); // critically damped: no overshoot
        QCOMPARE(icon.hoverProgress(), 1.0);
        QVERIFY(picture(icon) != rest);

        // Turned around mid-way, it heads back from where it is, and ends exactly at rest.
        sendLeave(icon);
        icon.spring().step(0.05);
        QVERIFY(icon.hoverProgress() < 1.0 && icon.hoverProgress() > 0.0);
        sendEnter(icon);
        sendLeave(icon);
        settle(icon);
        QCOMPARE(icon.hoverProgress(), 0.0);
        QCOMPARE(picture(icon), rest);
    }

    void theShackleSnapsUpWithABounceAndNothingElseMoves()
    {
        ManualClock clock;
        EventLockingIcon icon(nullptr, clock);
        QCOMPARE(icon.size(), QSize(304, 140));
        icon.show();
        clock.advance(500ms);
        const QRectF restingShackle = icon.shackleRect();
        const QImage rest = picture(icon);

        sendEnter(icon);
        const auto [low, high] = settle(icon);
        QVERIFY(high > 1.0); // the small bounce
        QVERIFY(high < 1.5);
        QCOMPARE(icon.shackleRect(), restingShackle.translated(0, -8));

        // Only the rows the shackle covers change.
        const QImage lifted = picture(icon);
        const int top = int(restingShackle.top()) - 9;
        const int bottom = int(std::ceil(restingShackle.bottom())) + 1;
        for (int y = 0; y < rest.height(); ++y) {
            if (y >= top && y <= bottom)
                continue;
            for (int x = 0; x < rest.width(); ++x)
                QCOMPARE(lifted.pixel(x, y), rest.pixel(x, y));
        }

        sendLeave(icon);
        settle(icon);
        QCOMPARE(icon.shackleRect(), restingShackle);
    }

    void theBackCardTravelsBehindTheFrontCard()
    {
        ManualClock clock;
        TeamsIcon icon(nullptr, clock);
        QCOMPARE(icon.size(), QSize(132, 132));
        icon.show();
        clock.advance(500ms);
        const QPointF resting = icon.backCardCentre();
        sendEnter(icon);
        const auto [low, high] = settle(icon);
        QVERIFY(high > 1.0); // one slightly bouncy spring
        QCOMPARE(icon.backCardCentre(), resting + QPointF(0, 105));
        sendLeave(icon);
        settle(icon);
        QCOMPARE(icon.backCardCentre(), resting);
    }

    void theLogosSpreadWithoutOvershoot()
    {
        ManualClock clock;
        DocumentsIcon icon(nullptr, clock);
        icon.show();
        clock.advance(500ms);
        const QImage rest = picture(icon);
        sendEnter(icon);
        const auto [low, high] = settle(icon);
        QVERIFY(low >= 0.0 && high <= 1.0);
        const QImage hovered = picture(icon);
        QVERIFY(hovered != rest);
        sendLeave(icon);
        settle(icon);
        QCOMPARE(picture(icon), rest);
    }
};

QTEST_MAIN(OnboardingIconsTest)
#include "onboarding_icons_test.moc"
