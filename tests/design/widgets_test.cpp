#include "design/app_style.h"
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

using namespace vantrel;
using namespace vantrel::design;

namespace {

// The fill beside the label, at the middle of the button's left edge, as it shows on the window.
QColor fillOf(QWidget& button)
{
    const QImage image = button.grab().toImage();
    return composited(image.pixelColor(4, image.height() / 2), neutral(7));
}

void click(RibbonView& view)
{
    QTest::mouseClick(view.findChild<QPushButton*>(), Qt::LeftButton);
}

} // namespace

class WidgetsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { applyDarkTheme(*qApp); }

    void ribbonViewShowsWhatThePrioritizerSelects()
    {
        QStringList ran;
        const Ribbon update{QStringLiteral("1 update available"), 1, 1.0f, [&ran] { ran << QStringLiteral("update"); }};
        const Ribbon beta{QStringLiteral("Beta - Send Feedback"), 2, 0.5f, [&ran] { ran << QStringLiteral("beta"); }};
        PassthroughSubject<QList<Ribbon>> feed;
        auto prioritizer = std::make_unique<Prioritizer<Ribbon>>(feed.publisher());
        QWidget toolbar;
        darkSheet(toolbar);
        auto* strip = new QHBoxLayout(&toolbar);
        strip->addStretch();
        auto& view = *new RibbonView(prioritizer.get());
        strip->addWidget(&view);
        toolbar.resize(320, 36);
        toolbar.show();
        QVERIFY(!view.isShowingRibbon());

        feed.send({beta, update});
        QCOMPARE(view.text(), update.text);
        QVERIFY(saveScreenshot(toolbar, QStringLiteral("ribbon")));
        click(view);
        feed.send({beta});
        QCOMPARE(view.text(), beta.text);
        click(view);
        QCOMPARE(ran, (QStringList{QStringLiteral("update"), QStringLiteral("beta")}));

        // An action may replace the ribbons while it runs.
        feed.send({Ribbon{QStringLiteral("Dismiss me"), 1, 1.0f, [&feed] { feed.send({}); }}});
        click(view);
        QVERIFY(!view.isShowingRibbon());

        // A view outlives its prioritizer.
        feed.send({beta});
        prioritizer.reset();
        QVERIFY(!view.isShowingRibbon());
        click(view);
        QCOMPARE(ran.size(), 2);
    }

    void actionButtonsAreDrawnInTheirStates()
    {
        QWidget sheet;
        darkSheet(sheet);
        auto* grid = new QGridLayout(&sheet);
        int next[2]{};
        const auto place = [&](QWidget* widget, int row) { grid->addWidget(widget, row, next[row]++); };
        const auto add = [&](QAbstractButton* button, auto style, int row, bool enabled = true) {
            style.apply(*button);
            button->setEnabled(enabled);
            place(button, row);
            return button;
        };
        auto* secondary =
            add(new QPushButton(QStringLiteral("Discard")), SecondaryActionButtonStyle(32, std::nullopt, 0.6), 0);
        auto* primary =
            add(new QPushButton(QStringLiteral("Save Changes")), PrimaryActionButtonStyle(32, std::nullopt, 0.9), 0);
        auto* disabled = add(new QPushButton(QStringLiteral("Save Changes")),
                             PrimaryActionButtonStyle(32, std::nullopt, 0.9), 0, false);
        auto* faint =
            add(new QPushButton(QStringLiteral("Faint")), SecondaryActionButtonStyle(32, std::nullopt, 0.2), 0);
        auto* unlock = new QToolButton;
        unlock->setText(QStringLiteral("Force Unlock"));
        unlock->setIcon(IconProvider::icon(QStringLiteral("lock.open"), neutral(1)));
        SmallSecondaryActionButtonLabelStyle().apply(*unlock);
        add(unlock, SmallSecondaryActionButtonStyle(), 1);
        // Styling again without a width limit lifts the old one.
        auto* restyled = add(new QPushButton(QStringLiteral("Restore all")), PrimaryActionButtonStyle(32, 260, 0.9), 1);
        SecondaryActionButtonStyle(24, std::nullopt, 0.6).apply(*restyled);
        QCOMPARE(restyled->maximumWidth(), QWIDGETSIZE_MAX);
        place(new StaticProLabelView(false), 1);
        place(new StaticProLabelView(true), 1);
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));

        const QColor primaryFill = fillOf(*primary);
        QVERIFY2(primaryFill.blue() > primaryFill.red() + 60, qPrintable(primaryFill.name()));
        const QColor secondaryFill = fillOf(*secondary);
        QVERIFY(qAbs(secondaryFill.red() - secondaryFill.blue()) < 20); // neutral grey
        QVERIFY(relativeLuminance(secondaryFill) > relativeLuminance(neutral(7)));
        const QColor disabledFill = fillOf(*disabled);
        QVERIFY(qAbs(disabledFill.red() - disabledFill.blue()) < 20); // no longer blue
        QVERIFY(relativeLuminance(fillOf(*faint)) < relativeLuminance(secondaryFill));
        QVERIFY(saveScreenshot(sheet, QStringLiteral("buttons")));
    }

    void aPlainButtonKeepsRoomBesideItsLabel()
    {
        for (const QString& title : {QStringLiteral("Choose Location"), QStringLiteral("Add to Collection")}) {
            QPushButton button(title);
            const int label = button.fontMetrics().horizontalAdvance(title);
            QVERIFY2(button.sizeHint().width() >= label + 2 * AppStyle::labelPadding, qPrintable(title));
            QCOMPARE(button.minimumSizeHint().width(), button.sizeHint().width());
        }
    }

    void everyPictureOfTheViewsIsThere()
    {
        QWidget sheet;
        darkSheet(sheet);
        auto* grid = new QGridLayout(&sheet);
        const QStringList pictures =
            QStringLiteral("AppIcon VantrelWordmark CollectionGreen CollectionPink "
                           "CollectionYellow FcpLogo MotionLogo Premiere EventLogo Lockhinge "
                           "Lockbase CardOne CardTwo CardThree FlashForeground FlashBackground")
                .split(QLatin1Char(' '));
        QCOMPARE(Assets::names().size(), pictures.size());
        for (const QString& name : pictures) {
            const QPixmap pixmap = Assets::pixmap(name, {}, 2.0);
            QCOMPARE(pixmap.size(), Assets::naturalSize(name) * 2);
            QVERIFY2(coverage(pixmap.toImage()) > 0.05, qPrintable(name));
            auto* picture = new QLabel;
            picture->setPixmap(Assets::pixmap(name, Assets::naturalSize(name).scaled(96, 96, Qt::KeepAspectRatio)));
            grid->addWidget(picture, grid->count() / 8, grid->count() % 8, Qt::AlignCenter);
        }
        QVERIFY(Assets::pixmap(QStringLiteral("../symbols/flask")).isNull());
        sheet.adjustSize();
        QVERIFY(saveScreenshot(sheet, QStringLiteral("artwork")));
    }
};

QTEST_MAIN(WidgetsTest)
#include "widgets_test.moc"
