// The steps most engine tests take with one item: import it, open it as another client, check
// it out.

#pragma once

#include "engine/team_bundle.h"
#include "engine/versioning_service.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace vantrel::testing {

using Service = std::shared_ptr<VersioningService>;

// Imports the file or package at `source` as a new bundle of `team`.
Service importInto(const std::shared_ptr<TeamBundle>& team, const QString& source);
// The same bundle as `team` sees it, once `team` has polled.
Service reopenAs(const std::shared_ptr<TeamBundle>& team, const Service& service);
// Checks `service` out with `events`, without auto-save; returns the working copy.
QString checkOutItem(const Service& service, const QList<IdFor<VersionBundle>>& events = {},
                     LockTakeover takeover = LockTakeover::none);
// What each copy the attic of `service` keeps holds in its file `name`, oldest first.
QList<QByteArray> keptInAttic(const std::shared_ptr<TeamBundle>& team, const Service& service, const QString& name);

} // namespace vantrel::testing
