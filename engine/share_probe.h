#pragma once

#include <QString>

#include <functional>

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

// Makes the probe see `error` (an errno value, 0 for none) at each capability it tries, and
// the file system as being of `fileSystemType` when that is not empty. For tests.
void setShareProbeFaultsForTesting(std::function<int(ShareCapability)> error, QString fileSystemType = {});

// The type of the file system holding `path` as the system's mount table names it ("ext4",
// "fuse.sshfs", "fuse.rclone"...), empty when it can't be told.
QString fileSystemTypeOf(const QString& path);

} // namespace vantrel
