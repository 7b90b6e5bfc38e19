#pragma once

#include <QDateTime>
#include <QString>

namespace vantrel {

// How far `date` lies from `now` in words of the running language: "now", "5 minutes ago",
// "yesterday", "in 3 days" (a teammate's clock may run ahead), "2 years ago". Minutes and hours
// count elapsed time; days, weeks, months and years count calendar days. An invalid date gives
// the empty text.
QString relativeDateDescription(const QDateTime& date, const QDateTime& now = QDateTime::currentDateTime());

} // namespace vantrel
