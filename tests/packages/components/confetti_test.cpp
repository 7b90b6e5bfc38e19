// Confetti: its colours by date, its cells, its emitting line, and the count of flakes over time.

#include "packages/components/confetti.h"

#include "screenshot.h"

#include <QTest>

#include <cmath>

using namespace std::chrono_literals;
using namespace vantrel;

namespace {

bool near(const QColor& a, const QColor& b)
{
    const auto close = [](float x, float y) { return std::abs(x - y) < 1.0f / 255; };
    return close(a.redF(), b.redF()) && close(a.greenF(), b.greenF()) && close(a.blueF(), b.blueF()) &&
           a.alphaF() == 1.0f && b.alphaF() == 1.0f;
}

bool allIn(const std::vector<ConfettiCell>& cells, const ConfettiGradient& gradient)
{
    return std::all_of(cells.begin(), cells.end(), [&](const ConfettiCell& cell) {
        return near(cell.gradient.start, gradient.start) && near(cell.gradient.end, gradient.end);
    });
}

const ConfettiGradient white{QColor::fromRgbF(1, 1, 1), QColor::fromRgbF(0.9f, 0.9f, 0.9f)};
const ConfettiGradient orange{QColor::fromRgbF(1, 0.617f, 0), QColor::fromRgbF(0.9f, 0.617f * 0.9f, 0)};

} // namespace

class ConfettiTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void seasonalColoursTakeOverOnTheirDays_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("colours");
        QTest::newRow("20 December") << QDate(2024, 12, 20) << "default";
        QTest::newRow("21 December") << QDate(2024, 12, 21) << "white";
        QTest::newRow("31 December") << QDate(2025, 12, 31) << "white";
        QTest::newRow("1 January") << QDate(2025, 1, 1) << "default";
        QTest::newRow("26 April") << QDate(2025, 4, 26) << "default";
        QTest::newRow("27 April") << QDate(2025, 4, 27) << "orange";
        QTest::newRow("28 April") << QDate(2025, 4, 28) << "default";
        QTest::newRow("27 May") << QDate(2025, 5, 27) << "default";
        QTest::newRow("no date") << QDate() << "default";
    }
    void seasonalColoursTakeOverOnTheirDays()
    {
        QFETCH(QDate, date);
        QFETCH(QString, colours);
        const auto cells = confettiCells(date);
        QCOMPARE(cells.size(), std::size_t(12));
        if (colours == QLatin1String("white"))
            QVERIFY(allIn(cells, white));
        else if (colours == QLatin1String("orange"))
            QVERIFY(allIn(cells, orange));
        else
            QCOMPARE(confettiGradients(date), defaultConfettiGradients());
    }

    void anOrdinaryDayGivesThreeCellsPerColourInOrder()
    {
        const auto gradients = defaultConfettiGradients();
        QCOMPARE(gradients.size(), std::size_t(4));
        QCOMPARE(gradients[0].start, QColor::fromRgbF(0.172f, 0.524f, 0.829f)); // blue first
        QCOMPARE(gradients[3].end, QColor::fromRgbF(0.871f, 0.588f, 0.0f));     // amber last

        std::vector<ConfettiCell> expected;
        for (const auto& gradient : gradients)
            for (const auto shape : {ConfettiShape::tilted, ConfettiShape::upright, ConfettiShape::upright})
                expected.push_back({gradient, shape});
        QCOMPARE(confettiCells(QDate(2025, 6, 3)), expected);
    }

    void flakesAreFilledFromTopToBottom()
    {
        const ConfettiGradient gradient{Qt::white, Qt::black};
        const QImage upright = confettiFlakeImage(ConfettiShape::upright, gradient, 1);
        QCOMPARE(upright.size(), QSize(12, 12));
        QCOMPARE(qAlpha(upright.pixel(0, 6)), 0); // an oval 6 wide in the middle
        QVERIFY(qGray(upright.pixel(6, 2)) > qGray(upright.pixel(6, 9)));
        const QImage tilted = confettiFlakeImage(ConfettiShape::tilted, gradient, 1);
        QVERIFY(qAlpha(tilted.pixel(6, 6)) > 0);
        QCOMPARE(qAlpha(tilted.pixel(0, 0)), 0);
    }

    void theEmitterLineLiesAboveTheTopEdge()
    {
        Confetti confetti(300, 200);
        QCOMPARE(confetti.emitterSize(), QSizeF(300, 0));
        QCOMPARE(confetti.emitterPosition(), QPointF(150, -100));
        QCOMPARE(confetti.cells(), confettiCells(QDate::currentDate()));
        QCOMPARE(confetti.size(), QSize(300, 200));
    }

    void flakesAreBornAtTheirRateAndLiveTenSeconds()
    {
        Confetti confetti(300, 200);
        QCOMPARE(confetti.particleCount(), 0);
        confetti.advance(1s);
        QCOMPARE(confetti.particleCount(), 12 * 5);
        confetti.advance(333ms);
        confetti.advance(667ms);
        QCOMPARE(confetti.particleCount(), 2 * 12 * 5);
        confetti.advance(9s);
        QCOMPARE(confetti.particleCount(), 10 * 12 * 5); // the first second's flakes are gone
        confetti.advance(7s);
        QCOMPARE(confetti.particleCount(), 10 * 12 * 5);
    }

    void screenshot()
    {
        Confetti confetti(600, 400);
        confetti.advance(8s);
        QPixmap frame(confetti.size());
        frame.fill(QColor(0x1f, 0x1f, 0x23));
        confetti.render(&frame, QPoint(), QRegion(), QWidget::DrawChildren);
        QVERIFY(saveScreenshot(frame, QStringLiteral("components_confetti")));
    }
};

QTEST_MAIN(ConfettiTest)
#include "confetti_test.moc"
