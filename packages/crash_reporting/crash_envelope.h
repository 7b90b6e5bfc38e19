#pragma once

#include "packages/crash_reporting/crash_dsn.h"
#include "packages/crash_reporting/crash_report.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>

namespace vantrel::crash_reporting {

// The event of a report: a fatal native event whose exception carries the kind of crash, the
// message and the stack trace (outermost frame first), with the operating system's context and
// the release "<name>@<version>+<build>".
QJsonObject crashEvent(const CrashReport& report);

// The envelope that carries the event of `report` to the envelope endpoint of `dsn`: a header
// line, the event item's header line and the event.
QByteArray crashEnvelope(const CrashReport& report, const CrashDsn& dsn, const QDateTime& sentAt);

// The content type of an envelope.
inline constexpr char envelopeContentType[] = "application/x-sentry-envelope";

} // namespace vantrel::crash_reporting
