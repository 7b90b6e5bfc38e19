#include "views/detail/relative_date.h"

#include "model/strings.h"
#include "model/text_format.h"

#include <algorithm>

namespace vantrel {

namespace {

QString amount(qint64 count, QString (*one)(), QString (*other)())
{
    return Strings::plural(other(), one(), other(), count);
}

} // namespace

QString relativeDateDescription(const QDateTime& date, const QDateTime& now)
{
    if (!date.isValid() || !now.isValid())
        return {};
    const qint64 seconds = now.secsTo(date); // negative in the past
    const bool future = seconds > 0;
    const qint64 elapsed = future ? seconds : -seconds;
    if (elapsed < 60)
        return Strings::relativeNow();

    QString span;
    if (elapsed < 3600) {
        span = amount(elapsed / 60, &Strings::minuteCountOne, &Strings::minuteCountOther);
    } else if (elapsed < 24 * 3600) {
        span = amount(elapsed / 3600, &Strings::hourCountOne, &Strings::hourCountOther);
    } else {
        const qint64 signedDays = now.toLocalTime().date().daysTo(date.toLocalTime().date());
        const qint64 days = std::max<qint64>(1, signedDays < 0 ? -signedDays : signedDays);
        if (days == 1)
            return future ? Strings::relativeTomorrow() : Strings::relativeYesterday();
        if (days < 7)
            span = amount(days, &Strings::dayCountOne, &Strings::dayCountOther);
        else if (days < 31)
            span = amount(days / 7, &Strings::weekCountOne, &Strings::weekCountOther);
        else if (days < 365)
            span = amount(std::clamp<qint64>(days / 30, 1, 11), &Strings::monthCountOne, &Strings::monthCountOther);
        else
            span = amount(days / 365, &Strings::yearCountOne, &Strings::yearCountOther);
    }
    return formatText(future ? Strings::relativeFuture() : Strings::relativePast(), span);
}

} // namespace vantrel
