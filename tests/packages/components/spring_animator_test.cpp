// The spring that drives the interface's motion, stepped by hand.

#include "packages/components/spring_animator.h"

#include <QSignalSpy>
#include <QTest>

using namespace vantrel;

namespace {

// Steps `spring` for `seconds` in display frames; the largest value it reached.
double run(SpringAnimator& spring, double seconds)
{
    double highest = spring.value();
    for (double t = 0; t < seconds && !spring.isSettled(); t += 1.0 / 60.0) {
        spring.step(1.0 / 60.0);
        highest = std::max(highest, spring.value());
    }
    return highest;
}

} // namespace

class SpringAnimatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void settlesAtItsTargetOvershootingOnlyWhenUnderdamped()
    {
        SpringAnimator critical(0.4, 1.0);
        QSignalSpy settled(&critical, &SpringAnimator::settled);
        critical.animateTo(1.0);
        QVERIFY(!critical.isSettled());
        QVERIFY(run(critical, 5.0) <= 1.0);
        QVERIFY(critical.isSettled());
        QCOMPARE(critical.value(), 1.0);
        QCOMPARE(settled.count(), 1);

        SpringAnimator bouncy(0.4, 0.5);
        bouncy.animateTo(1.0);
        QVERIFY(run(bouncy, 5.0) > 1.05);
        QCOMPARE(bouncy.value(), 1.0);

        // A very stiff spring snaps within a frame or two and stays finite.
        SpringAnimator snap(0.01, 0.55);
        snap.animateTo(1.0);
        const double peak = run(snap, 1.0);
        QVERIFY(peak > 1.0 && peak < 1.5);
        QVERIFY(snap.isSettled());
        QCOMPARE(snap.value(), 1.0);
    }

    void aNewTargetKeepsTheVelocity()
    {
        SpringAnimator spring(0.5, 0.8);
        spring.animateTo(1.0);
        for (int frame = 0; frame < 6; ++frame)
            spring.step(1.0 / 60.0);
        const double value = spring.value();
        const double velocity = spring.velocity();
        QVERIFY(velocity > 0.5);
        spring.animateTo(0.0); // turned around mid-flight: no jump, still moving up at first
        QCOMPARE(spring.value(), value);
        QCOMPARE(spring.velocity(), velocity);
        spring.step(1.0 / 60.0);
        QVERIFY(spring.value() > value);
        run(spring, 5.0);
        QCOMPARE(spring.value(), 0.0);

        // Jumping stops it where it is told.
        spring.animateTo(1.0);
        spring.setValue(0.25);
        QVERIFY(spring.isSettled());
        QCOMPARE(spring.velocity(), 0.0);
    }
};

QTEST_GUILESS_MAIN(SpringAnimatorTest)
#include "spring_animator_test.moc"
