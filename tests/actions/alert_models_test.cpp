// Alerts: their details, the model that shows them, the presented flag and the message box.

#include "actions/alert_models.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

using namespace vantrel;

class AlertModelsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void detailsComeFromTheError()
    {
        const auto withReason = AlertDetails::fromError(Error(QStringLiteral("Gone."), QStringLiteral("Import failed")));
        QCOMPARE(withReason.title, QStringLiteral("Import failed"));

        const auto withoutReason = AlertDetails::fromError(Error(QStringLiteral("Gone.")));
        QCOMPARE(withoutReason.debugDescription(), QStringLiteral("| Alert\n| title:\tError\n| Message:\tGone.\n| Buttons:\t[]"));
        const AlertDetails twoButtons(QStringLiteral("T"), QStringLiteral("M"), {{QStringLiteral("Retry"), {}}, {QStringLiteral("Quit"), {}}});
        QCOMPARE(twoButtons.debugDescription(), QStringLiteral("| Alert\n| title:\tT\n| Message:\tM\n| Buttons:\t[Retry][Quit]"));
    }

    void showReplacesTheAlertThenLogsIt()
    {
        AlertModel model;
        QStringList logged;
        model.log = [&](const QString& line) {
            QVERIFY(model.details().has_value()); // the alert is up before it is logged
            logged << line;
        };
        QSignalSpy changes(&model, &AlertModel::detailsChanged);
        model.setDetails(AlertDetails(QStringLiteral("Direct"), QString()));
        QVERIFY(logged.isEmpty());

        model.show(Error(QStringLiteral("first")));
        model.show(Error(QStringLiteral("second"), QStringLiteral("Why")));
        QCOMPARE(model.details()->title, QStringLiteral("Why"));
        QCOMPARE(logged.size(), 2);
        QVERIFY(logged[1].contains(QStringLiteral("| Message:\tsecond")));
        QCOMPARE(changes.count(), 3);
    }

    void thePresentedFlagHoldsTheModelWeakly()
    {
        auto* model = new AlertModel;
        const auto flag = presentedFlag(model);
        flag.set(true);
        QVERIFY(!flag.get());
        model->show(Error(QStringLiteral("x")));
        QVERIFY(flag.get());
        flag.set(false);
        QVERIFY(!model->details().has_value());

        model->show(Error(QStringLiteral("x")));
        delete model;
        QVERIFY(!flag.get());
        flag.set(false); // nothing left to dismiss
    }

    void theMessageBoxShowsPlainTextsAndRunsThePressedButton()
    {
        QWidget window;
        AlertModel model;
        QStringList ran;
        // The alert is dismissed before an action runs, so an alert the action shows stays.
        const AlertDetails details(QStringLiteral("<b>%1 %@</b>"), QStringLiteral("<i>50%</i>"),
                                   {{QStringLiteral("First"), [&] { ran << QStringLiteral("first"); }},
                                    {QStringLiteral("Second"), [&] { model.setDetails(AlertDetails(QStringLiteral("Next"), {})); }}});
        model.setDetails(details);

        QPointer<QMessageBox> box = makeAlertBox(details, presentedFlag(&model), &window);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        int texts = 0;
        for (QLabel* label : box->findChildren<QLabel*>()) {
            if (label->text() == details.title || label->text() == details.message) {
                QCOMPARE(label->textFormat(), Qt::PlainText);
                ++texts;
            }
        }
        QCOMPARE(texts, 2);
        QCOMPARE(box->buttons().size(), 2);
        QCOMPARE(box->buttons()[0]->text(), QStringLiteral("First"));
        box->open();
        box->buttons()[1]->click();
        QVERIFY(ran.isEmpty());
        QCOMPARE(model.details()->title, QStringLiteral("Next"));

        // Without buttons of its own the box has OK, which dismisses the alert.
        box = makeAlertBox(*model.details(), presentedFlag(&model), &window);
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->standardButton(box->buttons()[0]), QMessageBox::Ok);
        box->open();
        box->buttons()[0]->click();
        QVERIFY(!model.details().has_value());
    }
};

QTEST_MAIN(AlertModelsTest)
#include "alert_models_test.moc"
