// Confetti: its colours by date, its cells, and the count of flakes over time.

#include "packages/components/confetti.h"

#include "screenshot.h"

#include <QTest>

#include <cmath>

using namespace std::chrono_literals;
using namespace vantrel;

namespace {

// Whether there are twelve cells, each drawn in `gradient`, to the nearest 8-bit step.
bool allIn(const std::vector<ConfettiCell>& cells, const ConfettiGradient& gradient)
{
    const auto near = [](const QColor& a, const QColor& b) {
        return std::abs(a.redF() - b.redF()) < 1.0f / 255 && std::abs(a.greenF() - b.greenF()) < 1.0f / 255
               && std::abs(a.blueF() - b.blueF()) < 1.0f / 255 && a.alphaF() == 1.0f;
    };
    return cells.size() == 12 && std::ranges::all_of(cells, [&](const ConfettiCell& cell) {
               return near(cell.gradient.start, gradient.start) && near(cell.gradient.end, gradient.end);
           });
}

} // namespace

class ConfettiTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void seasonalColoursTakeOverOnTheirDays()
    {
        const ConfettiGradient white{QColor::fromRgbF(1, 1, 1), QColor::fromRgbF(0.9f, 0.9f, 0.9f)};
        const ConfettiGradient orange{QColor::fromRgbF(1, 0.617f, 0), QColor::fromRgbF(0.9f, 0.617f * 0.9f, 0)};
        for (const QDate date : {QDate(2024, 12, 21), QDate(2025, 12, 31)})
            QVERIFY(allIn(confettiCells(date), white));
        QVERIFY(allIn(confettiCells(QDate(2025, 4, 27)), orange));
        for (const QDate date :
             {QDate(2024, 12, 20), QDate(2025, 1, 1), QDate(2025, 4, 26), QDate(2025, 4, 28), QDate()})
            QCOMPARE(confettiGradients(date), defaultConfettiGradients());
    }

    void anOrdinaryDayGivesThreeCellsPerColourInOrder()
    {
        std::vector<ConfettiCell> expected;
        for (const auto& gradient : defaultConfettiGradients())
            for (const auto shape : {ConfettiShape::tilted, ConfettiShape::upright, ConfettiShape::upright})
                expected.push_back({gradient, shape});
        QCOMPARE(expected.size(), std::size_t(12));
        QCOMPARE(confettiCells(QDate(2025, 6, 3)), expected);
    }

    void flakesAreBornAtTheirRateAndLiveTenSeconds()
    {
        Confetti confetti(300, 200);
        confetti.advance(333ms);
        confetti.advance(667ms);
        QCOMPARE(confetti.particleCount(), 12 * 5);
        confetti.advance(9s);
        QCOMPARE(confetti.particleCount(), 10 * 12 * 5);
        confetti.advance(7s);
        QCOMPARE(confetti.particleCount(), 10 * 12 * 5); // the oldest flakes are gone
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
