#pragma once

// Items over a real team bundle for the tests of the models and actions: files to import, and a
// service that fails on request where a failure of the share must be injected.

#include "engine/engine_errors.h"
#include "model/collection.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QStringList>

#include <qcoro/qcorotimer.h>

namespace vantrel::testing {

using Service = std::shared_ptr<VersioningService>;

// Reads the same bundle as a real service, failing where a test asks it to.
class FaultyService final : public VersioningService {
public:
    explicit FaultyService(const VersioningService& real)
        : VersioningService(real.type(), real.id(), real.documentType(), real.teamBundle())
    {
    }

    bool failLoad = false;
    bool failLockHolder = false;
    bool failRevert = false;
    int loads = 0;
    int applicationReads = 0;
    int initiatorQuestions = 0;

    LockHolder lockHolder() const override
    {
        if (failLockHolder)
            throw VersioningError(VersioningError::Case::itemNotFound, name());
        return VersioningService::lockHolder();
    }
    bool isLockedByCurrentInitiator(const IdFor<VersionBundle>& initiator) const override
    {
        ++const_cast<FaultyService*>(this)->initiatorQuestions;
        return VersioningService::isLockedByCurrentInitiator(initiator);
    }
    // The next `loadsToHold` loads read the nested bundles, then wait until `releaseLoads` is set.
    int loadsToHold = 0;
    bool releaseLoads = false;
    QCoro::Task<std::vector<std::shared_ptr<VersioningService>>>
    latestNestedVersioningServices(S3Factory factory) override
    {
        ++loads;
        if (failLoad)
            throw VersioningError(VersioningError::Case::itemNotFound, name());
        const bool held = loadsToHold > 0;
        if (held)
            --loadsToHold;
        auto nested = co_await VersioningService::latestNestedVersioningServices(std::move(factory));
        while (held && !releaseLoads)
            co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        co_return nested;
    }
    QCoro::Task<> revertVersionBundle(IdFor<Versions> versionID, S3Factory factory) override
    {
        if (failRevert)
            throw VersioningError(VersioningError::Case::versionNotFound, name());
        return VersioningService::revertVersionBundle(versionID, std::move(factory));
    }
    // While set, a refresh waits in its lookup of the application, as it does on a slow desktop.
    bool holdApplication = false;
    QCoro::Task<DocumentApplication> documentApplication(S3Factory factory) override
    {
        ++applicationReads;
        while (holdApplication)
            co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        co_return co_await VersioningService::documentApplication(std::move(factory));
    }
};

inline std::shared_ptr<FaultyService> faulty(const Service& real)
{
    return std::make_shared<FaultyService>(*real);
}

inline Service openAs(const std::shared_ptr<TeamBundle>& team, VersioningServiceType type,
                      const IdFor<VersionBundle>& id)
{
    team->poll();
    return syncWait(VersioningService::open(type, id, std::nullopt, std::nullopt, team, nullptr, nullptr, &s3Factory));
}

inline QString writeProject(const TeamFixture& fixture, const QString& folder, const QString& fileName,
                            const QByteArray& content = "project")
{
    const QString path = fixture.scratch(folder) + QLatin1Char('/') + fileName;
    writeFile(path, content);
    return path;
}

// A library package with one event folder per name.
inline QString writeLibrary(const TeamFixture& fixture, const QString& folder, const QString& name,
                            const QStringList& events)
{
    const QString path = fixture.scratch(folder) + QLatin1Char('/') + name + QStringLiteral(".videolibrary");
    writeFile(path + QStringLiteral("/Settings.plist"), "settings");
    for (const QString& event : events)
        writeFile(path + QLatin1Char('/') + event + QStringLiteral(".videoevent/Info.plist"), event.toUtf8());
    return path;
}

template<typename Item>
QStringList namesOf(const QList<std::shared_ptr<Item>>& items)
{
    QStringList names;
    for (const auto& item : items)
        names << item->name();
    return names;
}

inline std::shared_ptr<Collection> newCollection(const std::shared_ptr<TeamBundle>& team, const QString& name)
{
    return syncWait(Collection::create(name, team));
}

inline std::shared_ptr<Document> findDocument(const std::shared_ptr<Collection>& collection, const QString& name)
{
    for (const auto& document : collection->nestedItems()) {
        if (document->name() == name)
            return document;
    }
    return nullptr;
}

} // namespace vantrel::testing
