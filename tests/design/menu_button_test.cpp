// The menu buttons: their size, and how a disabled one is drawn.

#include "design/dark_theme.h"
#include "design/menu_button.h"
#include "design/menu_button_styles.h"
#include "design/palette.h"
#include "screenshots.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QTest>

using namespace vantrel::design;

namespace {

// The button drawn on nothing, so that its own opacity shows in the alpha channel.
QImage drawn(MenuButton& button)
{
    QImage image(button.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    button.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

} // namespace

class MenuButtonTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { applyDarkTheme(*qApp); }

    void aLongTitleWidensTheButtonButNeverHeightens()
    {
        MenuButton shortOne(QStringLiteral("Add"));
        MenuButton longOne(QStringLiteral("Add an Existing Document From Another Collection"), QStringLiteral("link"));
        PrimaryMenuButtonStyle().apply(shortOne);
        SecondaryMenuButtonStyle().apply(longOne);
        QVERIFY(longOne.sizeHint().width() > shortOne.sizeHint().width() + 200);
        QCOMPARE(shortOne.sizeHint().height(), 32);
        QCOMPARE(longOne.sizeHint().height(), 32);
    }

    void aDisabledButtonKeepsItsShapeAtLowerOpacity()
    {
        for (const bool primary : {true, false}) {
            MenuButton button(QStringLiteral("Add Document"));
            if (primary)
                PrimaryMenuButtonStyle().apply(button);
            else
                SecondaryMenuButtonStyle().apply(button);
            button.resize(button.sizeHint());
            // A point of the fill, left of the title and clear of the outline.
            const QPoint fill(4, 16);
            const int enabledAlpha = qAlpha(drawn(button).pixel(fill));
            button.setEnabled(false);
            const QImage disabled = drawn(button);
            QVERIFY(enabledAlpha > 0);
            QVERIFY(qAbs(qAlpha(disabled.pixel(fill)) - 0.6 * enabledAlpha) <= 2);
            // The corners stay cut off.
            QCOMPARE(qAlpha(disabled.pixel(0, 0)), 0);
            button.setEnabled(true);
            QCOMPARE(qAlpha(drawn(button).pixel(fill)), enabledAlpha);
        }
    }

    void screenshot()
    {
        QWidget sheet;
        darkSheet(sheet);
        auto* row = new QHBoxLayout(&sheet);
        auto* add = new MenuButton(QStringLiteral("Add Document"));
        PrimaryMenuButtonStyle().apply(*add);
        auto* exportMenu = new MenuButton(QStringLiteral("Export Project"), QStringLiteral("square.and.arrow.up"));
        SecondaryMenuButtonStyle().apply(*exportMenu);
        auto* disabled = new MenuButton(QStringLiteral("Add Event"));
        SecondaryMenuButtonStyle().apply(*disabled);
        disabled->setEnabled(false);
        for (QWidget* button :
             {static_cast<QWidget*>(add), static_cast<QWidget*>(exportMenu), static_cast<QWidget*>(disabled)})
            row->addWidget(button);
        sheet.resize(sheet.sizeHint());
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QVERIFY(saveScreenshot(sheet, QStringLiteral("menu_buttons")));
    }
};

QTEST_MAIN(MenuButtonTest)
#include "menu_button_test.moc"
