#include "packages/components/in_progress_view.h"

#include <QTest>

using namespace vantrel;
using Style = ActivityIndicator::Style;

class ActivityIndicatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void anInProgressViewAnimatesWhileShown()
    {
        InProgressView view(ControlSize::mini);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(view.isAnimating());
    }

    void theBindingIsReadOnEachUpdateOnly()
    {
        bool busy = true;
        ActivityIndicator indicator({[&] { return busy; }, Style::bar, ControlSize::small});
        QVERIFY(indicator.isAnimating());
        busy = false;
        QVERIFY(indicator.isAnimating()); // not before the next update
        indicator.updateAnimation();
        QVERIFY(!indicator.isAnimating());
        busy = true;
        indicator.updateAnimation();
        QVERIFY(indicator.isAnimating());
        indicator.setFields({[] { return false; }, Style::bar, ControlSize::small});
        QVERIFY(!indicator.isAnimating());
    }

    void styleAndSizeStayAsTheyWereMade()
    {
        ActivityIndicator indicator({[] { return false; }, Style::spinning, ControlSize::small});
        const QSize made = indicator.sizeHint();
        indicator.setFields({[] { return true; }, Style::bar, ControlSize::large});
        QCOMPARE(indicator.indicatorStyle(), Style::spinning);
        QCOMPARE(indicator.controlSize(), ControlSize::small);
        QCOMPARE(indicator.sizeHint(), made);
        QVERIFY(indicator.isAnimating());
    }
};

QTEST_MAIN(ActivityIndicatorTest)
#include "activity_indicator_test.moc"
