#pragma once

#include "engine/id_for.h"
#include "foundation/observable_object.h"
#include "model/collection.h"

#include <QCoroTask>
#include <QHash>

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

    // Brings the list up to the bundle's index: the collections still there keep their objects,
    // with their fields read again; new ones are added and gone ones taken out. A failure leaves
    // the list as it was, and so does a reload that ends after a later one.
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
    QHash<IdFor<VersionBundle>, std::shared_ptr<Collection>> listedByID() const;

    Published<QList<std::shared_ptr<Collection>>> m_all{this, &Collections::allChanged};
    std::shared_ptr<TeamBundle> m_teamBundle;
    bool m_lastChangeAnimated = false;
    quint64 m_reloadsStarted = 0;
    quint64 m_reloadApplied = 0;
    // Collections created or deleted here, outside a reload.
    quint64 m_edits = 0;
};

} // namespace vantrel
