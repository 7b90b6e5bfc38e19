#pragma once

#include "engine/id_for.h"
#include "foundation/observable_object.h"
#include "model/collection.h"

#include <QCoroTask>

#include <memory>

namespace vantrel {

class TeamBundle;

// Every collection of one open team bundle, sorted by name.
class Collections final : public ObservableObject {
    Q_OBJECT
public:
    explicit Collections(std::shared_ptr<TeamBundle> teamBundle, QObject* parent = nullptr);
    ~Collections() override;

    QList<std::shared_ptr<Collection>> all() const { return m_all(); }
    void setAll(QList<std::shared_ptr<Collection>> collections, bool animated = false);
    // Whether the last change of all() asked to be shown animated (a reload does).
    bool lastChangeAnimated() const { return m_lastChangeAnimated; }
    const std::shared_ptr<TeamBundle>& teamBundle() const { return m_teamBundle; }

    // Rebuilds the list from the bundle's index, with new objects for every collection. A failure
    // leaves the list as it was.
    QCoro::Task<> reload();
    // Reloads, then loads the documents of the collection `collectionID` and their events.
    QCoro::Task<> update(IdFor<VersionBundle> collectionID);
    // Creates a new collection and lists it.
    QCoro::Task<> create(QString name);
    // Moves the collection to the trash and takes it out of the list.
    QCoro::Task<> deleteCollection(std::shared_ptr<Collection> collection);

Q_SIGNALS:
    void allChanged();

private:
    Published<QList<std::shared_ptr<Collection>>> m_all{this, &Collections::allChanged};
    std::shared_ptr<TeamBundle> m_teamBundle;
    bool m_lastChangeAnimated = false;
};

} // namespace vantrel
