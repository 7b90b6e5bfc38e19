#include "support/service_steps.h"

#include "support/sync_wait.h"

#include <QDir>
#include <QFile>

namespace vantrel::testing {

Service importInto(const std::shared_ptr<TeamBundle>& team, const QString& source)
{
    return syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt, std::nullopt,
                                              std::nullopt, QStringLiteral("Initial Commit"),
                                              DocumentApplication::none(), team, nullptr, nullptr));
}

Service reopenAs(const std::shared_ptr<TeamBundle>& team, const Service& service)
{
    team->poll();
    return syncWait(VersioningService::open(service->type(), service->id(), std::nullopt, std::nullopt, team, nullptr,
                                            nullptr, defaultS3Factory()));
}

QString checkOutItem(const Service& service, const QList<IdFor<VersionBundle>>& events, LockTakeover takeover)
{
    return syncWait(service->checkOut(events, {.takeover = takeover, .autoSave = false}, defaultS3Factory()));
}

Service importCutHolding(const TeamFixture& fixture, const std::shared_ptr<TeamBundle>& team, const QByteArray& content)
{
    const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Cut.kdenlive");
    writeFile(source, content);
    return importInto(team, source);
}

int atticEntryCount(const TeamFixture& fixture, const Service& service)
{
    return QDir(fixture.root() + QStringLiteral("/attic/") + service->id().toString())
        .entryList({QStringLiteral("*.json")})
        .size();
}

QList<QByteArray> keptInAttic(const std::shared_ptr<TeamBundle>& team, const Service& service, const QString& name)
{
    const QString attic = team->materializeAttic(service->id());
    QList<QByteArray> kept;
    for (const QString& copy : QDir(attic).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        QFile file(attic + u'/' + copy + u'/' + name);
        if (file.open(QIODevice::ReadOnly))
            kept << file.readAll();
    }
    return kept;
}

} // namespace vantrel::testing
