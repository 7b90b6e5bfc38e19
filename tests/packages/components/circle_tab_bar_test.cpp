// The page dots: their looks, selection by click, hover, and what a rendered bar shows.

#include "packages/components/circle_tab_bar.h"

#include "screenshot.h"

#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>

using namespace vantrel;
using Look = CircleTabBarBase::Look;

namespace {

struct Pages {
    QString selected;
    std::vector<QString> written;
    Binding<QString> binding()
    {
        return {[this] { return selected; },
                [this](const QString& page) {
                    written.push_back(page);
                    selected = page;
                }};
    }
};

const std::vector<QString> fourPages{"welcome", "team", "bundle", "done"};

// The bar drawn on nothing, with the given pixel ratio.
QImage rendered(QWidget& widget, qreal ratio = 1)
{
    QPixmap pixmap(widget.size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    widget.render(&pixmap, QPoint(), QRegion(), QWidget::DrawChildren);
    return pixmap.toImage();
}

// The runs of drawn pixels along the bar's middle row, as widths.
std::vector<int> dotWidths(const QImage& image)
{
    std::vector<int> runs;
    int run = 0;
    const int y = image.height() / 2;
    for (int x = 0; x < image.width(); ++x) {
        if (qAlpha(image.pixel(x, y)) > 40) {
            ++run;
        } else if (run > 0) {
            runs.push_back(run);
            run = 0;
        }
    }
    if (run > 0)
        runs.push_back(run);
    return runs;
}

void moveTo(QWidget& widget, QPointF position)
{
    QMouseEvent move(QEvent::MouseMove, position, widget.mapToGlobal(position), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &move);
}

// Where a dot is drawn, from the looks it is shown with.
QPointF dotCentre(const CircleTabBarBase& bar, int index)
{
    double row = CircleTabBarBase::spacing * (bar.dotCount() - 1);
    for (int i = 0; i < bar.dotCount(); ++i)
        row += bar.shownLook(i).width + 2 * bar.shownLook(i).horizontalPadding;
    double x = (bar.width() - row) / 2;
    for (int i = 0; i < index; ++i)
        x += bar.shownLook(i).width + 2 * bar.shownLook(i).horizontalPadding + CircleTabBarBase::spacing;
    return {x + bar.shownLook(index).horizontalPadding + bar.shownLook(index).width / 2, bar.height() / 2.0};
}

} // namespace

class CircleTabBarTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void looksBySelectionAndHover()
    {
        QCOMPARE(CircleTabBarBase::look(false, false), (Look{6, 6, 0.4, 1.0, 0}));
        QCOMPARE(CircleTabBarBase::look(false, true), (Look{6, 6, 0.4, 1.3, 2}));
        QCOMPARE(CircleTabBarBase::look(true, false), (Look{24, 6, 1.0, 1.0, 0}));
        QCOMPARE(CircleTabBarBase::look(true, true), (Look{24, 6, 1.0, 1.3, 2}));
    }

    void theSelectedPageIsTheOneWideDot()
    {
        Pages pages{QStringLiteral("bundle")};
        QWidget window;
        window.setAutoFillBackground(true);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, QColor(0x1f, 0x1f, 0x23));
        window.setPalette(palette);
        auto* layout = new QVBoxLayout(&window);
        auto* bar = new CircleTabBar<QString>(pages.binding(), fourPages);
        layout->addWidget(bar, 0, Qt::AlignCenter);
        window.resize(160, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const std::vector<int> widths = dotWidths(rendered(*bar));
        QCOMPARE(widths.size(), std::size_t(4));
        QCOMPARE(std::count_if(widths.begin(), widths.end(), [](int w) { return w >= 20; }), 1);
        QVERIFY(widths[2] >= 23 && widths[2] <= 25); // in page order
        for (const int i : {0, 1, 3})
            QVERIFY(widths[i] >= 5 && widths[i] <= 7);
        // Four times as large, to be seen.
        QPixmap large(window.size() * 4);
        large.setDevicePixelRatio(4);
        window.render(&large);
        QVERIFY(saveScreenshot(large, QStringLiteral("components_circle_tab_bar")));
    }

    void aBoundValueMatchingNoPageSelectsNoDot()
    {
        Pages pages{QStringLiteral("elsewhere")};
        CircleTabBar<QString> bar(pages.binding(), fourPages);
        for (int i = 0; i < bar.dotCount(); ++i)
            QCOMPARE(bar.shownLook(i), CircleTabBarBase::look(false, false));
        bar.resize(bar.sizeHint());
        for (const int width : dotWidths(rendered(bar)))
            QVERIFY(width <= 7);

        CircleTabBar<QString> empty(pages.binding(), {});
        QCOMPARE(empty.dotCount(), 0);
        empty.resize(20, 8);
        QTest::mouseClick(&empty, Qt::LeftButton, {}, QPoint(10, 4));
        QVERIFY(pages.written.empty());
    }

    void clickingADotWritesItsPage()
    {
        Pages pages{QStringLiteral("welcome")};
        CircleTabBar<QString> bar(pages.binding(), fourPages);
        bar.resize(bar.sizeHint());
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));

        QTest::mouseClick(&bar, Qt::LeftButton, {}, dotCentre(bar, 3).toPoint());
        QCOMPARE(pages.written, (std::vector<QString>{QStringLiteral("done")}));
        QVERIFY(bar.isDotSelected(3));
        QVERIFY(!bar.isDotSelected(0));
        QCOMPARE(bar.targetLook(3).width, 24.0);
        QTRY_COMPARE(bar.shownLook(0), CircleTabBarBase::look(false, bar.isDotHovered(0))); // springs back

        // The selected dot again: the same page is written, nothing changes.
        QTest::mouseClick(&bar, Qt::LeftButton, {}, dotCentre(bar, 3).toPoint());
        QCOMPARE(pages.written.size(), std::size_t(2));
        QCOMPARE(pages.written.back(), QStringLiteral("done"));
        QVERIFY(bar.isDotSelected(3));

        // A change of the bound value from elsewhere shows on the next update.
        pages.selected = QStringLiteral("team");
        bar.updateSelection();
        QVERIFY(bar.isDotSelected(1) && !bar.isDotSelected(3));
    }

    void hoverGrowsOnlyTheDotUnderThePointer()
    {
        Pages pages{QStringLiteral("team")};
        CircleTabBar<QString> bar(pages.binding(), fourPages);
        bar.resize(bar.sizeHint() + QSize(20, 0));

        moveTo(bar, dotCentre(bar, 2));
        QVERIFY(bar.isDotHovered(2));
        QCOMPARE(bar.targetLook(2), CircleTabBarBase::look(false, true));
        QCOMPARE(bar.targetLook(1), CircleTabBarBase::look(true, false));
        QCOMPARE(bar.targetLook(3), CircleTabBarBase::look(false, false));
        QTRY_COMPARE(bar.shownLook(2), CircleTabBarBase::look(false, true));

        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&bar, &leave);
        QVERIFY(!bar.isDotHovered(2));
        QVERIFY(bar.shownLook(2).scale > 1.0); // it springs back, not jumps
        QTRY_COMPARE(bar.shownLook(2), CircleTabBarBase::look(false, false));
    }
};

QTEST_MAIN(CircleTabBarTest)
#include "circle_tab_bar_test.moc"
