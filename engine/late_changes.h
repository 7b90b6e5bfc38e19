// What an application does to a working copy after a check-in has looked whether it is in use:
// it may open it and save, or save what it had open, after the versions were stored.

#pragma once

#include "engine/id_for.h"
#include "engine/storage/content_hash.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vantrel {

class ContentStore;
class StatCache;
class TeamBundle;
class VersionBundle;

// Whether a file of the working copy at `workingCopy` (a file or a package) is not as a
// check-in stored it: its state (size, times, inode) is not the one `cache` recorded when it was
// read and its content is not the one recorded either, or it was not recorded at all. Folders
// `skipped` (relative paths) are not looked into. A file that can't be read counts as changed.
// `recordedAs`, when given, is the path the check-in read the working copy by (it was moved
// since): its files are looked up in `cache` by their names below that path. Blocking.
bool changedSinceStored(const QString& workingCopy, const StatCache& cache, const ContentStore& store,
                        const QStringList& skipped = {}, const QString& recordedAs = {});

// What removeCheckedInWorkingCopy() did with what came after the versions were stored.
enum class LateChanges {
    none,    // nothing changed, nothing used it: it is removed
    kept,    // kept in the attic: it is removed, unless a process still holds it
    notKept, // it changed or is in use but could not be kept: it stays
};

struct LateChangesOutcome {
    LateChanges late = LateChanges::none;
    QString leftIn; // notKept: the folder the working copy is in, left as it is
};

// Removes the working copy of `id` once it is checked in, losing no edit saved before it goes.
// Its working folder is first moved aside to a name of its own beside it, so that no program
// opens it by its path any more (a save by path fails, or makes a new working folder, which is
// left alone). Then, when a file is not as it was stored (see changedSinceStored(), the stat
// cache of `id`), when a process holds something in it, or when `lookForUsers` and a process was
// started on its path, it is kept in the attic (no second entry when that is the copy
// `keptLast`), since that work is in no version. It is removed in the background after `first`,
// unless a process holds something in it (it stays aside, where that process writes) or it
// could not be kept (it goes back where it was, or stays aside when something took its place).
// Never throws: the check-in is published already; what goes wrong is logged. Blocking.
LateChangesOutcome removeCheckedInWorkingCopy(TeamBundle& team, const IdFor<VersionBundle>& id,
                                              const QString& workingCopy, bool lookForUsers, const QStringList& skipped,
                                              std::function<void()> first,
                                              const std::optional<ContentHash>& keptLast = std::nullopt);

// Called with the working copy right before removeCheckedInWorkingCopy() removes it, once it
// has looked at it. For tests.
void setBeforeWorkingCopyRemovalForTesting(std::function<void(const QString& workingCopy)> observe);

} // namespace vantrel
