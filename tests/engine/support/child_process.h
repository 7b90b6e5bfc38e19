// Helpers of the tests that run clients as child processes: generated contents, stored trees,
// the local folders of a client and the starting and reaping of a child.

#pragma once

#include "engine/storage/content_store.h"
#include "engine/system_services.h"
#include "engine/versioning_service.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <memory>
#include <optional>
#include <sys/types.h>

namespace vantrel::testing {

// Bytes that differ for every seed, so that every run stores contents the store has not seen.
QByteArray noise(quint32 seed, qsizetype size);

// A project package of about `totalSize` bytes in `fileCount` files spread over `reelCount`
// folders, with an executable, an empty folder and a link.
void makeProject(const QString& path, quint32 seed, int fileCount, qsizetype totalSize, int reelCount);

// What a stored tree holds, in describeTree()'s form, read from the content store (which checks
// every content against its hash).
QMap<QString, QByteArray> storedTree(const ContentStore& store, const ContentHash& manifestHash);

// The file manager of a client whose local folders are below `localFolder`.
std::shared_ptr<FileManaging> localFileManager(const QString& localFolder);

// Opens the bundle `id` of `team`.
std::shared_ptr<VersioningService> openService(const std::shared_ptr<TeamBundle>& team, VersioningServiceType type,
                                               const IdFor<VersionBundle>& id);

// The tree written by exporting `version` (the current one when absent) of `service` into the
// empty folder `folder`, which is removed afterwards.
QMap<QString, QByteArray> exportedTree(const std::shared_ptr<VersioningService>& service,
                                       const std::optional<IdFor<Versions>>& version, const QString& folder);

// Standard input of spawnChild(), besides a descriptor.
constexpr int inheritedInput = -1;
constexpr int nullInput = -2;

// Starts argv[0] with `argv`: its standard output into a new pipe whose read end (close-on-exec)
// lands in `output`, its standard error into the file `errorPath`, its standard input from
// `input`. Spawned by hand rather than through QProcess, to be reaped by hand: until waitpid()
// the pid cannot name another process, so a kill cannot miss. Returns the pid, or -1 with
// `failure` set and no descriptor left open.
pid_t spawnChild(QList<QByteArray> argv, const QByteArray& errorPath, int input, int& output, QString& failure);

// Waits for the child `pid` to end; returns its wait status.
int reapChild(pid_t pid);

} // namespace vantrel::testing
