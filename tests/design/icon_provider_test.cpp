#include "design/icon_provider.h"
#include "design/palette.h"
#include "screenshots.h"

#include <QGridLayout>
#include <QLabel>
#include <QTest>

using namespace vantrel::design;

namespace {

// Every symbol name the views of the application show.
const QStringList kSymbolsOfTheViews{
    QStringLiteral("arrow.up.left.and.down.right.and.arrow.up.right.and.down.left"),
    QStringLiteral("bookmark.fill"),
    QStringLiteral("chevron.down"),
    QStringLiteral("chevron.left"),
    QStringLiteral("clock.arrow.2.circlepath"),
    QStringLiteral("clock.arrow.circlepath"),
    QStringLiteral("exclamationmark.triangle"),
    QStringLiteral("flask"),
    QStringLiteral("hand.wave"),
    QStringLiteral("house"),
    QStringLiteral("link"),
    QStringLiteral("lock.fill"),
    QStringLiteral("lock.open"),
    QStringLiteral("magnifyingglass"),
    QStringLiteral("pencil"),
    QStringLiteral("plus.app"),
    QStringLiteral("shippingbox"),
    QStringLiteral("slider.horizontal.3"),
    QStringLiteral("smallcircle.filled.circle"),
    QStringLiteral("square.3.layers.3d.down.right"),
    QStringLiteral("square.and.arrow.up"),
};

} // namespace

class IconProviderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everySymbolOfTheViewsIsDrawn()
    {
        for (const QString& symbol : kSymbolsOfTheViews) {
            QVERIFY2(IconProvider::hasIcon(symbol), qPrintable(symbol));
            for (int size : {16, 48}) {
                const QImage image = IconProvider::icon(symbol).pixmap(size, size).toImage();
                QCOMPARE(image.size(), QSize(size, size));
                // Something is drawn, and it is a symbol rather than a filled square.
                const double drawn = coverage(image);
                QVERIFY2(drawn > 0.03 && drawn < 0.9, qPrintable(symbol));
            }
        }
        QStringList known = IconProvider::knownSymbols();
        QStringList expected = kSymbolsOfTheViews;
        known.sort();
        expected.sort();
        QCOMPARE(known, expected);
        for (const QString& name : {QString(), QStringLiteral("lock"), QStringLiteral("Lock.Fill")})
            QVERIFY(IconProvider::icon(name, Qt::red).isNull());
    }

    void aTintRecoloursEveryDrawnPixel()
    {
        const QColor tint(0xe0, 0x30, 0x40);
        for (const QString& symbol : {QStringLiteral("lock.fill"), QStringLiteral("exclamationmark.triangle")}) {
            const QImage plain =
                IconProvider::icon(symbol).pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
            const QIcon tinted = IconProvider::icon(symbol, tint);
            const QImage image = tinted.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb pixel = image.pixel(x, y);
                    QVERIFY(qAbs(qAlpha(pixel) - qAlpha(plain.pixel(x, y))) <= 1); // the same shape
                    if (qAlpha(pixel) > 64)
                        QVERIFY(qAbs(qRed(pixel) - tint.red()) <= 6 && qAbs(qGreen(pixel) - tint.green()) <= 6
                                && qAbs(qBlue(pixel) - tint.blue()) <= 6);
                }
            }
        }
    }

    void screenshotOfAllSymbols()
    {
        QWidget sheet;
        darkSheet(sheet);
        auto* grid = new QGridLayout(&sheet);
        for (qsizetype i = 0; i < kSymbolsOfTheViews.size(); ++i) {
            const QString& symbol = kSymbolsOfTheViews[i];
            const int row = int(i / 6) * 2;
            const int column = int(i % 6) * 3;
            int shade = 0;
            for (const std::optional<QColor>& tint :
                 {std::optional<QColor>(), std::optional(neutral(2)), std::optional(brandColor())}) {
                auto* picture = new QLabel;
                picture->setPixmap(IconProvider::icon(symbol, tint).pixmap(24, 24));
                grid->addWidget(picture, row, column + shade++);
            }
            auto* name = new QLabel(symbol.size() > 28 ? symbol.left(26) + QStringLiteral("…") : symbol);
            name->setStyleSheet(QStringLiteral("font-size: 10px"));
            grid->addWidget(name, row + 1, column, 1, 3);
        }
        sheet.adjustSize();
        QVERIFY(saveScreenshot(sheet, QStringLiteral("icons")));
    }
};

QTEST_MAIN(IconProviderTest)
#include "icon_provider_test.moc"
