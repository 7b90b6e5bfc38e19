// The alert model: a question that must be answered is never replaced; what is raised meanwhile
// waits behind it.

#include "actions/alert_models.h"

#include <QTest>

using namespace vantrel;

namespace {

AlertDetails question(const QString& title)
{
    AlertDetails details(
        title, QStringLiteral("1 item has unsaved changes."),
        {ButtonAction{QStringLiteral("Quit"), {}}, ButtonAction{.title = QStringLiteral("Cancel"), .cancels = true}});
    details.mustBeAnswered = true;
    return details;
}

QString shownTitle(const AlertModel& model)
{
    return model.details() ? model.details()->title : QString();
}

} // namespace

class AlertModelsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ordinaryAlertsReplaceEachOther()
    {
        AlertModel model;
        model.setDetails(AlertDetails(QStringLiteral("First"), {}));
        model.setDetails(AlertDetails(QStringLiteral("Second"), {}));
        QCOMPARE(shownTitle(model), QStringLiteral("Second"));
        model.setDetails(std::nullopt);
        QVERIFY(!model.details()); // the replaced alert does not come back
        // An ordinary alert does not protect itself from a question either.
        model.setDetails(AlertDetails(QStringLiteral("Third"), {}));
        model.setDetails(question(QStringLiteral("Quit?")));
        QCOMPARE(shownTitle(model), QStringLiteral("Quit?"));
    }

    void alertsRaisedDuringAQuestionWaitThenShowInOrder()
    {
        AlertModel model;
        QStringList logged;
        model.log = [&](const QString& line) { logged << line; };
        int changes = 0;
        connect(&model, &AlertModel::detailsChanged, &model, [&] { ++changes; });

        model.setDetails(question(QStringLiteral("Quit?")));
        model.show(Error(QStringLiteral("The share is gone.")));
        model.setDetails(question(QStringLiteral("Close?")));
        model.setDetails(AlertDetails(QStringLiteral("Later"), {}));
        QCOMPARE(shownTitle(model), QStringLiteral("Quit?"));
        QCOMPARE(model.waitingCount(), 3);
        QCOMPARE(changes, 1);       // nothing the window shows changed behind the question
        QCOMPARE(logged.size(), 1); // a failure is logged when raised, not when shown
        QVERIFY(logged.first().contains(QStringLiteral("The share is gone.")));

        model.setDetails(std::nullopt); // the question is answered
        QCOMPARE(shownTitle(model), QStringLiteral("Error"));
        // An ordinary alert replaces the one that shows, but not those still waiting.
        model.setDetails(AlertDetails(QStringLiteral("Newer"), {}));
        QCOMPARE(shownTitle(model), QStringLiteral("Newer"));
        model.setDetails(std::nullopt);
        QCOMPARE(shownTitle(model), QStringLiteral("Close?"));
        model.setDetails(AlertDetails(QStringLiteral("During the second question"), {}));
        model.setDetails(std::nullopt);
        QCOMPARE(shownTitle(model), QStringLiteral("Later"));
        model.setDetails(std::nullopt);
        QCOMPARE(shownTitle(model), QStringLiteral("During the second question"));
        model.setDetails(std::nullopt);
        QVERIFY(!model.details());
        QCOMPARE(model.waitingCount(), 0);
        QCOMPARE(logged.size(), 1);
    }

    // An alert about something that is no longer so is taken back, shown or waiting; the others
    // stay in their order, and nothing runs a button's action.
    void anAlertNoLongerTrueIsWithdrawn()
    {
        bool acted = false;
        AlertDetails taken(QStringLiteral("Taken"), {},
                           {ButtonAction{.title = QStringLiteral("OK"), .action = [&] { acted = true; }}});
        taken.topic = QStringLiteral("cut");
        AlertModel model;
        model.setDetails(taken);
        model.withdraw(QStringLiteral("reel"));
        QCOMPARE(shownTitle(model), QStringLiteral("Taken"));
        model.withdraw(QStringLiteral("cut"));
        QVERIFY(!model.details());

        model.setDetails(question(QStringLiteral("Quit?")));
        model.setDetails(taken);
        model.setDetails(AlertDetails(QStringLiteral("Later"), {}));
        model.withdraw(QStringLiteral("cut"));
        QCOMPARE(model.waitingCount(), 1);
        model.setDetails(std::nullopt);
        QCOMPARE(shownTitle(model), QStringLiteral("Later"));
        model.withdraw(QString()); // an alert without a topic is never taken back
        QCOMPARE(shownTitle(model), QStringLiteral("Later"));
        QVERIFY(!acted);
    }
};

QTEST_MAIN(AlertModelsTest)
#include "alert_models_test.moc"
