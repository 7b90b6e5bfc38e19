// The toolbar's progress indicator and its view.

#include "actions/toolbar_progress.h"
#include "packages/components/in_progress_view.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace vantrel;

namespace {

QStringList labelTexts(const QWidget& view)
{
    QStringList texts;
    for (const QLabel* label : view.findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

} // namespace

class ToolbarProgressTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startsIdleShowingNothingAndIdleAgainStillNotifies()
    {
        ToolbarProgressIndicator indicator;
        const std::unique_ptr<QWidget> view(indicator.view());
        QVERIFY(view->findChildren<QWidget*>().isEmpty());

        // Every write is announced, also one that changes nothing.
        QSignalSpy changes(&indicator, &ToolbarProgressIndicator::stateChanged);
        QSignalSpy willChange(&indicator, &ToolbarProgressIndicator::objectWillChange);
        indicator.setState(ToolbarProgressIndicator::State::idle());
        QCOMPARE(changes.count(), 1);
        QCOMPARE(willChange.count(), 1);
        QVERIFY(view->findChildren<QWidget*>().isEmpty());
    }

    void busyShowsASpinnerAndThePlainText()
    {
        ToolbarProgressIndicator indicator;
        const std::unique_ptr<QWidget> view(indicator.view());
        QSignalSpy changes(&indicator, &ToolbarProgressIndicator::stateChanged);

        indicator.setState(ToolbarProgressIndicator::State::busy(QString()));
        const auto spinners = view->findChildren<InProgressView*>();
        QCOMPARE(spinners.size(), 1);
        QCOMPARE(spinners[0]->controlSize(), ControlSize::mini);
        QCOMPARE(labelTexts(*view), QStringList{QString()});

        indicator.setState(ToolbarProgressIndicator::State::busy(QStringLiteral("<b>Importing</b>")));
        QCOMPARE(view->findChildren<InProgressView*>().size(), 1);
        QCOMPARE(labelTexts(*view), QStringList{QStringLiteral("<b>Importing</b>")});
        QCOMPARE(view->findChild<QLabel*>()->textFormat(), Qt::PlainText);
        QCOMPARE(changes.count(), 2);

        indicator.setState(ToolbarProgressIndicator::State::idle());
        QVERIFY(view->findChildren<QWidget*>().isEmpty());
    }
};

QTEST_MAIN(ToolbarProgressTest)
#include "toolbar_progress_test.moc"
