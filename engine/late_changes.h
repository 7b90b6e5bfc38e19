// What an application does to a working copy after a check-in has looked whether it is in use:
// it may open it and save, or save what it had open, after the versions were stored.

#pragma once

#include "engine/id_for.h"

#include <QString>
#include <QStringList>

namespace vantrel {

class ContentStore;
class StatCache;
class TeamBundle;
class VersionBundle;

// Whether a file of the working copy at `workingCopy` (a file or a package) is not as a
// check-in stored it: its state (size, times, inode) is not the one `cache` recorded when it was
// read and its content is not the one recorded either, or it was not recorded at all. Folders
// `skipped` (relative paths) are not looked into. A file that can't be read counts as changed.
// Blocking.
bool changedSinceStored(const QString& workingCopy, const StatCache& cache, const ContentStore& store,
                        const QStringList& skipped = {});

// What keepLateChanges() did.
enum class LateChanges {
    none,    // nothing changed, nothing uses it: the working copy may go
    kept,    // kept in the attic: it may go
    notKept, // it changed or is in use but could not be kept: it must stay
};

// Right before the working copy of `id` checked in is removed: when it changed since it was
// stored (see changedSinceStored(), the stat cache of `id`) or, when `lookForUsers`, a process
// uses its folder now, it is kept in the attic, since that work is in no version. Never throws:
// the check-in is published already; what goes wrong is logged. Blocking.
LateChanges keepLateChanges(TeamBundle& team, const IdFor<VersionBundle>& id, const QString& workingCopy,
                            bool lookForUsers, const QStringList& skipped = {});

} // namespace vantrel
