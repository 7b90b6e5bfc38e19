// The harness of the tests of locks and check-outs between real processes: a team bundle in a
// real folder, and clients that each run as a process of their own (tests/engine/lock_child.cpp)
// with their own identity and local folders.

#pragma once

#include "engine/activity.h"
#include "engine/locks/lock_table.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "support/child_process.h"
#include "support/service_steps.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <optional>

namespace vantrel::testing {

// One installation: its client id and the person using it.
struct Client {
    QString id;
    QString user;
    QString fullName;
    QString host;
    // How errors and lock holders name it.
    QString holder() const { return fullName + QStringLiteral(" on ") + host; }
};

// The client "CLIENT-<TAG>" of "Editor <tag>" on "bay-<tag>".
Client client(const QString& tag);

// ---- Content --------------------------------------------------------------------------------

// A library package with `eventCount` event folders.
void makeLibrary(const QString& path, quint32 seed, int eventCount);

// Replaces what a folder holds, keeping the folder.
void emptyFolder(const QString& path);

// ---- Child processes ------------------------------------------------------------------------

// What one operation of a child came to: its "at" and "result" lines.
struct Result {
    bool present = false;
    bool ok = false;
    QString kind;                             // for errors: the VersioningError case, storage-<kind> or other
    QString text;                             // for a check-out: the working copy; for errors: the description
    std::chrono::steady_clock::time_point at; // when the child finished the operation, by the shared steady clock
};

std::chrono::steady_clock::time_point steadyFromNanoseconds(qint64 nanoseconds);

// A running lock_child, which reports each operation in a "result" line.
class LockChild : public ChildProcess {
public:
    // The results printed so far, in order.
    QList<Result> results() const;
    // The last of them; not present when there is none.
    Result result() const;
};

// ---- The team bundle ------------------------------------------------------------------------

// A team bundle in a temporary folder, set up by one client in this process, and the local
// folders of the clients that run as children of the program `lockChild`.
class Studio {
    QTemporaryDir m_dir; // first, so that it is removed after everything that uses it

public:
    explicit Studio(const QString& lockChild);

    const QString& root() const { return m_root; }
    QString local(const Client& who) const { return m_dir.filePath(QStringLiteral("local/") + who.id); }

    QString scratch(const QString& name);

    Service import(VersioningServiceType type, const QString& source);

    // Imports a project package that makeProject() writes as `fileName` in a new scratch folder.
    Service importProject(const QString& folder, const QString& fileName, quint32 seed, int fileCount,
                          qsizetype totalSize);

    // The team bundle as a client that has just started.
    std::shared_ptr<TeamBundle> reader();

    Service service(const std::shared_ptr<TeamBundle>& team, VersioningServiceType type,
                    const IdFor<VersionBundle>& id);

    // Starts lock_child as `who`: `operation` is the operation, the type and the bundle id, and
    // its options.
    std::unique_ptr<LockChild> spawn(const Client& who, const QStringList& operation,
                                     ChildInput input = ChildInput::none());

    // Runs one operation as `who` to its end.
    Result run(const Client& who, const QStringList& operation);

    // The tree written by exporting `version` (the current one when absent).
    QMap<QString, QByteArray> exported(const Service& service, std::optional<IdFor<Versions>> version = std::nullopt);

    // Every entry of the lock folder, hidden ones included, with its bytes; the notes left by
    // check-ins for the next holder aside.
    QMap<QString, QByteArray> lockFolder() const;

    // The lock records, by bundle.
    QHash<IdFor<VersionBundle>, LockRecord> lockRecords() const;

    int storedObjects() const;

    // Whether the client keeps no check-out and no working copy on its local disk.
    bool keepsNothingLocally(const Client& who) const;

    QStringList atticEntries(const IdFor<VersionBundle>& id) const;

private:
    std::shared_ptr<FileManaging> fileManager(const QString& clientId) const;
    static ClientIdentity identity(const Client& who);

    QString m_lockChild;
    QString m_root;
    std::shared_ptr<TeamBundle> m_setup;
    int m_count = 0;
};

int countOf(const QList<ActivityInfo>& activities, ActivityInfo::StateKind kind);

QString joined(const QStringList& list);

} // namespace vantrel::testing
