#include "design/palette.h"

#include <QTest>

using namespace vantrel::design;

class PaletteTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void textReadsOnItsBackgrounds()
    {
        struct Pair {
            QColor text;
            QColor background;
            double minimum;
        };
        const QColor window = neutral(7);
        std::vector<Pair> pairs{
            {neutral(2), neutral(5), 3.0}, // captions
            {neutral(3), window, 3.0},     // large symbols
            {composited(withOpacity(neutral(9), 0.55), window), window, 4.5},
            {composited(withOpacity(neutral(0), 0.8), window), window, 4.5},
            {neutral(9), composited(withOpacity(blue(kFilledBlue), 0.9), window), 4.5},
            {style(2), style(8), 4.5},   // about window muted text on its bar
            {style(3), style(16), 4.5},  // placeholder on the field
            {style(5), window, 4.5},     // link
            {style(18), style(16), 3.0}, // editing border on the field
            {style(18), style(17), 1.5}, // editing border against the idle one
            {brandColor(), window, 3.0},
            {neutral(5), window, 1.5}, // dividers
        };
        for (int background = 5; background <= 8; ++background) {
            pairs.push_back({neutral(0), neutral(background), 7.0});
            pairs.push_back({neutral(1), neutral(background), 4.5});
            if (background > 5)
                pairs.push_back({neutral(2), neutral(background), 4.5});
        }
        for (const auto& [text, background, minimum] : pairs)
            QVERIFY2(contrastRatio(text, background) >= minimum,
                     qPrintable(text.name() + QStringLiteral(" on ") + background.name()));
    }
};

QTEST_APPLESS_MAIN(PaletteTest)
#include "palette_test.moc"
