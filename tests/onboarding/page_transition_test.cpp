// Page changes of the onboarding: where the entering page starts, the spring's overshoot, the
// end state, turning back mid-flight, right-to-left layouts and pages that only leave.

#include "onboarding/page_transition.h"

#include <QApplication>
#include <QGridLayout>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace vantrel;

namespace {

QWidget* page(const QColor& color)
{
    auto* widget = new QWidget;
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    return widget;
}

// A container of the onboarding's size with two pages in the same place, the first one shown.
struct Stage {
    QWidget container;
    QWidget* first = page(Qt::red);
    QWidget* second = page(Qt::blue);
    QWidget* bar = page(Qt::green); // shown over the pages, as the page dots are

    Stage()
    {
        auto* layout = new QGridLayout(&container);
        layout->setContentsMargins(20, 30, 20, 30);
        layout->addWidget(first, 0, 0);
        layout->addWidget(second, 0, 0);
        bar->setFixedHeight(20);
        layout->addWidget(bar, 0, 0, Qt::AlignBottom);
        second->hide();
        container.resize(385, 527);
        container.show();
    }

    QColor shown(QPoint at) { return container.grab().toImage().pixelColor(at); }

    // Children of the container other than its pages and transitions: the layer being painted.
    int layers() const
    {
        int count = 0;
        for (QObject* child : container.children())
            if (child->isWidgetType() && child != first && child != second && child != bar)
                ++count;
        return count;
    }
};

} // namespace

class PageTransitionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theNewPageSlidesInFromTheTrailingEdgeOvershootsAndSettlesInPlace()
    {
        Stage stage;
        QVERIFY(QTest::qWaitForWindowExposed(&stage.container));
        const QRect place = stage.first->geometry();

        PageTransition* transition = PageTransition::run(&stage.container, stage.first, stage.second);
        QVERIFY(transition);
        QSignalSpy finished(transition, &PageTransition::finished);
        // It starts wholly beyond the right edge; both pages are off while the layer paints them.
        QCOMPARE(transition->startOffset(), double(385 - place.x()));
        QCOMPARE(transition->offset(), transition->startOffset());
        QVERIFY(!stage.first->isVisible() && !stage.second->isVisible());
        QCOMPARE(stage.layers(), 1);

        // A short way in, the entering page covers the right of its place but not yet the left.
        transition->spring().step(0.05);
        const double offset = transition->offset();
        QVERIFY(offset > 0 && offset < transition->startOffset());
        QCOMPARE(stage.shown(QPoint(place.right() - 2, 100)), QColor(Qt::blue));
        QVERIFY(stage.shown(QPoint(place.x() + int(offset) - 3, 100)) != QColor(Qt::blue));
        QCOMPARE(stage.shown(QPoint(place.right() - 2, place.bottom() - 5)), QColor(Qt::green));

        // The slightly bouncy spring passes its place before it rests.
        double least = offset;
        while (!transition->spring().isSettled() && least > -100) {
            transition->spring().step(1.0 / 120);
            least = std::min(least, transition->offset());
            if (transition->spring().isSettled())
                break;
        }
        QVERIFY2(least < -1, qPrintable(QString::number(least)));

        QVERIFY(finished.count() == 1 || finished.wait(5000));
        QVERIFY(stage.second->isVisible() && !stage.first->isVisible());
        QCOMPARE(stage.second->geometry(), place);
        QVERIFY(!stage.second->sizePolicy().retainSizeWhenHidden());
        QTRY_COMPARE(stage.layers(), 0);
        QCOMPARE(stage.shown(place.center()), QColor(Qt::blue));
        QTRY_VERIFY(stage.container.findChildren<PageTransition*>().isEmpty());
    }

    void goingBackMidFlightFinishesTheFirstAndStillEntersFromTheTrailingEdge()
    {
        Stage stage;
        QPointer<PageTransition> forward = PageTransition::run(&stage.container, stage.first, stage.second);
        QVERIFY(forward);
        QSignalSpy forwardDone(forward.data(), &PageTransition::finished);
        PageTransition* back = PageTransition::run(&stage.container, stage.second, stage.first);
        QVERIFY(back);
        QCOMPARE(forwardDone.count(), 1);
        QVERIFY(back->startOffset() > 0);
        QVERIFY(!stage.second->isVisible());

        QSignalSpy backDone(back, &PageTransition::finished);
        QVERIFY(backDone.wait(5000));
        QVERIFY(stage.first->isVisible() && !stage.second->isVisible());
        QTRY_COMPARE(stage.layers(), 0);
    }

    void whatLiesBehindAMovingPageShowsThroughItAndAResizeDoesNotStopIt()
    {
        Stage stage;
        stage.container.setAutoFillBackground(true);
        QPalette ground = stage.container.palette();
        ground.setColor(QPalette::Window, Qt::yellow);
        stage.container.setPalette(ground);
        // A page that fills no background of its own (as the icon backdrop), with a mark drawn
        // on it in one corner.
        auto* clear = new QWidget(&stage.container);
        QPalette own = clear->palette();
        own.setColor(QPalette::Window, Qt::magenta);
        clear->setPalette(own);
        static_cast<QGridLayout*>(stage.container.layout())->addWidget(clear, 0, 0);
        QWidget* mark = page(Qt::blue);
        mark->setParent(clear);
        mark->setGeometry(0, 0, 20, 20);
        clear->hide();
        QVERIFY(QTest::qWaitForWindowExposed(&stage.container));

        stage.first->hide();
        PageTransition* transition = PageTransition::run(&stage.container, nullptr, clear);
        QVERIFY(transition);
        transition->spring().step(0.05);
        const QPoint left = stage.first->geometry().topLeft() + QPoint(int(transition->offset()), 0);
        QCOMPARE(stage.shown(left + QPoint(5, 5)), QColor(Qt::blue));
        QCOMPARE(stage.shown(left + QPoint(40, 100)), QColor(Qt::yellow));

        // The container grows; the page goes on to its new place.
        stage.container.resize(385, 600);
        QApplication::processEvents();
        QApplication::processEvents();
        QVERIFY(!transition->isFinished());
        QSignalSpy finished(transition, &PageTransition::finished);
        QVERIFY(finished.wait(5000));
        QVERIFY(clear->isVisible());
        QCOMPARE(clear->height(), 600 - 2 * 30);
    }

    void inARightToLeftLayoutPagesEnterFromTheLeft()
    {
        Stage stage;
        stage.container.setLayoutDirection(Qt::RightToLeft);
        PageTransition* transition = PageTransition::run(&stage.container, stage.first, stage.second);
        QVERIFY(transition);
        QCOMPARE(transition->startOffset(), -double(stage.second->geometry().right() + 1));
        transition->finish();
        QVERIFY(stage.second->isVisible());
    }

    void aPageThatOnlyLeavesFadesAndOnlyEntersSlides()
    {
        Stage stage;
        PageTransition* leaving = PageTransition::run(&stage.container, stage.first, nullptr);
        QVERIFY(leaving);
        QCOMPARE(leaving->fadeOpacity(), 1.0);
        QSignalSpy left(leaving, &PageTransition::finished);
        QVERIFY(left.wait(5000));
        QVERIFY(!stage.first->isVisible() && !stage.second->isVisible());

        PageTransition* entering = PageTransition::run(&stage.container, nullptr, stage.second);
        QVERIFY(entering);
        QSignalSpy entered(entering, &PageTransition::finished);
        QVERIFY(entered.wait(5000));
        QVERIFY(stage.second->isVisible());
    }

    void pagesOutsideTheContainerAreSwitchedWithoutMotion()
    {
        Stage stage;
        QWidget stranger;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not inside the container"));
        QVERIFY(!PageTransition::run(&stage.container, stage.first, &stranger));
        QVERIFY(!stage.first->isVisible());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not inside the container"));
        QVERIFY(!PageTransition::run(nullptr, nullptr, stage.second));
        QVERIFY(stage.second->isVisible());
    }
};

QTEST_MAIN(PageTransitionTest)
#include "page_transition_test.moc"
