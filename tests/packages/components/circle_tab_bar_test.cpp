// The page dots: their looks, selection by click, hover, and what a rendered bar shows.

#include "packages/components/circle_tab_bar.h"

#include "screenshot.h"

#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>

using namespace vantrel;
using Bar = CircleTabBarBase;

namespace {

const std::vector<QString> fourPages{"welcome", "team", "bundle", "done"};

// The widths of the runs of drawn pixels along the middle row of the bar drawn on nothing.
std::vector<int> dotWidths(QWidget& bar)
{
    QPixmap pixmap(bar.size());
    pixmap.fill(Qt::transparent);
    bar.render(&pixmap, QPoint(), QRegion(), QWidget::DrawChildren);
    const QImage image = pixmap.toImage();
    std::vector<int> runs{0};
    for (int x = 0; x < image.width(); ++x) {
        if (qAlpha(image.pixel(x, image.height() / 2)) > 40)
            ++runs.back();
        else if (runs.back() > 0)
            runs.push_back(0);
    }
    if (runs.back() == 0)
        runs.pop_back();
    return runs;
}

// Where a dot is drawn, from the looks it is shown with.
QPoint dotCentre(const Bar& bar, int index)
{
    const auto span = [&](int i) { return bar.shownLook(i).width + 2 * bar.shownLook(i).horizontalPadding; };
    double row = Bar::spacing * (bar.dotCount() - 1);
    for (int i = 0; i < bar.dotCount(); ++i)
        row += span(i);
    double x = (bar.width() - row) / 2;
    for (int i = 0; i < index; ++i)
        x += span(i) + Bar::spacing;
    return QPointF(x + span(index) / 2, bar.height() / 2.0).toPoint();
}

} // namespace

class CircleTabBarTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theSelectedPageIsTheOneWideDot()
    {
        QVERIFY(Bar::look(true, false).width > 3 * Bar::look(false, false).width);
        QVERIFY(Bar::look(true, false).opacity > Bar::look(false, false).opacity);
        QCOMPARE(Bar::look(false, true).width, Bar::look(false, false).width); // hover grows by scale only
        QVERIFY(Bar::look(false, true).scale > 1.0 && Bar::look(true, true).scale > 1.0);

        Recorded pages{QStringLiteral("bundle")};
        QWidget window;
        darkWindow(window);
        auto* bar = new CircleTabBar<QString>(pages.binding(), fourPages);
        (new QVBoxLayout(&window))->addWidget(bar, 0, Qt::AlignCenter);
        window.resize(160, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const std::vector<int> widths = dotWidths(*bar);
        QCOMPARE(widths.size(), std::size_t(4));
        QVERIFY(widths[2] >= 23 && widths[2] <= 25); // the wide one, in page order
        for (const int i : {0, 1, 3})
            QVERIFY(widths[i] >= 5 && widths[i] <= 7);
        QPixmap large(window.size() * 4);
        large.setDevicePixelRatio(4);
        window.render(&large);
        QVERIFY(saveScreenshot(large, QStringLiteral("components_circle_tab_bar")));

        // A bound value matching no page selects no dot.
        pages.value = QStringLiteral("elsewhere");
        bar->updateSelection();
        QTRY_VERIFY(std::ranges::all_of(dotWidths(*bar), [](int width) { return width <= 7; }));
    }

    void clickingADotWritesItsPage()
    {
        Recorded pages{QStringLiteral("welcome")};
        CircleTabBar<QString> bar(pages.binding(), fourPages);
        bar.resize(bar.sizeHint());
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QTest::mouseClick(&bar, Qt::LeftButton, {}, dotCentre(bar, 3));
        QCOMPARE(pages.written, (std::vector<QString>{QStringLiteral("done")}));
        QVERIFY(bar.isDotSelected(3) && !bar.isDotSelected(0));
        QTRY_COMPARE(bar.shownLook(0), Bar::look(false, bar.isDotHovered(0))); // springs back

        pages.value = QStringLiteral("team"); // changed elsewhere: shown on the next update
        bar.updateSelection();
        QVERIFY(bar.isDotSelected(1) && !bar.isDotSelected(3));

        CircleTabBar<QString> empty(pages.binding(), {});
        empty.resize(20, 8);
        QTest::mouseClick(&empty, Qt::LeftButton, {}, QPoint(10, 4));
        QCOMPARE(pages.written.size(), std::size_t(1));
    }

    void hoverGrowsOnlyTheDotUnderThePointer()
    {
        Recorded pages{QStringLiteral("team")};
        CircleTabBar<QString> bar(pages.binding(), fourPages);
        bar.resize(bar.sizeHint() + QSize(20, 0));
        const QPointF position = dotCentre(bar, 2);
        QMouseEvent move(QEvent::MouseMove, position, bar.mapToGlobal(position), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(&bar, &move);
        QCOMPARE(bar.targetLook(2), Bar::look(false, true));
        QCOMPARE(bar.targetLook(1), Bar::look(true, false));
        QCOMPARE(bar.targetLook(3), Bar::look(false, false));
        QTRY_COMPARE(bar.shownLook(2), Bar::look(false, true));

        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&bar, &leave);
        QVERIFY(bar.shownLook(2).scale > 1.0); // it springs back, not jumps
        QTRY_COMPARE(bar.shownLook(2), Bar::look(false, false));
    }
};

QTEST_MAIN(CircleTabBarTest)
#include "circle_tab_bar_test.moc"
