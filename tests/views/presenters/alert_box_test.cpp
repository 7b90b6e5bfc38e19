// Alerts: their details, the model that shows them, the presented flag and the message box.

#include "views/presenters/alert_box.h"
#include "views/presenters/message_boxes.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTest>

#include <algorithm>
#include <functional>

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

    void aTitleShowsWholeInABoxOfReadableWidth()
    {
        QWidget window;
        window.show();
        AlertModel model;
        const QString longTitle = QStringLiteral("The team bundle could not be opened because its index was written "
                                                 "by a newer version of Vantrel than this one");
        for (const QString& title : {QStringLiteral("Vantrel"), longTitle}) {
            QPointer<QMessageBox> box = makeAlertBox(AlertDetails(title, QString()), presentedFlag(&model), &window);
            box->open();
            QVERIFY(QTest::qWaitForWindowExposed(box));
            // Wide enough for a title bar to show the application's name; a long title wraps.
            QVERIFY2(box->width() >= messageBoxMinimumWidth, qPrintable(QString::number(box->width())));
            const auto labels = box->findChildren<QLabel*>();
            const auto label =
                std::find_if(labels.begin(), labels.end(), [&](QLabel* l) { return l->text() == title; });
            QVERIFY(label != labels.end());
            QVERIFY((*label)->heightForWidth((*label)->width()) <= (*label)->height() || !(*label)->wordWrap());
            QVERIFY((*label)->sizeHint().width() <= (*label)->width() || (*label)->wordWrap());
            box->close();
        }
    }

    void aQuestionIsAnsweredOnceHoweverItIsDismissed()
    {
        QWidget window;
        AlertModel model;
        QStringList answers;
        AlertDetails question(QStringLiteral("Are you sure you want to quit?"),
                              QStringLiteral("1 item has unsaved changes."),
                              {{QStringLiteral("Save Changes"), [&] { answers << QStringLiteral("save"); }},
                               {QStringLiteral("Quit"), [&] { answers << QStringLiteral("quit"); }},
                               {.title = QStringLiteral("Cancel"),
                                .action = [&] { answers << QStringLiteral("cancel"); },
                                .cancels = true}});
        question.mustBeAnswered = true;
        struct Dismissal {
            const char* how;
            std::function<void(QMessageBox*)> dismiss;
            QString answer;
        };
        const QList<Dismissal> dismissals{
            {"escape", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, QStringLiteral("cancel")},
            {"window closed", [](QMessageBox* box) { box->close(); }, QStringLiteral("cancel")},
            {"rejected", [](QMessageBox* box) { box->reject(); }, QStringLiteral("cancel")},
            {"quit pressed",
             [](QMessageBox* box) {
                 for (QAbstractButton* button : box->buttons())
                     if (button->text() == QStringLiteral("Quit"))
                         button->click();
             },
             QStringLiteral("quit")},
        };
        for (const Dismissal& dismissal : dismissals) {
            answers.clear();
            model.setDetails(question);
            QPointer<QMessageBox> box = makeAlertBox(question, presentedFlag(&model), &window);
            box->open();
            dismissal.dismiss(box);
            QVERIFY2(!model.details(), dismissal.how);
            QVERIFY2(answers == QStringList{dismissal.answer}, dismissal.how);
            QTRY_VERIFY(!box);
        }
    }
};

QTEST_MAIN(AlertBoxTest)
#include "alert_box_test.moc"
