#pragma once

#include <QString>

#include <optional>

namespace vantrel::crash_reporting {

// The application a report is about.
struct AppIdentity {
    QString name;
    QString version;
    QString build;
    QString environment; // the release type: alpha, beta or production
};

// Installs, for the life of the process, the handlers that write a crash report: fatal signals
// (SIGSEGV, SIGABRT, SIGBUS, SIGILL, SIGFPE, handled on an alternate stack), std::terminate
// (with the message of the exception being handled) and Qt's fatal messages (the handler before
// ours still receives every message; a fatal one is kept for the abort that follows).
//
// The report file is created now in `folder`, empty, and everything known before a crash is
// formatted now, so that a signal handler only writes: the signal, the message, the backtrace
// frames and the time. It then restores the signal's default action and raises it again.
// The prepared file is removed at a clean exit.
//
// A second call keeps the handlers and prepares a new file (the unused previous one is removed).
// Returns the prepared file's path; absent, with the reason in `error`, when no file could be
// created (then no handler is installed by this call).
std::optional<QString> installCrashHandlers(const AppIdentity& app, const QString& folder, QString* error = nullptr);

// The file prepared for this process's report; empty when there is none.
QString preparedReportPath();

// Removes the prepared file while it is unused; nothing is written after this.
void discardPreparedReport();

// The name of a fatal signal ("SIGSEGV"); "signal" for any other number.
const char* fatalSignalName(int number);

} // namespace vantrel::crash_reporting
