#pragma once

#include <QDateTime>
#include <QString>

namespace vantrel {

// How long ago (or how far ahead) `date` lies from `now`, in words, using names where the
// language has them: "now", "5 minutes ago", "in 2 hours", "yesterday", "tomorrow",
// "last week", "in 3 months", "last year". Durations under a day count seconds, minutes or
// hours; longer ones count calendar days, weeks, months and years in the time zone of `now`.
// The texts come from Strings, so they follow the installed translation. An invalid date
// gives the empty text.
QString relativeDescription(const QDateTime& date, const QDateTime& now);

// relativeDescription() of `date` relative to the current moment, read at each call.
QString relativeDescription(const QDateTime& date);

} // namespace vantrel
