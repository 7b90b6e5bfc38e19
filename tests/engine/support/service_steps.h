// The steps most engine tests take with one item: import it, open it as another client, check
// it out.

#pragma once

#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"

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
// Imports Cut.kdenlive holding `content`, written in the scratch folder "s" of `fixture`.
Service importCutHolding(const TeamFixture& fixture, const std::shared_ptr<TeamBundle>& team,
                         const QByteArray& content);
// How many copies the attic of `service` keeps.
int atticEntryCount(const TeamFixture& fixture, const Service& service);
// What each copy the attic of `service` keeps holds in its file `name`, oldest first.
QList<QByteArray> keptInAttic(const std::shared_ptr<TeamBundle>& team, const Service& service, const QString& name);

// Ana and Ben on one team bundle, Ana with Cut.kdenlive checked out and edited, and what her
// client tells of it from then on.
struct AnaEditing {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> ana = fixture.client(QStringLiteral("ana"));
    std::shared_ptr<TeamBundle> ben = fixture.client(QStringLiteral("ben"));
    Service cut = importCutHolding(fixture, ana, "first");
    QString workingCopy = checkOutItem(cut);
    QList<RemoteDatabaseChange> seenByAna;
    Cancellable watch =
        cut->remoteDatabaseChanges().sink([this](const RemoteDatabaseChange& change) { seenByAna << change; });
    explicit AnaEditing(const QByteArray& edit) { writeFile(workingCopy, edit); }
};

} // namespace vantrel::testing
