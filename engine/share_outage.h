#pragma once

#include "engine/engine_errors.h"

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
