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
    void animatedBindingAnimatesOnlyItsOwnWrites()
    {
        int stored = 3;
        std::vector<bool> animatedWrites;
        const Binding<int> source{[&] { return stored; },
                                  [&](const int& value) {
                                      animatedWrites.push_back(currentAnimation().has_value());
                                      stored = value;
                                  }};
        source.withDefaultAnimation().set(7);
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
        QVERIFY(!backdrop.content());
        backdrop.setCondition(true);
        backdrop.setCondition(true);
        QCOMPARE(built, 1);
        QVERIFY(backdrop.children().indexOf(backdrop.content()) < backdrop.children().indexOf(backdrop.front()));
        backdrop.setCondition(false);
        QVERIFY(!backdrop.content());
    }

    void hoverIsReportedOnlyAfterTheDelayFromAppearance()
    {
        ManualClock clock;
        QWidget view;
        std::vector<bool> reported;
        delayedOnHover(
            &view, 500, [&](bool inside) { reported.push_back(inside); }, clock);
        view.show();
        clock.advance(100ms);
        sendEnter(view);
        clock.advance(200ms);
        sendLeave(view);
        clock.advance(300ms);
        QVERIFY(reported.empty()); // dropped, and not replayed later
        sendEnter(view);
        sendLeave(view);
        QCOMPARE(reported, (std::vector<bool>{true, false}));

        // Coming back on screen needs no new delay.
        view.hide();
        view.show();
        sendEnter(view);
        QCOMPARE(reported, (std::vector<bool>{true, false, true}));

        // A zero delay still waits for the clock to run once.
        QWidget quick;
        int quickReports = 0;
        delayedOnHover(
            &quick, 0, [&](bool) { ++quickReports; }, clock);
        quick.show();
        sendEnter(quick);
        QCOMPARE(quickReports, 0);
        clock.advance(0ms);
        sendLeave(quick);
        QCOMPARE(quickReports, 1);
    }

    void aViewGoneBeforeItsDelayCancelsIt()
    {
        ManualClock clock;
        {
            QWidget view;
            delayedOnHover(
                &view, 500, [](bool) {}, clock);
            view.show();
            QCOMPARE(clock.pendingCount(), std::size_t(1));
        }
        QCOMPARE(clock.pendingCount(), std::size_t(0));
        clock.advance(1s);
    }

    void blurRadiusFallsWithDistance()
    {
        QCOMPARE(blurRadius({30, 40}, {0, 0}, 10, 20, 200), 15.0);
        QCOMPARE(blurRadius({80, 90}, {50, 50}, 10, 20, 200), 15.0); // measured from the given centre
        QCOMPARE(blurRadius({300, 0}, {0, 0}, 10, 20, 200), 10.0);
        QCOMPARE(blurRadius({500, 0}, {0, 0}, 0, 20, 200), 0.0);
        QCOMPARE(blurRadius({500, 0}, {0, 0}, -5, 20, 200), 0.0); // never below 0
        // Without a distance to scale by: the minimum, never infinite.
        for (const QPointF pointer : {QPointF(0, 0), QPointF(-1000, 0)}) {
            QCOMPARE(blurRadius(pointer, {0, 0}, 10, 20, 0), 10.0);
            QCOMPARE(blurRadius(pointer, {0, 0}, -5, 20, 0), 0.0);
            QCOMPARE(blurRadius(pointer, {0, 0}, 0, -20, 0), 0.0);
            QCOMPARE(blurRadius(pointer, {0, 0}, 3, -20, -50), 3.0);
        }
    }

    void conditionalBlurFollowsThePointerFromTheCentre()
    {
        auto* content = new QLabel(QStringLiteral("icon"));
        ConditionalBlur blur(content, 10, 20, 200, {0, 0});
        blur.resize(400, 400);
        blur.show();
        QVERIFY(QTest::qWaitForWindowExposed(&blur));
        QCOMPARE(blur.radius(), 20.0);
        auto* tracking = qobject_cast<MouseTrackingView*>(content->parentWidget());
        QVERIFY(tracking);
        sendHoverMove(*tracking, QPointF(230, 240));
        QTRY_COMPARE(blur.mousePosition(), QPointF(30, 40));
        QCOMPARE(qobject_cast<QGraphicsBlurEffect*>(content->graphicsEffect())->blurRadius(), 15.0);
    }
};

QTEST_MAIN(InteractionHelpersTest)
#include "interaction_helpers_test.moc"
