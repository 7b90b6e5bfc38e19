// The wording of a date relative to now, as a table over fixed moments.

#include "model/relative_date.h"

#include <QTest>
#include <QTimeZone>

using namespace vantrel;

class RelativeDateTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void wording_data()
    {
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<QString>("expected");
        const QDateTime now(QDate(2024, 3, 15), QTime(10, 0), QTimeZone::utc());
        QTest::newRow("same moment") << now << "now";
        QTest::newRow("seconds") << now.addSecs(-30) << "30 seconds ago";
        QTest::newRow("one minute") << now.addSecs(-60) << "1 minute ago";
        QTest::newRow("minutes ahead") << now.addSecs(5 * 60 + 10) << "in 5 minutes";
        QTest::newRow("hours") << now.addSecs(-2 * 3600) << "2 hours ago";
        QTest::newRow("hours ahead") << now.addSecs(2 * 3600) << "in 2 hours";
        // Under a day counts hours even across midnight; a whole day back is "yesterday".
        QTest::newRow("late last night") << now.addSecs(-11 * 3600) << "11 hours ago";
        QTest::newRow("yesterday") << now.addSecs(-25 * 3600) << "yesterday";
        QTest::newRow("tomorrow") << now.addDays(1) << "tomorrow";
        QTest::newRow("days") << now.addDays(-3) << "3 days ago";
        QTest::newRow("a week") << now.addDays(-8) << "last week";
        QTest::newRow("weeks") << now.addDays(-20) << "2 weeks ago";
        QTest::newRow("weeks ahead") << now.addDays(15) << "in 2 weeks";
        QTest::newRow("a month") << now.addDays(-31) << "last month";
        QTest::newRow("months") << now.addMonths(-5) << "5 months ago";
        QTest::newRow("a year ahead") << now.addMonths(13) << "next year";
        QTest::newRow("years") << now.addYears(-3) << "3 years ago";
        // The day of a date is the day where `now` is, not where the date was written.
        QTest::newRow("other zone") << QDateTime(QDate(2024, 3, 13), QTime(22, 0),
                                                 QTimeZone(-5 * 3600))
                                    << "yesterday";
        QTest::newRow("invalid") << QDateTime() << "";
    }

    void wording()
    {
        QFETCH(QDateTime, date);
        QFETCH(QString, expected);
        const QDateTime now(QDate(2024, 3, 15), QTime(10, 0), QTimeZone::utc());
        QCOMPARE(relativeDescription(date, now), expected);
    }
};

QTEST_GUILESS_MAIN(RelativeDateTest)
#include "relative_date_test.moc"
