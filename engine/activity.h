#pragma once

#include "engine/id_for.h"
#include "foundation/cancellable.h"
#include "foundation/publisher.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vantrel {

class TeamBundle;
struct BundleState;

// One entry of an item's activity timeline.
struct ActivityInfo {
    // What happened; the order of the cases is the order the views rely on.
    enum class StateKind {
        revert,             // went back to an earlier version
        editing,            // somebody is working on a checked-out copy (auto-save)
        lock,               // checked out, or force unlocked
        newVersion,         // checked in
        imported,           // the first version, from an imported file
        descriptionChanged, // renamed
        created,            // the first version of a new, empty item
        changesDiscarded,   // a check-out given up
        deleted,            // moved to the trash
    };
    struct State {
        StateKind kind = StateKind::newVersion;
        // For a revert: the message and date of the version gone back to.
        std::optional<QString> commitMessage;
        std::optional<QDateTime> modificationDate;
        friend bool operator==(const State&, const State&) = default;
    };

    IdFor<States> id;
    IdFor<Versions> versionID; // the version this entry made, or the one current at the time
    State state;
    QString message; // the commit message, or what the person did
    QString userName;
    QDateTime date;
    QString hostName;
    bool allowsVersionActions = false; // the entry names a version that can be reverted to, exported, copied
    std::function<bool()> isCurrent;   // its version is the current one, or its lock is still held
    QString stamp;                     // the entry's place in the order of all changes

    friend bool operator==(const ActivityInfo& a, const ActivityInfo& b)
    {
        return a.id == b.id && a.versionID == b.versionID && a.state == b.state && a.message == b.message
               && a.userName == b.userName && a.date == b.date && a.hostName == b.hostName
               && a.allowsVersionActions == b.allowsVersionActions && a.stamp == b.stamp;
    }
};

// The timeline of one bundle, newest first, built from its records.
QList<ActivityInfo> activities(const std::shared_ptr<TeamBundle>& team, const BundleState& state);

// Publishes the whole timeline of one bundle: to each new subscriber at once, and to all
// after every change of the bundle and every update().
class ActivityStore {
public:
    ActivityStore(std::shared_ptr<TeamBundle> team, IdFor<VersionBundle> id);

    AnyPublisher<QList<ActivityInfo>> publisher() const;
    // The same without the timeline as it is when subscribing: only the changes after it (a
    // subscriber that has just read the bundle's state saves reading it again).
    AnyPublisher<QList<ActivityInfo>> changes() const;
    // Rereads the timeline and publishes it again.
    void update();
    QList<ActivityInfo> current() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace vantrel
