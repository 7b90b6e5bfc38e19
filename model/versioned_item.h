#pragma once

#include "engine/activity.h"
#include "engine/document_application.h"
#include "engine/document_type.h"
#include "engine/id_for.h"
#include "engine/s3_service.h"
#include "engine/version_bundle.h"
#include "engine/versioning_service.h"
#include "foundation/cancellable.h"
#include "foundation/error.h"
#include "foundation/publisher.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>

namespace vantrel {

// The storage factory handed to every engine call: it ignores the location and makes a new
// service.
QCoro::Task<std::shared_ptr<S3Service>> s3Factory(S3Location location);

// A failure of the views' own reloads, reported in place of whatever went wrong.
class VersionedItemError : public Error {
public:
    enum class Case { updateViewsFailed };

    explicit VersionedItemError(Case which = Case::updateViewsFailed);
    Case kind() const { return m_case; }

    friend bool operator==(const VersionedItemError&, const VersionedItemError&) { return true; }

protected:
    QString typeName() const override;

private:
    Case m_case;
};

inline size_t qHash(const VersionedItemError&, size_t seed = 0)
{
    return ::qHash(0, seed);
}

// Every item of an open team bundle: a collection, a document or an event. Items are interface
// models: they are made, read and changed on the interface thread, and are held through
// std::shared_ptr (see adoptItem()).
class VersionedItem : public std::enable_shared_from_this<VersionedItem> {
public:
    virtual ~VersionedItem();

    // The item's identity: the id of its bundle.
    IdFor<VersionBundle> id() const { return versioningService()->id(); }
    virtual QString name() const = 0;
    // The icon name of the item's type.
    virtual QString icon() const = 0;
    virtual const DocumentType& documentType() const = 0;
    virtual QDateTime modificationDate() const = 0;
    virtual const std::shared_ptr<VersioningService>& versioningService() const = 0;
    // The interface object that publishes the item's changes.
    virtual QObject* object() = 0;

    // Makes `versionID` the current version, then refreshes the item. A failed revert leaves the
    // item as it was.
    QCoro::Task<> revert(IdFor<Versions> versionID);
    // Brings the item's published state up to date from the engine.
    virtual QCoro::Task<> refresh() = 0;
    // Renames the bundle. The item shows the new name when the engine reports the change.
    QCoro::Task<> rename(QString name);
    // Writes `version` (the current one when absent) into the folder `destination`; returns the
    // path of what was written.
    QCoro::Task<QString> exportVersion(std::optional<IdFor<Versions>> version, QString destination);
    // The item's timeline, newest first; the current one at once, then after every change.
    AnyPublisher<QList<ActivityInfo>> activitiesPublisher() const;

    // A property of the item's document type, e.g. documentTypeValue(&DocumentType::allowsNesting).
    template<typename F>
    auto documentTypeValue(F&& property) const
    {
        return std::invoke(std::forward<F>(property), documentType());
    }
};

// An item that lives in a container: a document in a collection, an event in a library.
class NestableItem : public virtual VersionedItem {
public:
    // The container the item was loaded from.
    virtual const std::optional<IdFor<VersionBundle>>& containerID() const = 0;
    // The containers in which the item is active and visible.
    virtual QList<VersionBundle::Info> visibleActiveContainers() const = 0;

    // Whether a container other than the one the item was loaded from shows it too; an item that
    // knows no container of its own counts every container as another. Removing an item and the
    // title of its menu item both decide by this, so that they always agree.
    bool isUsedInOtherContainers() const;
    // The names of the containers showing the item, sorted, joined with ", ".
    QString usedInContainerNames() const;
};

// An item with a lock.
class Lockable {
public:
    virtual ~Lockable();
    virtual bool allowsChanges() const = 0;
    virtual bool isLocked() const = 0;
    virtual QString lockedByUser() const = 0;
    virtual QString lockedByHostName() const = 0;
    virtual bool lockedByCurrentInitiator() const = 0;
};

// An item made with a creative application whose version matters.
class AppVersionAware {
public:
    virtual ~AppVersionAware();
    virtual DocumentApplication application() const = 0;
    virtual const std::shared_ptr<VersioningService>& versioningService() const = 0;

