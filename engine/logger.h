#pragma once

#include "desktop/user_identity.h"

#include <QString>

#include <memory>

namespace vantrel {

class Archiving;

// `value` with every control character written as a visible escape: "\n", "\r", "\t", "\x1b",
// "\u{202e}" (C0 and C1 controls, DEL, line and paragraph separators, direction overrides).
// Every value read from a team bundle (a path, a name, a problem found there, an error naming
// a file there) goes through it before it is logged, so that it stays on its entry's line.
QString escapedForLog(const QString& value);

// The log of a team bundle: one file per client, `<logsDirectory>/<clientId>.log`, appended to by
// this client only, so that no two machines ever write the same file on the share. Each entry is
//     2024-05-01T09:30:12.345Z WARNING ana@edit-3 [LockManager::acquire] first line
//       further lines of the message, indented by two spaces
// so an entry always starts with a timestamp and no message can fake another entry. Other control
// characters and direction overrides are escaped wherever they are (see escapedForLog()). The
// log file and its folder are never reached through a symbolic link. The file is
// rotated at rotationSize into `<clientId>.1.log`. Every member may be called from any thread, and
// none throws: when the log cannot be written, a warning goes to the Qt message handler instead.
class Logger {
public:
    // `info` is the third level, raw value 3.
    enum class Level { trace = 1, debug = 2, info = 3, warning = 4, error = 5 };

    static constexpr qint64 rotationSize = 5 * 1024 * 1024;

    // `localDirectory`, when given, takes the entries while the logs folder can't be written (a
    // team bundle this user may only read), as `<clientId>.local.log`: they are kept there
    // rather than lost, and archived with the others.
    Logger(QString logsDirectory, QString clientId, UserIdentity who, QString localDirectory = {});
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void event(const QString& message, const QString& callingMethod, Level level = Level::info);

    QString logsDirectory() const;
    // The file this client appends to (in the logs folder).
    QString logFilePath() const;
    // The file entries go to while the logs folder can't be written; empty without one.
    QString localLogFilePath() const;

    // Packs every client's log in the logs folder into `<appName> Logs <yyyy-MM-dd HH.mm.ss>.zip`
    // (" 2", " 3"... added when that name is taken) in `destination`, created when missing, and
    // returns the archive's path. A failure is logged as an error, leaves no archive behind and
    // is thrown: ArchiveError, or the Error the archiver threw.
    QString archiveLog(const QString& appName, const Archiving& fileArchiver, const QString& destination) const;
    // The same, for callers that want nothing back: a failure is logged as an error and reported
    // as a warning; nothing is thrown.
    void archiveLogToDownloads(const QString& appName, const Archiving& fileArchiver, const QString& destination) const;

private:
    QString archive(const QString& appName, const Archiving& fileArchiver, const QString& destination,
                    const QString& callingMethod) const;

    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace vantrel
