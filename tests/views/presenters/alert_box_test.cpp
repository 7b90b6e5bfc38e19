// Alerts: their details, the model that shows them, the presented flag and the message box.

#include "views/presenters/alert_box.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

using namespace vantrel;

class AlertBoxTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void showReplacesTheAlertThenLogsIt()
    {
        QCOMPARE(AlertDetails::fromError(Error(QStringLiteral("Gone."), QStringLiteral("Import failed"))).title,
                 QStringLiteral("Import failed"));
        AlertModel model;
        QStringList logged;
        model.log = [&](const QString& line) {
            QVERIFY(model.details().has_value()); // the alert is up before it is logged
            logged << line;
        };
        model.show(Error(QStringLiteral("first")));
        QCOMPARE(logged, QStringList{QStringLiteral("| Alert\n| title:\tError\n| Message:\tfirst\n| Buttons:\t[]")});
        model.show(Error(QStringLiteral("second"), QStringLiteral("Why")));
        QCOMPARE(model.details()->title, QStringLiteral("Why"));
        QCOMPARE(logged.size(), 2);
    }

    void thePresentedFlagHoldsTheModelWeakly()
    {
        auto* model = new AlertModel;
        const auto flag = presentedFlag(model);
        flag.set(true); // only an alert makes it true
        QVERIFY(!flag.get());
        model->show(Error(QStringLiteral("x")));
        QVERIFY(flag.get());
        delete model;
        QVERIFY(!flag.get());
        flag.set(false); // nothing left to dismiss
    }

    void theMessageBoxShowsPlainTextsAndRunsThePressedButton()
    {
        QWidget window;
        AlertModel model;
        // The alert is dismissed before an action runs, so an alert the action shows stays.
        const AlertDetails details(
            QStringLiteral("<b>%1 %@</b>"), QStringLiteral("<i>50%</i>"),
            {{QStringLiteral("First"), {}},
             {QStringLiteral("Second"), [&] { model.setDetails(AlertDetails(QStringLiteral("Next"), {})); }}});
        model.setDetails(details);
        QPointer<QMessageBox> box = makeAlertBox(details, presentedFlag(&model), &window);
        int plainTexts = 0;
        for (const QLabel* label : box->findChildren<QLabel*>())
            plainTexts += (label->text() == details.title || label->text() == details.message)
                          && label->textFormat() == Qt::PlainText;
        QCOMPARE(plainTexts, 2);
        box->open();
        box->buttons()[1]->click();
        QCOMPARE(model.details()->title, QStringLiteral("Next"));

        // Without buttons of its own the box has OK, which dismisses the alert.
        box = makeAlertBox(*model.details(), presentedFlag(&model), &window);
        QCOMPARE(box->buttons().size(), 1);
        box->open();
        box->buttons()[0]->click();
        QVERIFY(!model.details().has_value());
    }
};

QTEST_MAIN(AlertBoxTest)
#include "alert_box_test.moc"
