#pragma once

#include "engine/check_out_options.h"
#include "engine/id_for.h"
#include "engine/storage/content_hash.h"
#include "engine/team_state.h"

#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace vantrel {

class ContentStore;
class StatCache;
class TeamBundle;
struct Manifest;

// What the operations of VersioningService share: the fields of records, the event folders of
// library packages and the handling of working folders.
namespace versioning {

extern const QString eventFolderExtension; // "videoevent"

QJsonObject versionFields(const IdFor<Versions>& version, const ContentHash& manifest, const QString& message,
                          const QJsonObject& application, VersionOrigin origin);
// The fields of the record that created the bundle.
QJsonObject creationFields(const BundleState& state);
// Stores the trees of `manifest` (its contents are stored already); the hash of its root tree.
QString storedManifest(ContentStore& store, const Manifest& manifest);
// The root tree of `version`, when it has one: what a new version of the same bundle builds on.
std::optional<ContentHash> baseTree(const VersionInfo* version);
void renameInto(const QString& from, const QString& to);
// `name` when it can name a new bundle; throws VersioningError (invalidName) otherwise.
QString nameForNewBundle(const QString& name, const QString& what);

// The event folders of a library package: its direct sub-folders with the event extension.
QStringList eventFolderNames(const QString& package);

// Records the files of a freshly written working copy in the stat cache, so that a check-in
// reads only what the user changed.
void recordWrittenTree(StatCache& cache, const Manifest& manifest, const QString& root);

// Removes a working copy that is no longer needed without making the caller wait: it is moved
// aside at once and deleted in the background, after `first` (in the background too).
void discardWorkingFolder(const QString& folder, std::function<void()> first = {});

// Keeps in the attic every file and folder in the working folder `folder` but the one named
// `except` (the working copy, when it is kept otherwise): what an earlier check-out left there,
// or what the editing application wrote beside the working copy. Links and sockets hold no work.
void keepWorkingFolderEntries(TeamBundle& team, const IdFor<VersionBundle>& id, const QString& folder,
                              const QString& except, const QString& reason);

// A working copy an application still uses is not taken away from it: whatever the application
// saves afterwards would have nowhere to go. Unless told to go on, the check-in, discard or
// check-out that would replace it is refused before anything is stored or recorded, naming the
// applications (WorkingCopyInUseError). `folder` is the working folder.
void refuseWhileFolderInUse(const QString& name, const QString& folder, WorkingCopyInUse inUse);
// The same for the working folder of `workingCopy`.
void refuseWhileInUse(const QString& name, const QString& workingCopy, WorkingCopyInUse inUse);

struct EventToWrite {
    std::shared_ptr<const BundleState> event;
    const VersionInfo* version;
};

// Writes events into `package`, which already holds the library's own tree. Each keeps the
// folder name it was imported with while its name is unchanged; otherwise its name, made safe
// and unique. Returns the folder of each event, in order; their trees go to `written` when given.
QStringList writeEvents(const ContentStore& store, const Manifest& library, const QString& package,
                        const QList<EventToWrite>& events, QList<Manifest>* written = nullptr);

// The stamp of the record that wrote `version` of `state`, when it is there.
std::optional<JournalStamp> stampOfVersion(const BundleState& state, const IdFor<Versions>& version);

} // namespace versioning

} // namespace vantrel
