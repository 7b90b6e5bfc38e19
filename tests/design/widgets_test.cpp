#include "design/assets.h"
#include "design/button_styles.h"
#include "design/dark_theme.h"
#include "design/icon_provider.h"
#include "design/palette.h"
#include "design/pro_label_view.h"
#include "design/ribbon_view.h"
#include "screenshots.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

using namespace vantrel;
using namespace vantrel::design;

namespace {

void darkSheet(QWidget& sheet)
{
    sheet.setAutoFillBackground(true);
    QPalette palette = sheet.palette();
    palette.setColor(QPalette::Window, neutral(7));
    sheet.setPalette(palette);
}

// The colour of the fill beside the label, at the middle of the button's left edge, as it
// shows on the window (a grab of a single widget leaves out what lies behind it).
QColor fillOf(QWidget& button)
{
    const QImage image = button.grab().toImage();
    return composited(image.pixelColor(4, image.height() / 2), neutral(7));
}

double drawnShare(const QImage& image)
{
    qsizetype drawn = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 0;
    return double(drawn) / double(image.width() * image.height());
}

QPushButton* ribbonButton(RibbonView& view)
{
    return view.findChild<QPushButton*>();
}

} // namespace

class WidgetsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        applyDarkTheme(*qApp);
    }

    void ribbonViewShowsWhatThePrioritizerSelects()
    {
        int updates = 0;
        int feedback = 0;
        const Ribbon update{QStringLiteral("1 update available"), 1, 1.0f, [&updates] { ++updates; }};
        const Ribbon beta{QStringLiteral("Beta - Send Feedback"), 2, 0.5f, [&feedback] { ++feedback; }};

        PassthroughSubject<QList<Ribbon>> feed;
        Prioritizer<Ribbon> prioritizer(feed.publisher());
        QWidget toolbar;
        darkSheet(toolbar);
        auto* strip = new QHBoxLayout(&toolbar);
        strip->addStretch();
        auto& view = *new RibbonView(&prioritizer);
        strip->addWidget(&view);
        toolbar.resize(320, 36);
        toolbar.show();
        QVERIFY(!view.isShowingRibbon());
        QCOMPARE(view.text(), QString());

        feed.send({beta});
        QVERIFY(view.isShowingRibbon());
        QCOMPARE(view.text(), beta.text);

        feed.send({beta, update});
        QCOMPARE(view.text(), update.text);
        QVERIFY(saveScreenshot(toolbar, QStringLiteral("ribbon")));
        QTest::mouseClick(ribbonButton(view), Qt::LeftButton);
        QCOMPARE(updates, 1);
        QCOMPARE(feedback, 0);

        feed.send({beta});
        QTest::mouseClick(ribbonButton(view), Qt::LeftButton);
        QCOMPARE(updates, 1);
        QCOMPARE(feedback, 1);

        feed.send({});
        QVERIFY(!view.isShowingRibbon());
    }

    void aRibbonActionMayReplaceTheRibbons()
    {
        PassthroughSubject<QList<Ribbon>> feed;
        Prioritizer<Ribbon> prioritizer(feed.publisher());
        RibbonView view(&prioritizer);
        feed.send({Ribbon{QStringLiteral("Dismiss me"), 1, 1.0f, [&feed] { feed.send({}); }}});
        QTest::mouseClick(ribbonButton(view), Qt::LeftButton);
        QVERIFY(!view.isShowingRibbon());
    }

    void ribbonViewOutlivesItsPrioritizer()
    {
        auto prioritizer = std::make_unique<Prioritizer<Ribbon>>(
            just(QList<Ribbon>{Ribbon{QStringLiteral("Gone soon"), 1, 1.0f, [] {}}}));
        RibbonView view(prioritizer.get());
        QCOMPARE(view.text(), QStringLiteral("Gone soon"));
        prioritizer.reset();
        QVERIFY(!view.isShowingRibbon());
        QTest::mouseClick(ribbonButton(view), Qt::LeftButton); // must not reach the destroyed prioritizer
    }

    void actionButtonsTakeTheirSizes()
    {
        QPushButton button(QStringLiteral("Restore"));
        PrimaryActionButtonStyle(32, 200, 0.9).apply(button);
        QCOMPARE(button.maximumHeight(), 32);
        QCOMPARE(button.maximumWidth(), 200);
        QCOMPARE(button.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        // Styling again without a width limit lifts the old one.
        SecondaryActionButtonStyle(24, std::nullopt, 0.6).apply(button);
        QCOMPARE(button.maximumHeight(), 24);
        QCOMPARE(button.maximumWidth(), QWIDGETSIZE_MAX);

        QToolButton small;
        SmallSecondaryActionButtonStyle().apply(small);
        SmallSecondaryActionButtonLabelStyle().apply(small);
        QCOMPARE(small.maximumHeight(), 22);
        QCOMPARE(small.iconSize(), QSize(12, 12));
        QCOMPARE(small.toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    }

    void actionButtonsAreDrawnInTheirStates()
    {
        QWidget sheet;
        darkSheet(sheet);
        auto* rows = new QVBoxLayout(&sheet);
        rows->setContentsMargins(16, 16, 16, 16);
        const auto addRow = [rows](std::initializer_list<QWidget*> widgets) {
            auto* row = new QHBoxLayout;
            for (QWidget* widget : widgets)
                row->addWidget(widget);
            row->addStretch();
            rows->addLayout(row);
        };
        const auto button = [](const QString& title, auto style, bool enabled = true) {
            auto* result = new QPushButton(title);
            style.apply(*result);
            result->setEnabled(enabled);
            return result;
        };
        auto* secondary = button(QStringLiteral("Discard"), SecondaryActionButtonStyle(32, std::nullopt, 0.6));
        auto* primary = button(QStringLiteral("Save Changes"), PrimaryActionButtonStyle(32, std::nullopt, 0.9));
        auto* disabled = button(QStringLiteral("Save Changes"), PrimaryActionButtonStyle(32, std::nullopt, 0.9), false);
        auto* faint = button(QStringLiteral("Faint"), SecondaryActionButtonStyle(32, std::nullopt, 0.2));
        addRow({secondary, primary, disabled, faint});
        addRow({button(QStringLiteral("Discard"), SecondaryActionButtonStyle(24, std::nullopt, 0.6)),
                button(QStringLiteral("Save Changes"), PrimaryActionButtonStyle(24, std::nullopt, 0.9)),
                button(QStringLiteral("Save Changes"), PrimaryActionButtonStyle(24, std::nullopt, 0.9), false)});
        auto* unlock = new QToolButton;
        unlock->setText(QStringLiteral("Force Unlock"));
        unlock->setIcon(IconProvider::icon(QStringLiteral("lock.open"), neutral(1)));
        SmallSecondaryActionButtonStyle().apply(*unlock);
        SmallSecondaryActionButtonLabelStyle().apply(*unlock);
        auto* collection = button(QStringLiteral("Create a Collection"), SecondaryActionButtonStyle(32, std::nullopt, 0.6));
        collection->setIcon(IconProvider::icon(QStringLiteral("square.3.layers.3d.down.right"), neutral(2)));
        addRow({collection, unlock, button(QStringLiteral("Restore"), SmallSecondaryActionButtonStyle())});
        rows->addWidget(button(QStringLiteral("Restore all"), PrimaryActionButtonStyle(32, 260, 0.9)));
        auto* title = new QLabel(QStringLiteral("Event locking"));
        QFont bold = title->font();
        bold.setPointSize(16);
        bold.setBold(true);
        title->setFont(bold);
        addRow({title, new StaticProLabelView(false), new StaticProLabelView(true)});
        sheet.resize(520, sheet.sizeHint().height());
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));

        const QColor primaryFill = fillOf(*primary);
        QVERIFY2(primaryFill.blue() > primaryFill.red() + 60, qPrintable(primaryFill.name()));
        const QColor secondaryFill = fillOf(*secondary);
        QVERIFY(qAbs(secondaryFill.red() - secondaryFill.blue()) < 20); // neutral grey
        QVERIFY(relativeLuminance(secondaryFill) > relativeLuminance(neutral(7)));
        const QColor disabledFill = fillOf(*disabled);
        QVERIFY(qAbs(disabledFill.red() - disabledFill.blue()) < 20); // no longer blue
        // A lower opacity makes a lighter touch on the dark window.
        QVERIFY(relativeLuminance(fillOf(*faint)) < relativeLuminance(secondaryFill));
        QVERIFY(saveScreenshot(sheet, QStringLiteral("buttons")));
    }

    void proBadgeSizesItself()
    {
        StaticProLabelView see(false);
        StaticProLabelView opaque(true);
        QCOMPARE(see.text(), QStringLiteral("PRO"));
        QVERIFY(see.sizeHint().width() > see.sizeHint().height());
        QVERIFY(see.sizeHint().height() >= 12 && see.sizeHint().height() <= 24);
        see.resize(see.sizeHint());
        opaque.resize(opaque.sizeHint());
        QVERIFY(see.grab().toImage() != opaque.grab().toImage());
    }

    void everyPictureOfTheViewsIsThere()
    {
        const QStringList pictures{
            QStringLiteral("AppIcon"), QStringLiteral("VantrelWordmark"), QStringLiteral("CollectionGreen"),
            QStringLiteral("CollectionPink"), QStringLiteral("CollectionYellow"), QStringLiteral("FcpLogo"),
            QStringLiteral("MotionLogo"), QStringLiteral("Premiere"), QStringLiteral("EventLogo"),
            QStringLiteral("Lockhinge"), QStringLiteral("Lockbase"), QStringLiteral("CardOne"),
            QStringLiteral("CardTwo"), QStringLiteral("CardThree"), QStringLiteral("FlashForeground"),
            QStringLiteral("FlashBackground")};
        for (const QString& name : pictures) {
            QVERIFY2(Assets::contains(name), qPrintable(name));
            const QPixmap pixmap = Assets::pixmap(name, {}, 2.0);
            QCOMPARE(pixmap.deviceIndependentSize().toSize(), Assets::naturalSize(name));
            QCOMPARE(pixmap.size(), Assets::naturalSize(name) * 2);
            QVERIFY2(drawnShare(pixmap.toImage()) > 0.05, qPrintable(name));
        }
        QCOMPARE(Assets::names().size(), pictures.size());

        QWidget sheet;
        darkSheet(sheet);
        auto* grid = new QGridLayout(&sheet);
        for (qsizetype i = 0; i < pictures.size(); ++i) {
            auto* picture = new QLabel;
            picture->setPixmap(Assets::pixmap(pictures[i], Assets::naturalSize(pictures[i]).scaled(96, 96, Qt::KeepAspectRatio)));
            picture->setToolTip(pictures[i]);
            grid->addWidget(picture, int(i / 8), int(i % 8), Qt::AlignCenter);
        }
        sheet.adjustSize();
        QVERIFY(saveScreenshot(sheet, QStringLiteral("artwork")));
        // The shackle and the body of the padlock are stacked centred at their natural size.
        QCOMPARE(Assets::naturalSize(QStringLiteral("Lockhinge")), Assets::naturalSize(QStringLiteral("Lockbase")));
        QVERIFY(!Assets::contains(QStringLiteral("Nothing")));
        QVERIFY(!Assets::contains(QStringLiteral("../symbols/flask")));
        QVERIFY(Assets::pixmap(QStringLiteral("Nothing")).isNull());
    }
};

QTEST_MAIN(WidgetsTest)
#include "widgets_test.moc"
