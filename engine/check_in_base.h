#pragma once

#include "engine/locks/checkout_registry.h"
#include "engine/journal/journal.h"
#include "engine/storage/content_hash.h"
#include "engine/team_state.h"

#include <QSet>
#include <QString>

#include <optional>

namespace vantrel {

class TeamBundle;

// What a check-in builds on, and whether its working copy still starts from the current
// versions. `earlier` is the record of an earlier try of the same check-in, published but not
// found whole in the bundle as it is now: its versions, and this client's withdrawal of them,
// count as what the working copy starts from.
namespace versioning {

// Whether `version` was written by `record`.
bool writtenBy(const VersionInfo* version, const std::optional<JournalStamp>& record);

// The version a new version of a bundle is built on: the current one; none after an earlier
// try, since the bundle (an older copy of itself) may lack parts of any version: everything is
// then stored as for a first version, and only what the bundle holds already is not written.
const VersionInfo* buildsOn(const BundleState& state, const std::optional<JournalStamp>& earlier);

// Who saved a version since the check-out of `current` began (by a revert, or by somebody who
// took the lock meanwhile), of the document or of an included event it still holds; nobody
// when its working copy still starts from the current versions.
std::optional<QString> newerVersionBy(TeamBundle& team, const TeamSnapshot& snapshot, const BundleState& current,
                                      const Checkout& checkout, const std::optional<JournalStamp>& earlier);

// The root trees of the versions that `record` wrote of the document and its included events.
QSet<ContentHash> treesWrittenBy(const TeamSnapshot& snapshot, const BundleState& current, const Checkout& checkout,
                                 const JournalStamp& record);

} // namespace versioning

} // namespace vantrel
