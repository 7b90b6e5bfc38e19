#include "design/palette.h"

#include <QSet>
#include <QTest>

using namespace vantrel::design;

class PaletteTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyPositionHasItsOwnStableColour()
    {
        QSet<QRgb> neutrals;
        for (int step = 0; step < kNeutralSteps; ++step) {
            QCOMPARE(neutral(step), neutral(step));
            QCOMPARE(neutral(step).alpha(), 255);
            neutrals.insert(neutral(step).rgb());
        }
        QCOMPARE(neutrals.size(), kNeutralSteps);

        QSet<QRgb> styles;
        for (int position = 0; position < kStyleCount; ++position)
            styles.insert(style(position).rgb());
        QCOMPARE(styles.size(), kStyleCount);

        QSet<QRgb> blues;
        for (int step = 0; step < kBlueSteps; ++step)
            blues.insert(blue(step).rgb());
        QCOMPARE(blues.size(), kBlueSteps);
    }

    void neutralStepsDarkenFromTextToDeepestBackground()
    {
        for (int step = 1; step <= 8; ++step)
            QVERIFY2(relativeLuminance(neutral(step)) < relativeLuminance(neutral(step - 1)),
                     qPrintable(QStringLiteral("step %1").arg(step)));
        // The last step is white, for translucent overlays.
        QCOMPARE(neutral(9), QColor(Qt::white));
    }

    void textReadsOnItsBackgrounds_data()
    {
        QTest::addColumn<QColor>("text");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<double>("minimum");

        const double body = 4.5;
        for (int background : {5, 6, 7, 8}) {
            QTest::addRow("neutral 0 on neutral %d", background) << neutral(0) << neutral(background) << 7.0;
            QTest::addRow("neutral 1 on neutral %d", background) << neutral(1) << neutral(background) << body;
        }
        for (int background : {6, 7, 8})
            QTest::addRow("neutral 2 on neutral %d", background) << neutral(2) << neutral(background) << body;
        QTest::newRow("neutral 2 on neutral 5 (captions)") << neutral(2) << neutral(5) << 3.0;
        QTest::newRow("neutral 3 symbol on the window") << neutral(3) << neutral(7) << 3.0;
        QTest::newRow("dimmed subtitle: neutral 9 at 0.55 on the window")
            << composited(withOpacity(neutral(9), 0.55), neutral(7)) << neutral(7) << body;
        QTest::newRow("toolbar text: neutral 0 at 0.8 on the window")
            << composited(withOpacity(neutral(0), 0.8), neutral(7)) << neutral(7) << body;
        QTest::newRow("about window muted text on its bar") << style(2) << style(8) << body;
        QTest::newRow("placeholder on the field") << style(3) << style(16) << body;
        QTest::newRow("primary button title on its fill at 0.9")
            << neutral(9) << composited(withOpacity(blue(kFilledBlue), 0.9), neutral(7)) << body;
        QTest::newRow("link on the window") << style(5) << neutral(7) << body;
    }

    void textReadsOnItsBackgrounds()
    {
        QFETCH(QColor, text);
        QFETCH(QColor, background);
        QFETCH(double, minimum);
        const double ratio = contrastRatio(text, background);
        QVERIFY2(ratio >= minimum, qPrintable(QStringLiteral("contrast %1").arg(ratio, 0, 'f', 2)));
    }

    void surfacesAndBordersStandApart()
    {
        // Dividers (5) and panels (6) have to show on the window (7).
        QVERIFY(contrastRatio(neutral(5), neutral(7)) >= 1.5);
        QVERIFY(contrastRatio(neutral(6), neutral(7)) >= 1.1);
        // The faint activity timeline (neutral 0 at 0.1) is still visible.
        QVERIFY(contrastRatio(composited(withOpacity(neutral(0), 0.1), neutral(7)), neutral(7)) >= 1.3);
        // An edited field's border tells itself from the idle one and from the field.
        QVERIFY(contrastRatio(style(18), style(16)) >= 3.0);
        QVERIFY(contrastRatio(style(17), style(16)) >= 1.5);
        QVERIFY(contrastRatio(style(18), style(17)) >= 1.5);
        // The about window's bar is set off from the window.
        QVERIFY(style(8) != style(6));
    }

    void brandColourIsItsOwnAndShowsOnTheWindow()
    {
        const QColor brand = brandColor();
        for (int step = 0; step < kBlueSteps; ++step)
            QVERIFY(brand != blue(step));
        QVERIFY(qAbs(brand.hue() - blue(kFilledBlue).hue()) >= 25);
        QVERIFY(contrastRatio(brand, neutral(7)) >= 3.0);
    }
};

QTEST_APPLESS_MAIN(PaletteTest)
#include "palette_test.moc"
