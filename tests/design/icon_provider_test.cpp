#include "design/icon_provider.h"
#include "design/palette.h"
#include "screenshots.h"

#include <QGridLayout>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

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

// The share of the image's pixels that are drawn at all.
double coverage(const QImage& image)
{
    qsizetype drawn = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 0;
    return double(drawn) / double(image.width() * image.height());
}

} // namespace

class IconProviderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everySymbolOfTheViewsIsDrawn_data()
    {
        QTest::addColumn<QString>("symbol");
        for (const QString& symbol : kSymbolsOfTheViews)
            QTest::newRow(qPrintable(symbol)) << symbol;
    }

    void everySymbolOfTheViewsIsDrawn()
    {
        QFETCH(QString, symbol);
        QVERIFY(IconProvider::hasIcon(symbol));
        const QIcon icon = IconProvider::icon(symbol);
        QVERIFY(!icon.isNull());
        for (int size : {16, 22, 48}) {
            const QImage image = icon.pixmap(size, size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            const double drawn = coverage(image);
            // Something is drawn, and it is a symbol rather than a filled square.
            QVERIFY2(drawn > 0.03 && drawn < 0.9, qPrintable(QStringLiteral("coverage %1 at %2").arg(drawn).arg(size)));
        }
    }

    void knowsExactlyTheSymbolsOfTheViews()
    {
        QStringList known = IconProvider::knownSymbols();
        known.sort();
        QStringList expected = kSymbolsOfTheViews;
        expected.sort();
        QCOMPARE(known, expected);
    }

    void unknownNamesHaveNoIcon()
    {
        for (const QString& name : {QString(), QStringLiteral("lock"), QStringLiteral("object-locked"),
                                    QStringLiteral("Lock.Fill"), QStringLiteral("lock.fill ")}) {
            QVERIFY(!IconProvider::hasIcon(name));
            QVERIFY(IconProvider::icon(name).isNull());
            QVERIFY(IconProvider::icon(name, Qt::red).isNull());
        }
    }

    void symbolsComeFromTheInstalledIconTheme()
    {
        const QIcon house = IconProvider::icon(QStringLiteral("house"));
        QCOMPARE(QIcon::themeName(), QStringLiteral("breeze-dark"));
        QCOMPARE(house.name(), QStringLiteral("go-home-symbolic"));
        // A symbol of our own keeps working beside the theme.
        QVERIFY(IconProvider::icon(QStringLiteral("flask")).name().isEmpty());
    }

    void aTintRecoloursEveryDrawnPixel_data()
    {
        QTest::addColumn<QString>("symbol");
        QTest::newRow("from the theme") << QStringLiteral("lock.fill");
        QTest::newRow("our own drawing") << QStringLiteral("exclamationmark.triangle");
    }

    void aTintRecoloursEveryDrawnPixel()
    {
        QFETCH(QString, symbol);
        const QColor tint(0xe0, 0x30, 0x40);
        const QIcon plain = IconProvider::icon(symbol);
        const QIcon tinted = IconProvider::icon(symbol, tint);
        const QImage plainImage = plain.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage image = tinted.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), plainImage.size());
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                // The shape stays as it was drawn ...
                QVERIFY(qAbs(qAlpha(pixel) - qAlpha(plainImage.pixel(x, y))) <= 1);
                // ... in the tint's colour.
                if (qAlpha(pixel) > 64) {
                    QVERIFY(qAbs(qRed(pixel) - tint.red()) <= 6);
                    QVERIFY(qAbs(qGreen(pixel) - tint.green()) <= 6);
                    QVERIFY(qAbs(qBlue(pixel) - tint.blue()) <= 6);
                }
            }
        }
        // A disabled tinted symbol is fainter.
        const QImage disabled = tinted.pixmap(QSize(32, 32), QIcon::Disabled).toImage();
        int strongest = 0;
        for (int y = 0; y < disabled.height(); ++y)
            for (int x = 0; x < disabled.width(); ++x)
                strongest = qMax(strongest, qAlpha(disabled.pixel(x, y)));
        QVERIFY(strongest > 0 && strongest < 160);
    }

    void screenshotOfAllSymbols()
    {
        QWidget sheet;
        sheet.setAutoFillBackground(true);
        QPalette palette = sheet.palette();
        palette.setColor(QPalette::Window, neutral(7));
        palette.setColor(QPalette::WindowText, neutral(2));
        sheet.setPalette(palette);
        auto* grid = new QGridLayout(&sheet);
        grid->setSpacing(10);
        const int columns = 6;
        for (qsizetype i = 0; i < kSymbolsOfTheViews.size(); ++i) {
            const QString& symbol = kSymbolsOfTheViews[i];
            auto* cell = new QWidget;
            auto* column = new QVBoxLayout(cell);
            auto* symbols = new QHBoxLayout;
            for (const std::optional<QColor>& tint :
                 {std::optional<QColor>(), std::optional<QColor>(neutral(2)), std::optional<QColor>(brandColor())}) {
                auto* picture = new QLabel;
                picture->setPixmap(IconProvider::icon(symbol, tint).pixmap(24, 24));
                symbols->addWidget(picture);
            }
            column->addLayout(symbols);
            auto* name = new QLabel(symbol.size() > 28 ? symbol.left(26) + QStringLiteral("…") : symbol);
            QFont font = name->font();
            font.setPixelSize(10);
            name->setFont(font);
            column->addWidget(name);
            grid->addWidget(cell, int(i / columns), int(i % columns));
        }
        sheet.adjustSize();
        QVERIFY(saveScreenshot(sheet, QStringLiteral("icons")));
    }
};

QTEST_MAIN(IconProviderTest)
#include "icon_provider_test.moc"
