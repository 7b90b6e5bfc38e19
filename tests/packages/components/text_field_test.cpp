// The bound text field: edits, updates, its fixed font, its border, and the field with a
// placeholder.

#include "packages/components/text_field.h"

#include "design/palette.h"
#include "screenshot.h"

#include <QFontDatabase>
#include <QIntValidator>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

using namespace vantrel;

class TextFieldTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void typingWritesTheWholeTextAndKeepsTheCaret()
    {
        Recorded value{QStringLiteral("ab")};
        TextField field(value.binding(), false);
        field.setCursorPosition(1);
        QTest::keyClick(&field, Qt::Key_X);
        QCOMPARE(value.written, (std::vector<QString>{QStringLiteral("axb")}));
        QCOMPARE(field.cursorPosition(), 2);

        Recorded number;
        QIntValidator digits(0, 999);
        TextField filtered(number.binding(), false, &digits);
        QTest::keyClicks(&filtered, QStringLiteral("4a2"));
        QCOMPARE(number.value, QStringLiteral("42"));
    }

    void theBoundValueReplacesTheTextOnUpdateAlsoWhileEditing()
    {
        Recorded value{QStringLiteral("old")};
        TextField field(value.binding(), false);
        field.show();
        field.activateWindow();
        field.setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&field));
        QTest::keyClick(&field, Qt::Key_S);
        value.value = QStringLiteral("from elsewhere");
        QCOMPARE(field.text(), QStringLiteral("olds")); // not before the update
        field.updateValue();
        QCOMPARE(field.text(), QStringLiteral("from elsewhere"));
        QVERIFY(field.hasFocus());
    }

    void theFontIsFixedAtCreation()
    {
        Recorded value;
        QWidget parent;
        parent.setFont(QFont(QStringLiteral("Serif"), 30));
        TextField mono(value.binding(), true, nullptr, &parent);
        const QFont made = mono.font();
        QCOMPARE(made.pixelSize(), 13);
        QCOMPARE(made.family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
        mono.setFont(QFont(QStringLiteral("Sans"), 20));
        parent.setFont(QFont(QStringLiteral("Sans"), 20));
        QCOMPARE(mono.font(), made);
    }

    void theBorderShowsEditingInTheActiveApplication()
    {
        Recorded empty;
        Recorded filled{QStringLiteral("Cutting room")};
        QWidget window;
        darkWindow(window);
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(new PlaceholderField(QStringLiteral("Name of the team"), empty.binding(), false));
        auto* editing = new PlaceholderField(QStringLiteral("Name of the team"), filled.binding(), false);
        layout->addWidget(editing);
        auto* idle = new TextField(filled.binding(), true);
        layout->addWidget(idle);
        window.resize(320, 400); // far taller than the fields need
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        editing->field()->setFocus();
        QTRY_VERIFY(editing->field()->hasFocus());
        QCOMPARE(editing->field()->borderColor(), design::style(18));
        QCOMPARE(idle->borderColor(), design::style(17));
        QCOMPARE(TextField::borderColor(true, false), design::style(17)); // not in an inactive application
        QVERIFY(saveScreenshot(window.grab(), QStringLiteral("components_text_field")));
        // The rounded background keeps the field's height in a taller layout.
        QCOMPARE(editing->height(), editing->sizeHint().height());
        QCOMPARE(editing->field()->parentWidget()->height(), editing->field()->height());

        // 2 wide, 1 inside the field's own rectangle wherever the field sits.
        QVERIFY(idle->pos() != QPoint(0, 0));
        QCOMPARE(idle->borderRect(), QRectF(1, 1, idle->width() - 2, idle->height() - 2));
        const QImage image = idle->grab().toImage();
        QCOMPARE(image.pixelColor(1, idle->height() / 2).rgb(), design::style(17).rgb());
        QCOMPARE(image.pixelColor(idle->width() - 2, idle->height() / 2).rgb(), design::style(17).rgb());
    }

    void thePlaceholderShowsForAnEmptyValueOnly()
    {
        Recorded value;
        PlaceholderField composed(QStringLiteral("Team name %@"), value.binding(), false);
        QCOMPARE(composed.placeholderLabel()->text(), QStringLiteral("Team name %@")); // verbatim
        QTest::keyClick(composed.field(), Qt::Key_Space);
        QVERIFY(!composed.placeholderLabel());
        QTest::keyClick(composed.field(), Qt::Key_Backspace);
        QVERIFY(composed.placeholderLabel());
        value.value = QStringLiteral("Cutting room");
        composed.updateValue();
        QVERIFY(!composed.placeholderLabel());
    }

    void aDisabledFieldStaysDisabled()
    {
        Recorded value;
        QWidget surroundings;
        auto* disabled = new PlaceholderField(QStringLiteral("Name"), value.binding(), true, &surroundings);
        auto* enabled = new PlaceholderField(QStringLiteral("Name"), value.binding(), false, &surroundings);
        disabled->setEnabled(true);
        QVERIFY(!disabled->field()->isEnabled());
        QTest::keyClicks(disabled->field(), QStringLiteral("x"));
        QVERIFY(value.written.empty());
        surroundings.setEnabled(false);
        QVERIFY(!enabled->field()->isEnabled());
        surroundings.setEnabled(true);
        QVERIFY(enabled->field()->isEnabled());
    }
};

QTEST_MAIN(TextFieldTest)
#include "text_field_test.moc"