    // The version of the application that wrote `versionID`, when it differs from the version
    // installed here; absent when they match or the version's record cannot be read.
    std::optional<QString> differingAppVersion(const IdFor<Versions>& versionID) const;
};

// An item that users check out and in.
class InitiatingItem : public virtual AppVersionAware, public virtual VersionedItem {
public:
    virtual bool isCheckedOut() const = 0;
};

// An item that holds nested items, whatever their type: a collection or a library document.
class AnyContainerItem : public virtual VersionedItem {
public:
    virtual bool isLoadingNestedItems() const = 0;
    virtual void setIsLoadingNestedItems(bool loading) = 0;

    // Brings the nested items up to the container's current nested bundles: the items still
    // nested keep their objects, with their fields read again.
    virtual QCoro::Task<> loadNestedItems() = 0;
    // Nests the existing bundle `id` in this container and lists it.
    virtual QCoro::Task<> addExistingNestedItem(IdFor<VersionBundle> id) = 0;
    // Imports the file or package at `source` as a new bundle nested in this container.
    virtual QCoro::Task<> createNestedItem(QString source) = 0;

    // Loads of the nested items are numbered as they start, so that one ending after a later
    // one has been shown is not shown over it.
    quint64 startNestedLoad() { return ++m_nestedLoadsStarted; }
    // Whether the load numbered `load` may show its result (and so marks it shown).
    bool showNestedLoad(quint64 load)
    {
        if (load < m_nestedLoadShown)
            return false;
        m_nestedLoadShown = load;
        return true;
    }

private:
    quint64 m_nestedLoadsStarted = 0;
    quint64 m_nestedLoadShown = 0;
};

// An item that holds nested items of type `Nested`.
template<typename Nested>
class ContainerItem : public AnyContainerItem {
public:
    using NestedItem = Nested;

    virtual QList<std::shared_ptr<Nested>> nestedItems() const = 0;
    virtual void setNestedItems(QList<std::shared_ptr<Nested>> items) = 0;
    // The nested item last selected in this container, while somebody else holds it.
    virtual std::shared_ptr<Nested> selectedItem() const = 0;
    virtual void setSelectedItem(const std::shared_ptr<Nested>& item) = 0;
};

// The list without every element whose id already occurred earlier in it.
template<typename Item>
QList<std::shared_ptr<Item>> uniquedByID(const QList<std::shared_ptr<Item>>& items)
{
    QList<std::shared_ptr<Item>> unique;
    QSet<IdFor<VersionBundle>> seen;
    for (const auto& item : items) {
        if (!seen.contains(item->id())) {
            seen.insert(item->id());
            unique.append(item);
        }
    }
    return unique;
}

// Two lists of items are equal when they have the same length and equal items at each position.
template<typename Item>
bool equalItems(const QList<std::shared_ptr<Item>>& a, const QList<std::shared_ptr<Item>>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && !(*a[i] == *b[i]))
            return false;
    }
    return true;
}

// Takes ownership of a newly made interface model. The last owner may let go of it on any thread
// (an engine thread that was delivering a change); the object is then deleted on its own thread.
template<typename T>
std::shared_ptr<T> adoptItem(T* object)
{
    return std::shared_ptr<T>(object, [](T* item) {
        if (QThread::currentThread() == item->thread())
            delete item;
        else
            item->deleteLater();
    });
}

// Starts one task on the interface thread for an item's change handler; its failures are dropped:
// the next change tries again.
void startItemRefresh(std::function<QCoro::Task<>()> operation);

// Calls `changed` for every change of the item's timeline after the subscription. (The timeline
// as it is when subscribing is not a change: whoever makes the item reads what it needs.)
Cancellable sinkTimelineChanges(const VersioningService& service, std::function<void()> changed);

} // namespace vantrel
