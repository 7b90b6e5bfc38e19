#pragma once

#include "engine/engine_errors.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace vantrel {

// What the engine needs of the share a team bundle lives on (see engine/README.md).
enum class ShareCapability {
    exclusiveCreate, // O_EXCL refuses a name that exists
    exclusiveFolder, // mkdir() refuses a name that exists (EEXIST), and rmdir() removes the folder
    replaceByRename, // rename() over an existing file replaces it
    hardLink,        // link() publishes a record, or says plainly that links aren't supported
    flush,           // fsync() of a file
    write,           // making anything at all in the team bundle (its scratch folder)
    reach,           // the attributes of the folder a team bundle is made in, asked at all
    // What a share with Windows share modes (SMB) refuses while a client holds a file open: the
    // engine copes with these, so they are found out and reported, never a reason to refuse.
    replaceOpenFile, // rename() over a file held open
    moveOpenFile,    // rename() of a file held open to another name
    removeOpenFile,  // unlink() of a file held open
};

// What the share answered when a file this client held open was replaced, moved aside or
// removed: 0 where it did so, else the errno (EEXIST, EBUSY...), or -1 for a rename that
// reported success but left the old file in place.
struct OpenFileHandling {
    int replace = 0;
    int moveAside = 0;
    int remove = 0;

    // Whether a file another client has open can be replaced, moved aside and removed as any
    // other: false on SMB, where the engine must retry those steps until the other lets go.
    bool replacesOpenFiles() const { return replace == 0 && moveAside == 0 && remove == 0; }
    // One line for the log: each operation and what the share answered.
    QString description() const;
};

struct ShareProbeResult {
    // What the system answered when this user can't write to the share (EROFS, EACCES, ENOSPC...)
    // or ETIMEDOUT when a small file wasn't written and flushed in time (a cluster file system
    // that waits for space); 0 when everything was tried and passed.
    int refusal = 0;
    // Found only when refusal is 0.
    OpenFileHandling openFiles;
};

enum class ProbePurpose {
    open,   // a share that can't be written to is reported (refusal), the bundle opens for reading
    create, // a share that can't be written to fails with StorageError; the bundle's folder, made
            // just before, is removed when the probe leaves it empty, also after its time is up
};

// How long one step of the probe (a file made, written and flushed; a rename; a link) may take
// before the share counts as one that can't be written to in time (ETIMEDOUT); a slow share that
// answers step by step is waited for. A probe given up is left to end on its own, in the
// background, and removes what it made when it does.
inline constexpr std::chrono::milliseconds shareProbeTimeLimit{5000};

// Tries, in a scratch folder of its own inside the team bundle at `root` (made and used through a
// descriptor, never followed through a link put in its place), what the engine relies on, and
// removes the folder again. A share that can't keep the promises is refused: TeamBundleError
// unsupportedShare, saying what is missing and, where there is one, the fix. A share this user
// can't write to (read-only, no permission, full, or too slow to store a small file within
// shareProbeTimeLimit) is not probed further: see ProbePurpose. A handful of small files, so that
// opening stays quick. Blocking; throws StorageError when the share fails otherwise (a lost
// connection).
ShareProbeResult probeShare(const QString& root, ProbePurpose purpose = ProbePurpose::open);

// Before a team bundle is made in the folder `path`: that it is a folder, asked on a thread of its
// own within shareProbeTimeLimit. Nothing there (or no folder) is TeamBundleError missingFolder; a
// share that fails to answer (ENOTCONN, EIO...) or doesn't in time (a mount whose server hangs) is
// unreachable, never a folder that could not be found. StorageError when it may not be looked in.
void checkFolderToCreateIn(const QString& path);

// Why this user can only read the team bundle at `root`, given what probeShare() refused with and
// the bundle's own folders (those that aren't there are left out): TeamBundleError readOnly naming
// the share as read-only, full or too slow, else the first folder (`root` first) this user may not
// write to, with its owner and group and what to ask for; none when they may write it all.
std::optional<TeamBundleError> writeProblemOf(const QString& root, const QStringList& folders, int probeRefusal);

// Makes the probe see `error` (an errno value, 0 for none) at each capability it tries, and
// the file system as being of `fileSystemType` when that is not empty. `error` may block, to
// stand for a share that doesn't answer. For tests.
void setShareProbeFaultsForTesting(std::function<int(ShareCapability)> error, QString fileSystemType = {});
// Calls `made` with the path of the probe's scratch folder once it is made, before it is opened;
// and makes the probe's time limit `limit` (zero: shareProbeTimeLimit). For tests.
void setShareProbeHooksForTesting(std::function<void(const QString&)> made,
                                  std::chrono::milliseconds limit = std::chrono::milliseconds(0));
// Makes the probe's time limit count on a clock of the test's that reads `now` until set again,
// or on the system's clock again with none. For tests.
void setShareProbeClockForTesting(std::optional<std::chrono::milliseconds> now);

// The type of the file system holding `path` as the system's mount table names it ("ext4",
// "fuse.sshfs", "fuse.rclone"...), empty when it can't be told.
QString fileSystemTypeOf(const QString& path);

} // namespace vantrel
