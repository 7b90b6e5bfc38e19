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

namespace {

struct Value {
    QString text;
    std::vector<QString> written;
    Binding<QString> binding()
    {
        return {[this] { return text; },
                [this](const QString& value) {
                    written.push_back(value);
                    text = value;
                }};
    }
};

} // namespace

class TextFieldTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void typingWritesTheWholeTextAtOnce()
    {
        Value value{QStringLiteral("ab")};
        TextField field(value.binding(), false);
        QCOMPARE(field.text(), QStringLiteral("ab"));
        field.setCursorPosition(1);
        QTest::keyClick(&field, Qt::Key_X);
        QCOMPARE(value.written, (std::vector<QString>{QStringLiteral("axb")}));
        QCOMPARE(field.text(), QStringLiteral("axb"));
        QCOMPARE(field.cursorPosition(), 2); // the update keeps the caret where the typing is
    }

    void theBoundValueReplacesTheTextOnUpdateAlsoWhileEditing()
    {
        Value value{QStringLiteral("old")};
        TextField field(value.binding(), false);
        field.show();
        field.activateWindow();
        field.setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&field));
        QTest::keyClick(&field, Qt::Key_S);
        value.text = QStringLiteral("from elsewhere");
        QCOMPARE(field.text(), QStringLiteral("olds")); // not before the update
        field.updateValue();
        QCOMPARE(field.text(), QStringLiteral("from elsewhere"));
        QVERIFY(field.hasFocus());
    }

    void aFormatterFiltersWhatIsTyped()
    {
        Value value;
        QIntValidator digits(0, 999);
        TextField field(value.binding(), false, &digits);
        QTest::keyClicks(&field, QStringLiteral("4a2"));
        QCOMPARE(value.text, QStringLiteral("42"));
    }

    void theFontIsFixedAtCreation()
    {
        Value value;
        TextField mono(value.binding(), true);
        const QFont made = mono.font();
        QCOMPARE(made.pixelSize(), 13);
        QCOMPARE(made.family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
        QVERIFY(mono.isMonospaced());

        QFont other(QStringLiteral("Serif"));
        other.setPixelSize(30);
        mono.setFont(other);
        QCOMPARE(mono.font(), made);

        QWidget parent;
        parent.setFont(other);
        TextField inside(value.binding(), false, nullptr, &parent);
        QCOMPARE(inside.font().pixelSize(), 13);
        parent.setFont(QFont(QStringLiteral("Sans"), 20));
        QCOMPARE(inside.font().pixelSize(), 13);
    }

    void theBorderShowsEditingInTheActiveApplicationOnly()
    {
        QCOMPARE(TextField::borderColor(true, true), design::style(18));
        QCOMPARE(TextField::borderColor(true, false), design::style(17));
        QCOMPARE(TextField::borderColor(false, true), design::style(17));
        QCOMPARE(TextField::borderColor(false, false), design::style(17));

        Value value;
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* first = new TextField(value.binding(), false);
        auto* second = new TextField(value.binding(), false);
        layout->addWidget(first);
        layout->addWidget(second);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        first->setFocus();
        QTRY_VERIFY(first->hasFocus());
        QCOMPARE(first->borderColor(), design::style(18));
        QCOMPARE(second->borderColor(), design::style(17));

        // 2 wide, 1 inside the field's own rectangle wherever the field sits.
        QVERIFY(second->pos() != QPoint(0, 0));
        QCOMPARE(second->borderRect(), QRectF(1, 1, second->width() - 2, second->height() - 2));
        const QImage image = second->grab().toImage();
        const int middle = second->height() / 2;
        QCOMPARE(image.pixelColor(1, middle).rgb(), design::style(17).rgb());
        QCOMPARE(image.pixelColor(second->width() - 2, middle).rgb(), design::style(17).rgb());
    }

    void aFieldIsEightTallerThanItsText()
    {
        Value value;
        TextField field(value.binding(), false);
        QCOMPARE(field.sizeHint().height(), field.fontMetrics().height() + 8);
    }

    void thePlaceholderShowsForAnEmptyValueOnly()
    {
        Value value;
        PlaceholderField composed(QStringLiteral("Team name %@"), value.binding(), false);
        QVERIFY(composed.placeholderLabel());
        QCOMPARE(composed.placeholderLabel()->text(), QStringLiteral("Team name %@")); // verbatim

        QTest::keyClick(composed.field(), Qt::Key_Space);
        QCOMPARE(value.text, QStringLiteral(" "));
        QVERIFY(!composed.placeholderLabel());

        QTest::keyClick(composed.field(), Qt::Key_Backspace);
        QVERIFY(composed.placeholderLabel());

        value.text = QStringLiteral("Cutting room");
        composed.updateValue();
        QVERIFY(!composed.placeholderLabel());
        QCOMPARE(composed.field()->text(), QStringLiteral("Cutting room"));
    }

    void aDisabledFieldStaysDisabled()
    {
        Value value;
        QWidget surroundings;
        auto* disabled = new PlaceholderField(QStringLiteral("Name"), value.binding(), true, &surroundings);
        auto* enabled = new PlaceholderField(QStringLiteral("Name"), value.binding(), false, &surroundings);
        surroundings.setEnabled(true);
        disabled->setEnabled(true);
        QVERIFY(!disabled->field()->isEnabled());
        QTest::keyClicks(disabled->field(), QStringLiteral("x"));
        QVERIFY(value.written.empty());

        QVERIFY(enabled->field()->isEnabled());
        surroundings.setEnabled(false);
        QVERIFY(!enabled->field()->isEnabled());
        surroundings.setEnabled(true);
        QVERIFY(enabled->field()->isEnabled());
    }

    void screenshot()
    {
        Value empty;
        Value filled{QStringLiteral("Cutting room")};
        QWidget window;
        window.setAutoFillBackground(true);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, design::neutral(7));
        palette.setColor(QPalette::Text, design::neutral(0));
        window.setPalette(palette);
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(new PlaceholderField(QStringLiteral("Name of the team"), empty.binding(), false));
        auto* editing = new PlaceholderField(QStringLiteral("Name of the team"), filled.binding(), false);
        layout->addWidget(editing);
        layout->addWidget(new TextField(filled.binding(), true));
        window.resize(320, 120);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        editing->field()->setFocus();
        QTRY_VERIFY(editing->field()->hasFocus());
        QVERIFY(saveScreenshot(window.grab(), QStringLiteral("components_text_field")));
    }
};

QTEST_MAIN(TextFieldTest)
#include "text_field_test.moc"
