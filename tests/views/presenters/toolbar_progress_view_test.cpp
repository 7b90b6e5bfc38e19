// The toolbar's progress indicator and its view.

#include "packages/components/in_progress_view.h"
#include "views/presenters/toolbar_progress_view.h"

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
};

QTEST_MAIN(ToolbarProgressViewTest)
#include "toolbar_progress_view_test.moc"
