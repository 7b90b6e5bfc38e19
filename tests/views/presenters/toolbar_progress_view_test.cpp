// The toolbar's progress indicator and its view.

#include "packages/components/in_progress_view.h"
#include "views/presenters/toolbar_progress_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace vantrel;

class ToolbarProgressViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void busyShowsASpinnerAndThePlainText()
    {
        ToolbarProgressIndicator indicator;
        const auto view = std::make_unique<ToolbarProgressView>(&indicator);
        QVERIFY(view->findChildren<QWidget*>().isEmpty());
        QSignalSpy changes(&indicator, &ToolbarProgressIndicator::stateChanged);
        QSignalSpy willChange(&indicator, &ToolbarProgressIndicator::objectWillChange);
        indicator.setState(ToolbarProgressIndicator::State::idle()); // announced although nothing changes
        QCOMPARE(changes.count(), 1);
        QCOMPARE(willChange.count(), 1);

        indicator.setState(ToolbarProgressIndicator::State::busy(QString()));
        indicator.setState(ToolbarProgressIndicator::State::busy(QStringLiteral("<b>Importing</b>")));
        QCOMPARE(view->findChildren<InProgressView*>().size(), 1);
        QCOMPARE(view->findChildren<QLabel*>().size(), 1);
        QCOMPARE(view->findChild<QLabel*>()->text(), QStringLiteral("<b>Importing</b>"));
        QCOMPARE(view->findChild<QLabel*>()->textFormat(), Qt::PlainText);
        QCOMPARE(changes.count(), 3);

        indicator.setState(ToolbarProgressIndicator::State::idle());
        QVERIFY(view->findChildren<QWidget*>().isEmpty());
    }

    void aTextTooLongForTheToolbarEndsInAnEllipsis()
    {
        ToolbarProgressIndicator indicator;
        QWidget toolbar;
        auto* layout = new QHBoxLayout(&toolbar);
        layout->addWidget(new ToolbarProgressView(&indicator, &toolbar));
        toolbar.resize(220, 30);
        toolbar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&toolbar));
        const QString text = QStringLiteral("Checking in The Long Documentary Final Cut Library...");
        indicator.setState(ToolbarProgressIndicator::State::busy(text));
        auto* label = toolbar.findChild<QLabel*>();
        QTRY_VERIFY(label->text().endsWith(QChar(0x2026)));
        QVERIFY(label->width() > 100); // the room beside the spinner goes to the text
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->width());
        QCOMPARE(label->toolTip(), text);
        // Given the room, the whole text shows, at the right end of the toolbar.
        toolbar.resize(900, 30);
        QTRY_COMPARE(label->text(), text);
        QVERIFY(label->mapTo(&toolbar, QPoint(label->width(), 0)).x() > 850);
    }
};

QTEST_MAIN(ToolbarProgressViewTest)
#include "toolbar_progress_view_test.moc"
