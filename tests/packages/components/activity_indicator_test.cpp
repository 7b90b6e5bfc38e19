// The activity indicator and the always-busy spinner built on it.

#include "packages/components/in_progress_view.h"

#include <QTest>

using namespace vantrel;

class ActivityIndicatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void anInProgressViewAnimatesAtOnce()
    {
        InProgressView view(ControlSize::mini);
        QVERIFY(view.isAnimating());
        QCOMPARE(view.indicatorStyle(), ActivityIndicator::Style::spinning);
        QCOMPARE(view.sizeHint(), QSize(10, 10));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.hide();
        QVERIFY(view.isAnimating());
    }

    void theAnimationFollowsTheBindingAtEachUpdate()
    {
        bool busy = true;
        ActivityIndicator indicator({[&] { return busy; }, ActivityIndicator::Style::bar, ControlSize::small});
        QVERIFY(indicator.isAnimating());

        busy = false;
        QVERIFY(indicator.isAnimating()); // read on the next update, not before
        indicator.updateAnimation();
        QVERIFY(!indicator.isAnimating());

        busy = true;
        indicator.updateAnimation();
        QVERIFY(indicator.isAnimating());

        // Declaring the fields again is an update too.
        indicator.setFields({[] { return false; }, ActivityIndicator::Style::bar, ControlSize::small});
        QVERIFY(!indicator.isAnimating());
    }

    void styleAndSizeStayAsTheyWereMade()
    {
        ActivityIndicator indicator({[] { return false; }, ActivityIndicator::Style::spinning, ControlSize::small});
        QVERIFY(!indicator.isAnimating());
        const QSize made = indicator.sizeHint();
        QCOMPARE(made, QSize(16, 16));

        indicator.setFields({[] { return true; }, ActivityIndicator::Style::bar, ControlSize::large});
        QCOMPARE(indicator.fields().style, ActivityIndicator::Style::bar);
        QCOMPARE(indicator.indicatorStyle(), ActivityIndicator::Style::spinning);
        QCOMPARE(indicator.controlSize(), ControlSize::small);
        QCOMPARE(indicator.sizeHint(), made);
        QVERIFY(indicator.isAnimating());
    }
};

QTEST_MAIN(ActivityIndicatorTest)
#include "activity_indicator_test.moc"
