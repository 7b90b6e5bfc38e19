#pragma once

#include "engine/engine_errors.h"
#include "engine/storage/content_store.h"

#include <functional>
#include <memory>
#include <utility>

namespace vantrel {

class TeamBundle;

// When a change of a team bundle fails because the share went away, the user is told so in
// those words: what was not done, what is kept, and to try again once the share is back, never
// what the system said of one of its files ("Input/output error") nor that somebody took a lock.
//
// `error` counts as the share going away when it is TeamBundleError unreachable, or a failure to
// find, read or write a file while the team bundle's marker can't be read by name now. Then
// this throws TeamBundleError::unreachableDuring(attempt), unless `landed` says that the change
// was published after all (its words would be untrue); otherwise it returns.
void throwIfShareGone(TeamBundle& team, TeamBundleError::Attempt attempt, const Error& error,
                      const std::function<bool()>& landed = {});

// Rethrows the exception being handled, a failure of an import or check-in (`attempt`) that
// published nothing: a StorageError says so, in words fitting it (nothing was imported, or
// checked in and the working copy and message are kept), and, for a write that failed as on a
// full volume (StorageError::mayBeFull()), that the share may be full. Anything else is
// rethrown as it is: its own words say what became of the change.
[[noreturn]] void rethrowUnpublished(TeamBundleError::Attempt attempt);

// `work(written)` (a change that stores contents in `store`, noting them in `written`), whose
// failures before its record rethrowUnpublished() words, once what it stored new is removed.
template<typename F>
auto storingOwnContents(ContentStore& store, TeamBundleError::Attempt attempt, F work)
{
    return [&store, attempt, work = std::move(work)]() mutable {
        ContentStore::Written written(store);
        try {
            return work(written);
        } catch (...) {
            if (written.kept())
                throw;
            rethrowUnpublished(attempt);
        }
    };
}

// `work` (a change run on a worker), whose failures throwIfShareGone() words.
template<typename F>
auto wordedForOutage(std::shared_ptr<TeamBundle> team, TeamBundleError::Attempt attempt, F work,
                     std::function<bool()> landed = {})
{
    return [team = std::move(team), attempt, work = std::move(work), landed = std::move(landed)]() mutable {
        try {
            return work();
        } catch (const Error& error) {
            throwIfShareGone(*team, attempt, error, landed);
            throw;
        }
    };
}

} // namespace vantrel
