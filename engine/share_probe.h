#pragma once

#include "engine/engine_errors.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vantrel {

// What the engine needs of the share a team bundle lives on (see engine/README.md).
enum class ShareCapability {
    exclusiveCreate, // O_EXCL refuses a name that exists
    replaceByRename, // rename() over an existing file replaces it
    hardLink,        // link() publishes a record, or says plainly that links aren't supported
    flush,           // fsync() of a file
    write,           // making anything at all in the team bundle (its scratch folder)
};

// Tries, in a scratch folder of its own inside the team bundle at `root`, what the engine relies
// on, and removes the folder again. A share that can't keep the promises is refused:
// TeamBundleError unsupportedShare, saying what is missing and, where there is one, the fix. A
// share this user can't write to (read-only, no permission, full) is not probed: the team bundle
// is then only read, and the probe returns what the system answered (EACCES, EROFS, ENOSPC...);
// 0 when it was tried and passed. A handful of small files, so that opening stays quick.
// Blocking; throws StorageError when the share fails otherwise (a lost connection).
int probeShare(const QString& root);

// Why this user can only read the team bundle at `root`, given what probeShare() returned and the
// bundle's own folders (those that aren't there are left out): TeamBundleError readOnly naming
// the share as read-only or full, else the first folder (`root` first) this user may not write
// to, with its owner and group and what to ask for; none when they may write it all.
std::optional<TeamBundleError> writeProblemOf(const QString& root, const QStringList& folders, int probeRefusal);

// Makes the probe see `error` (an errno value, 0 for none) at each capability it tries, and
// the file system as being of `fileSystemType` when that is not empty. For tests.
void setShareProbeFaultsForTesting(std::function<int(ShareCapability)> error, QString fileSystemType = {});

// The type of the file system holding `path` as the system's mount table names it ("ext4",
// "fuse.sshfs", "fuse.rclone"...), empty when it can't be told.
QString fileSystemTypeOf(const QString& path);

} // namespace vantrel
