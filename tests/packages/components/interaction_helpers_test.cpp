// The animated binding, the backdrop, the hover delay and the pointer-driven blur.

#include "packages/components/animated_binding.h"
#include "packages/components/backdrop.h"
#include "packages/components/conditional_blur.h"
#include "packages/components/hover_delay.h"

#include <QEnterEvent>
#include <QLabel>
#include <QTest>

using namespace std::chrono_literals;
using namespace vantrel;

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

void sendHoverMove(QWidget& view, QPointF position)
{
    QHoverEvent move(QEvent::HoverMove, position, view.mapToGlobal(position), position);
    QCoreApplication::sendEvent(&view, &move);
}

} // namespace

class InteractionHelpersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void animatedBindingReadsThroughAndAnimatesOnlyItsOwnWrites()
    {
        int stored = 3;
        std::vector<bool> animatedWrites;
        const Binding<int> source{[&] { return stored; },
                                  [&](const int& value) {
                                      animatedWrites.push_back(currentAnimation().has_value());
                                      stored = value;
                                  }};
        const Binding<int> animated = source.withDefaultAnimation();
        QCOMPARE(animated.get(), 3);
        animated.set(7);
        QCOMPARE(stored, 7);
        QCOMPARE(animated.get(), 7);
        source.set(8);
        QCOMPARE(animatedWrites, (std::vector<bool>{true, false}));
        QVERIFY(!currentAnimation()); // nothing lingers after the write
    }

    void backdropBuildsItsContentOnlyWhileTheConditionHolds()
    {
        int built = 0;
        Backdrop backdrop(new QLabel(QStringLiteral("front")), false, Qt::AlignLeft | Qt::AlignVCenter, [&] {
            ++built;
            return new QLabel(QStringLiteral("behind"));
        });
        QCOMPARE(built, 0);
        QVERIFY(!backdrop.content());

        backdrop.setCondition(true);
        QCOMPARE(built, 1);
        QVERIFY(backdrop.content());
        // Behind the front widget: earlier among the siblings.
        QVERIFY(backdrop.children().indexOf(backdrop.content()) < backdrop.children().indexOf(backdrop.front()));

        backdrop.setCondition(true);
        QCOMPARE(built, 1);
        backdrop.setCondition(false);
        QVERIFY(!backdrop.content());
    }

    void hoverIsReportedOnlyAfterTheDelayFromAppearance()
    {
        ManualClock clock;
        QWidget view;
        std::vector<bool> reported;
        delayedOnHover(&view, 500, [&](bool inside) { reported.push_back(inside); }, clock);

        view.show();
        clock.advance(100ms);
        sendEnter(view);
        clock.advance(200ms);
        sendLeave(view);
        QVERIFY(reported.empty()); // dropped, and not replayed later
        clock.advance(300ms);
        QVERIFY(reported.empty());
        sendEnter(view);
        sendLeave(view);
        QCOMPARE(reported, (std::vector<bool>{true, false}));

        // Coming back on screen needs no new delay.
        view.hide();
        view.show();
        sendEnter(view);
        QCOMPARE(reported, (std::vector<bool>{true, false, true}));
    }

    void aZeroDelayStillWaitsForTheClockToRunOnce()
    {
        ManualClock clock;
        QWidget view;
        int reported = 0;
        auto* delay = delayedOnHover(&view, 0, [&](bool) { ++reported; }, clock);
        view.show();
        sendEnter(view);
        QCOMPARE(reported, 0);
        clock.advance(0ms);
        QVERIFY(delay->isHoverEnabled());
        sendLeave(view);
        QCOMPARE(reported, 1);
    }

    void aViewGoneBeforeItsDelayLeavesNothingBehind()
    {
        ManualClock clock;
        {
            QWidget view;
            delayedOnHover(&view, 500, [](bool) {}, clock);
            view.show();
            QCOMPARE(clock.pendingCount(), std::size_t(1));
        }
        QCOMPARE(clock.pendingCount(), std::size_t(0));
        clock.advance(1s);
    }

    void blurRadiusFallsWithDistance()
    {
        const QPointF centre(0, 0);
        QCOMPARE(blurRadius({0, 0}, centre, 10, 20, 200), 20.0);
        QCOMPARE(blurRadius({30, 40}, centre, 10, 20, 200), 15.0);
        QCOMPARE(blurRadius({0, -100}, centre, 10, 20, 200), 10.0);
        QCOMPARE(blurRadius({300, 0}, centre, 10, 20, 200), 10.0);
        QCOMPARE(blurRadius({50, 50}, QPointF(50, 50), 10, 20, 200), 20.0); // measured from the given centre
        QCOMPARE(blurRadius({200, 0}, centre, 0, 20, 200), 0.0);
        QCOMPARE(blurRadius({500, 0}, centre, 0, 20, 200), 0.0);
        QCOMPARE(blurRadius({500, 0}, centre, -5, 20, 200), 0.0); // never below 0
    }

    void blurRadiusWithoutADistanceToScaleBy()
    {
        for (const QPointF pointer : {QPointF(0, 0), QPointF(3, 4), QPointF(-1000, 0)}) {
            QCOMPARE(blurRadius(pointer, {0, 0}, 10, 20, 0), 10.0);
            QCOMPARE(blurRadius(pointer, {0, 0}, -5, 20, 0), 0.0);
            QCOMPARE(blurRadius(pointer, {0, 0}, 0, -20, 0), 0.0); // no infinite radius either
            QCOMPARE(blurRadius(pointer, {0, 0}, 3, -20, -50), 3.0);
        }
    }

    void trackingReportsPositionsFromTheCentre()
    {
        MouseTrackingView view;
        view.resize(200, 100);
        sendHoverMove(view, {10, 10}); // without a handler: ignored
        std::vector<QPointF> reported;
        view.setMouseMovedHandler([&](QPointF position) { reported.push_back(position); });
        sendHoverMove(view, {100, 50});
        sendHoverMove(view, {0, 0});
        sendHoverMove(view, {200, 100});
        QCOMPARE(reported, (std::vector<QPointF>{{0, 0}, {-100, -50}, {100, 50}}));
    }

    void conditionalBlurFollowsThePointerAfterTheEvent()
    {
        auto* content = new QLabel(QStringLiteral("icon"));
        ConditionalBlur blur(content, 10, 20, 200, {0, 0});
        blur.resize(400, 400);
        blur.show();
        QVERIFY(QTest::qWaitForWindowExposed(&blur));
        QCOMPARE(blur.radius(), 20.0); // the zero point before any movement
        auto* tracking = qobject_cast<MouseTrackingView*>(content->parentWidget());
        QVERIFY(tracking);
        QCOMPARE(tracking->size(), blur.size());

        sendHoverMove(*tracking, QPointF(200, 200) + QPointF(30, 40));
        QCOMPARE(blur.radius(), 20.0); // written once the event is handled
        QTRY_COMPARE(blur.mousePosition(), QPointF(30, 40));
        QCOMPARE(blur.radius(), 15.0);
        auto* effect = qobject_cast<QGraphicsBlurEffect*>(content->graphicsEffect());
        QVERIFY(effect);
        QCOMPARE(effect->blurRadius(), 15.0);
    }
};

QTEST_MAIN(InteractionHelpersTest)
#include "interaction_helpers_test.moc"
