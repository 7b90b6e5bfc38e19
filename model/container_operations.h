#pragma once

// The operations shared by the items that hold other items (a collection holds documents, a
// library document holds events), written once over ContainerItem.

#include "engine/engine_errors.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "foundation/worker.h"
#include "model/document_category.h"
#include "model/name_order.h"
#include "model/versioned_item.h"

#include <QHash>

#include <algorithm>
#include <map>
#include <memory>
#include <type_traits>
#include <vector>

namespace vantrel {

// The commit message of the first version of every item created in a container.
inline const QString initialCommitMessage = QStringLiteral("Initial Commit");

// The items of one category, in the order lists show them.
template<typename Item>
struct CategoryGroup {
    DocumentTypeCategory category;
    QList<std::shared_ptr<Item>> items;
};

namespace container_detail {

// The kind of service the container's nested bundles are served by.
inline VersioningServiceType nestedKind(const VersioningService& service)
{
    const auto kind = service.nestedType();
    if (!kind)
        throw VersioningError(VersioningError::Case::wrongKind, service.name());
    return *kind;
}

// How many new items start following their changes at once, and one worker task reads the
// applications of.
inline constexpr qsizetype applicationBatch = 256;

// Has `items` follow their changes and reads their applications off the interface thread, a
// batch at a time (one worker task per batch), so that a long list is shown before all of it
// follows. Each item reads its state again once it follows, so that no change made since the
// load read it is missed. An item whose application cannot be read keeps the one it had.
template<typename Item>
QCoro::Task<> followAndReadApplications(QList<std::shared_ptr<Item>> items)
{
    for (qsizetype start = 0; start < items.size(); start += applicationBatch) {
        std::vector<std::shared_ptr<VersioningService>> services;
        for (qsizetype i = start; i < std::min(items.size(), start + applicationBatch); ++i) {
            items[i]->startFollowing();
            try {
                items[i]->readState();
            } catch (...) {
                // Its next change reads it again.
            }
            services.push_back(items[i]->versioningService());
        }
        auto read = [services] {
            std::vector<std::optional<DocumentApplication>> applications;
            applications.reserve(services.size());
            for (const auto& service : services) {
                try {
                    applications.emplace_back(service->currentDocumentApplication());
                } catch (...) {
                    applications.emplace_back(std::nullopt);
                }
            }
            return applications;
        };
        const auto applications = co_await onWorker(std::move(read));
        for (std::size_t i = 0; i < applications.size(); ++i) {
            if (applications[i])
                items[start + static_cast<qsizetype>(i)]->setApplication(*applications[i]);
        }
    }
}

// Brings the container's nested items up to its current nested bundles, sorted by name: an item
// still nested keeps its object, its fields read again; new bundles get new objects, which
// start following their changes and have their applications read afterwards, in batches. A
// failure leaves the list as it was, and so does a load that ends after a later one was shown;
// the loading flag is cleared in every case.
template<typename Container>
QCoro::Task<> loadNestedItems(std::shared_ptr<Container> container)
{
    using Nested = typename Container::NestedItem;
    if (!container->documentType().allowsNesting()) {
        container->setIsLoadingNestedItems(false);
        co_return;
    }
    const auto service = container->versioningService();
    const quint64 load = container->startNestedLoad();
    std::vector<std::shared_ptr<VersioningService>> services;
    try {
        services = co_await service->latestNestedVersioningServices(&s3Factory);
    } catch (...) {
        container->setIsLoadingNestedItems(false);
        throw;
    }
    if (!container->showNestedLoad(load)) {
        container->setIsLoadingNestedItems(false);
        co_return;
    }
    QHash<IdFor<VersionBundle>, std::shared_ptr<Nested>> listed;
    for (const auto& item : container->nestedItems())
        listed.insert(item->id(), item);
    QList<std::shared_ptr<Nested>> items;
    QList<std::shared_ptr<Nested>> added;
    items.reserve(static_cast<qsizetype>(services.size()));
    try {
        const std::optional<IdFor<VersionBundle>> containerID = container->id();
        for (const auto& nestedService : services) {
            if (auto kept = listed.value(nestedService->id())) {
                kept->readLoadedState();
                items.append(std::move(kept));
            } else {
                added.append(Nested::createListed(nestedService, containerID));
                items.append(added.last());
            }
        }
    } catch (...) {
        container->setIsLoadingNestedItems(false);
        throw;
    }
    container->setNestedItems(sortedByName(std::move(items)));
    container->setIsLoadingNestedItems(false);
    if (!added.isEmpty())
        startItemRefresh([added] { return followAndReadApplications(added); });
}

// Lists a bundle the engine has just nested in the container, after the items already listed.
// A reload that ended in the meantime may list it already: that object stays, so that the
// bundle is never listed twice nor its object changed under a selection.
template<typename Container>
void insertNestedItem(Container& container, const std::shared_ptr<VersioningService>& service)
{
    using Nested = typename Container::NestedItem;
    auto items = container.nestedItems();
    const auto id = service->id();
    if (std::any_of(items.begin(), items.end(),
                    [&id](const std::shared_ptr<Nested>& listed) { return listed->id() == id; }))
        return;
    items.append(Nested::create(service, std::optional<IdFor<VersionBundle>>(container.id())));
    container.setNestedItems(sortedByName(std::move(items)));
}

template<typename Container>
QCoro::Task<> addExistingNestedItem(std::shared_ptr<Container> container, IdFor<VersionBundle> id)
{
    const auto service = container->versioningService();
    const auto team = service->teamBundle();
    const auto nested =
        co_await VersioningService::open(nestedKind(*service), id, std::nullopt, std::nullopt, team,
                                         team->sharedFileManager(), team->sharedWorkspace(), &s3Factory);
    co_await service->addNestedVersionBundle(nested, QString(), &s3Factory);
    insertNestedItem(*container, nested);
}

// Refuses, before anything is written, a file whose type the container cannot hold.
template<typename Container>
QCoro::Task<> createNestedItem(std::shared_ptr<Container> container, QString source)
{
    // A folder chosen as one document may come with a trailing separator ("Show.videolibrary/"):
    // its name, and so its type, is the last component without it.
    while (source.size() > 1 && source.endsWith(QLatin1Char('/')))
        source.chop(1);
    const auto service = container->versioningService();
    const auto type = DocumentType::forPath(source);
    const auto& containerType = container->documentType();
    if (!containerType.canNest(type))
        throw TurfNestingError(type.description(), containerType.description());
    const auto kind = nestedKind(*service);
    const auto team = service->teamBundle();
    const auto created = co_await VersioningService::import(kind, source, std::nullopt, std::nullopt, std::nullopt,
                                                            initialCommitMessage, DocumentApplication::none(), team,
                                                            team->sharedFileManager(), team->sharedWorkspace());
    co_await service->addNestedVersionBundle(created, QString(), &s3Factory);
    insertNestedItem(*container, created);
}

template<typename T, typename = void>
struct IsContainer : std::false_type {
};
template<typename T>
struct IsContainer<T, std::void_t<typename T::NestedItem>> : std::true_type {
};

} // namespace container_detail

// Loads the container's nested items, then, one after the other, theirs: for a collection its
// documents and then the events of each document. The first failure ends the walk.
template<typename Container>
QCoro::Task<> loadAllNestedItems(std::shared_ptr<Container> container)
{
    co_await container->loadNestedItems();
    using Nested = typename Container::NestedItem;
    if constexpr (container_detail::IsContainer<Nested>::value) {
        const auto items = container->nestedItems();
        for (const auto& item : items)
            co_await loadAllNestedItems(item);
    }
}

// The container's nested items grouped by category, the groups and the items in each in the
// order lists show them. Categories without items have no group.
template<typename Container>
QList<CategoryGroup<typename Container::NestedItem>> groupedByCategory(const Container& container)
{
    using Nested = typename Container::NestedItem;
    std::map<DocumentTypeCategory, QList<std::shared_ptr<Nested>>> groups;
    for (const auto& item : container.nestedItems())
        groups[category(item->documentType())].append(item);
    QList<CategoryGroup<Nested>> result;
    for (auto& [key, items] : groups)
        result.append(CategoryGroup<Nested>{key, sortedByName(std::move(items))});
    return result;
}

} // namespace vantrel
