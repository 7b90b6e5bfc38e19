#pragma once

#include "packages/crash_reporting/crash_handlers.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace vantrel::crash_reporting {

// A report file holds one "key: value" line each, after the first line `reportMagic`. Values
// are escaped (\n, \r and \\); "frame" repeats, innermost frame first, as backtrace_symbols
// writes it; the last line is "end" when the handler finished. Unknown keys are skipped.
inline constexpr char reportMagic[] = "vantrel-crash-report 1";
inline const QString reportSuffix = QStringLiteral(".crash");

// Reading is bounded: a file is read up to this size, and a report keeps at most this many frames.
inline constexpr qint64 maxReportSize = 512 * 1024;
inline constexpr int maxReportFrames = 256;

QByteArray escapeReportValue(QByteArrayView value);
QByteArray unescapeReportValue(QByteArrayView value);

// One frame as backtrace_symbols writes it: `module(function+0xoffset) [0xaddress]`, any part
// of which may be missing.
struct CrashFrame {
    QString module;
    QString function; // demangled when it can be
    quint64 offset = 0;
    quint64 address = 0;

    static CrashFrame parse(QByteArrayView line);
};

// A report read back at a later start.
struct CrashReport {
    QString path;
    QString eventId; // 32 hexadecimal digits
    AppIdentity app;
    QString osName;
    QString osRelease;
    QString osVersion;
    QString machine;
    int signal = 0;
    QString type; // the signal's name, "terminate" or "qFatal"
    QString message;
    std::optional<quint64> faultAddress;
    QDateTime time; // UTC
    QList<CrashFrame> frames;
    bool complete = false; // the handler wrote all of it
};

// The report in `path`; absent, with the reason in `error`, when the file is not one (a
// report needs its first line, an event id and a type).
std::optional<CrashReport> readCrashReport(const QString& path, QString* error = nullptr);

// The reports waiting in `folder`, oldest first, at most `limit` of them. Skips the file this
// process prepared (`ownPath`) and the empty files of processes still running; removes, and
// logs, the empty files of ended processes and the files that are no report.
QList<CrashReport> pendingCrashReports(const QString& folder, const QString& ownPath, int limit = 16);

} // namespace vantrel::crash_reporting
