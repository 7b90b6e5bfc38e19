#include "model/relative_date.h"

#include "model/strings.h"

#include <QTimeZone>

#include <cstdlib>

namespace vantrel {

namespace {

// The four texts of one unit: past singular and plural, future singular and plural.
struct UnitTexts {
    QString (*agoOne)();
    QString (*agoOther)();
    QString (*inOne)();
    QString (*inOther)();
};

QString counted(const UnitTexts& texts, qint64 count, bool future)
{
    if (future)
        return Strings::plural(texts.inOther(), texts.inOne(), texts.inOther(), count);
    return Strings::plural(texts.agoOther(), texts.agoOne(), texts.agoOther(), count);
}

const UnitTexts seconds{&Strings::secondAgo, &Strings::secondsAgo, &Strings::inSecond, &Strings::inSeconds};
const UnitTexts minutes{&Strings::minuteAgo, &Strings::minutesAgo, &Strings::inMinute, &Strings::inMinutes};
const UnitTexts hours{&Strings::hourAgo, &Strings::hoursAgo, &Strings::inHour, &Strings::inHours};
const UnitTexts days{&Strings::dayAgo, &Strings::daysAgo, &Strings::inDay, &Strings::inDays};
const UnitTexts weeks{&Strings::weekAgo, &Strings::weeksAgo, &Strings::inWeek, &Strings::inWeeks};
const UnitTexts months{&Strings::monthAgo, &Strings::monthsAgo, &Strings::inMonth, &Strings::inMonths};
const UnitTexts years{&Strings::yearAgo, &Strings::yearsAgo, &Strings::inYear, &Strings::inYears};

// Whole calendar months from `from` to `to` (to >= from), counting a month only once its day
// of the month has been reached.
qint64 wholeMonths(const QDate& from, const QDate& to)
{
    qint64 count = (to.year() - from.year()) * 12LL + (to.month() - from.month());
    if (to.day() < from.day())
        --count;
    return count;
}

} // namespace

QString relativeDescription(const QDateTime& date, const QDateTime& now)
{
    if (!date.isValid() || !now.isValid())
        return QString();
    const qint64 difference = now.secsTo(date);
    const bool future = difference > 0;
    const qint64 distance = std::llabs(difference);
    if (distance < 1)
        return Strings::relativeNow();
    if (distance < 60)
        return counted(seconds, distance, future);
    if (distance < 60 * 60)
        return counted(minutes, distance / 60, future);
    const QDate today = now.date();
    const QDate day = date.toTimeZone(now.timeZone()).date();
    const qint64 dayCount = std::llabs(today.daysTo(day));
    if (distance < 24 * 60 * 60 || dayCount == 0)
        return counted(hours, distance / (60 * 60), future);
    if (dayCount == 1)
        return future ? Strings::relativeTomorrow() : Strings::relativeYesterday();
    if (dayCount < 7)
        return counted(days, dayCount, future);
    const qint64 monthCount = future ? wholeMonths(today, day) : wholeMonths(day, today);
    if (monthCount < 1) {
        const qint64 weekCount = dayCount / 7;
        if (weekCount == 1)
            return future ? Strings::relativeNextWeek() : Strings::relativeLastWeek();
        return counted(weeks, weekCount, future);
    }
    if (monthCount < 12) {
        if (monthCount == 1)
            return future ? Strings::relativeNextMonth() : Strings::relativeLastMonth();
        return counted(months, monthCount, future);
    }
    const qint64 yearCount = monthCount / 12;
    if (yearCount == 1)
        return future ? Strings::relativeNextYear() : Strings::relativeLastYear();
    return counted(years, yearCount, future);
}

QString relativeDescription(const QDateTime& date)
{
    return relativeDescription(date, QDateTime::currentDateTime());
}

} // namespace vantrel
