#pragma once

#include "foundation/error.h"

#include <QString>

namespace vantrel {

// A failure to read or write files: in a team bundle, in its content store, or where a version is
// exported to. The description names the file (relative to the team bundle holding it) and, for a
// file of a team bundle this user may not write, whom to ask for what; the failure reason of a
// system call's failure is a plain title. What the system said is in debugDescription().
class StorageError : public Error {
public:
    enum class Kind {
        notFound,
        alreadyExists,
        permissionDenied,
        readOnly,
        diskFull,
        // The stored bytes are not what was stored: a content whose hash does not match, or a
        // record that cannot be read back.
        corrupt,
        io,
    };

    StorageError(Kind kind, QString path, QString localizedDescription,
                 std::optional<QString> failureReason = std::nullopt,
                 std::optional<QString> recoverySuggestion = std::nullopt, int systemError = 0);

    // The failure of a system call on `path`. `action` names the call for the log ("open",
    // "write", "rename" ...).
    static StorageError fromErrno(int error, const QString& path, const QString& action);
    // What the system said of a failed call, for logs: "Permission denied (error 13 in open)".
    static QString systemReason(int error, const QString& action);
    // A file that is not where it was looked for; `error` is what the system said: ENOENT,
    // ENOTDIR, or ESTALE for a file read by name that another client of a network file system
    // kept moving aside or replacing while it was read.
    static StorageError notFound(const QString& path, int error, const QString& action);
    // The contents stored for `path` do not hash to what they were stored under.
    static StorageError corrupt(const QString& path, const QString& detail);
    // A file the engine keeps that turned out to be something else (a symbolic link, a FIFO,
    // a device, a folder): corrupt, never notFound, which callers take for "absent".
    static StorageError notRegularFile(const QString& path);
    // A file the engine keeps that is larger than anything it writes there (`limit` bytes).
    static StorageError tooLarge(const QString& path, qint64 size, qint64 limit);
    // A content written and flushed that its name does not hold at its size when it is read
    // back: the share acknowledged a write it lost. `detail` says what was found, for logs.
    static StorageError notAsWritten(const QString& path, const QString& detail);

    Kind kind() const { return m_kind; }
    // The file or folder concerned, as given to the failing operation.
    const QString& path() const { return m_path; }
    // The errno value of the failure, 0 when it did not come from a system call.
    int systemError() const { return m_systemError; }
    // What the system said (see systemReason()), or what is wrong with a damaged file; for logs.
    const QString& systemDetail() const { return m_systemDetail; }
    // Whether a write failed in a way a full volume answers: no space, over quota, a file too
    // large, or an input/output error of a write or flush (sshfs answers ENOSPC so).
    bool mayBeFull() const;
    // The same failure told in other words (the title and what the system said stay).
    StorageError reworded(const QString& localizedDescription, std::optional<QString> recoverySuggestion) const;

    QString debugDescription() const override;

protected:
    QString typeName() const override;

private:
    Kind m_kind;
    QString m_path;
    int m_systemError;
    QString m_systemDetail;
    bool m_writing = false; // the failed call wrote or flushed
};

// The text of the system's description of an errno value, as the system's own words.
QString systemErrorText(int error);

} // namespace vantrel
