#pragma once

#include "desktop/system_services.h"
#include "engine/storage/content_store.h"
#include "engine/storage/manifest.h"
#include "engine/storage/storage_error.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "support/test_files.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace vantrel::testing {

// A team bundle in a temporary folder, opened by as many clients as a test needs. Each client
// has its own identity and its own local folders, as if on its own machine.
class TeamFixture {
public:
    // The clients' local folders (data, cache, downloads) go in `localParent`, another disk
    // perhaps; beside the bundle by default.
    explicit TeamFixture(const QString& localParent = {});
    ~TeamFixture();

    QString root() const { return m_root; }
    QString localFolder(const QString& userName) const { return m_localParent + u'/' + userName; }
    QString scratch(const QString& name) const; // a fresh folder for sources and exports

    // Opens the team bundle as another client ("Ana" on "studio-a", "Ben" on "studio-b", ...).
    std::shared_ptr<TeamBundle> client(const QString& userName);

private:
    QTemporaryDir m_dir;
    QString m_root;
    QString m_localParent;
    std::map<QString, std::shared_ptr<TeamBundle>> m_clients;
};

// Files below a folder: relative path -> a description of the entry (content for files,
// "dir" for folders, "-> target" for links, "special" for pipes and sockets, with "+x" for
// executables).
QMap<QString, QByteArray> describeTree(const QString& root);
// Sets the modification time of `path` `seconds` back.
void setAge(const QString& path, qint64 seconds);
// `<journal>/<client>/<seq>.json`.
QString recordPath(const QString& journal, const QString& client, qint64 seq);

// Bytes that differ for every seed, so that every run stores contents the store has not seen.
QByteArray noise(quint32 seed, qsizetype size);

// A project package of about `totalSize` bytes in `fileCount` files spread over `reelCount`
// folders, with an executable, an empty folder and a link.
void makeProject(const QString& path, quint32 seed, int fileCount, qsizetype totalSize, int reelCount);

// The names in `folder`, hidden ones included.
QStringList entriesIn(const QString& folder);
// The contents in a content store, by file name below its shard folders.
QStringList objectsIn(const QString& storeFolder);
// The packs of chunks a store holds (and whatever lies beside them), as `ab/<name>`.
QStringList packsIn(const QString& storeFolder);

// The bytes of a stored file, whole or in chunks, checked against its hash.
QByteArray storedContent(const ContentStore& store, const ManifestEntry& entry);
// What a stored tree holds, in describeTree()'s form, read from the content store (which checks
// every content against its hash).
QMap<QString, QByteArray> storedTree(const ContentStore& store, const ContentHash& manifestHash);

// The kind of StorageError `operation` throws; -1 when it succeeds, -2 for any other exception.
template<typename Operation>
StorageError::Kind failureKind(Operation&& operation)
{
    try {
        operation();
    } catch (const StorageError& error) {
        return error.kind();
    } catch (...) {
        return static_cast<StorageError::Kind>(-2);
    }
    return static_cast<StorageError::Kind>(-1);
}

// The file manager of a client whose local folders are below `localFolder`.
std::shared_ptr<FileManaging> localFileManager(const QString& localFolder);

// Opens the bundle `id` of `team`.
std::shared_ptr<VersioningService> openService(const std::shared_ptr<TeamBundle>& team, VersioningServiceType type,
                                               const IdFor<VersionBundle>& id);

// The tree written by exporting `version` (the current one when absent) of `service` into the
// empty folder `folder`, which is removed afterwards.
QMap<QString, QByteArray> exportedTree(const std::shared_ptr<VersioningService>& service,
                                       const std::optional<IdFor<Versions>>& version, const QString& folder);

} // namespace vantrel::testing
