#pragma once

#include "foundation/cancellable.h"
#include "foundation/observable_object.h"
#include "model/document.h"
#include "model/versioned_item.h"

namespace vantrel {

class TeamBundle;

// A collection of the open team bundle, with its documents.
class Collection final : public ObservableObject, public ContainerItem<Document> {
    Q_OBJECT
public:
    // The existing collection `id` of `teamBundle`.
    static QCoro::Task<std::shared_ptr<Collection>> open(IdFor<VersionBundle> id,
                                                         std::shared_ptr<TeamBundle> teamBundle);
    // A new, empty collection in `teamBundle`.
    static QCoro::Task<std::shared_ptr<Collection>> create(QString collectionName,
                                                           std::shared_ptr<TeamBundle> teamBundle);
    ~Collection() override;

    QString name() const override { return m_name(); }
    QString icon() const override { return m_icon; }
    const DocumentType& documentType() const override { return m_documentType; }
    QDateTime modificationDate() const override { return m_modificationDate; }
    const std::shared_ptr<VersioningService>& versioningService() const override { return m_versioningService; }
    QObject* object() override { return this; }

    QList<std::shared_ptr<Document>> nestedItems() const override { return m_nestedItems(); }
    void setNestedItems(QList<std::shared_ptr<Document>> items) override { m_nestedItems = std::move(items); }
    std::shared_ptr<Document> selectedItem() const override { return m_selectedItem.lock(); }
    void setSelectedItem(const std::shared_ptr<Document>& item) override { m_selectedItem = item; }
    bool isLoadingNestedItems() const override { return m_isLoadingNestedItems(); }
    void setIsLoadingNestedItems(bool loading) override { m_isLoadingNestedItems = loading; }

    // Rereads the name and the modification date.
    void updateState();
    // The name, then the documents.
    QCoro::Task<> refresh() override;
    QCoro::Task<> loadNestedItems() override;
    QCoro::Task<> addExistingNestedItem(IdFor<VersionBundle> id) override;
    QCoro::Task<> createNestedItem(QString source) override;

    friend bool operator==(const Collection& a, const Collection& b);

Q_SIGNALS:
    void nameChanged();
    void nestedItemsChanged();
    void isLoadingNestedItemsChanged();

private:
    Collection(std::shared_ptr<VersioningService> service, std::optional<QString> name);
    static std::shared_ptr<Collection> make(std::shared_ptr<VersioningService> service, std::optional<QString> name);
    std::shared_ptr<Collection> self();
    void subscribe(const std::shared_ptr<Collection>& self);
    static QCoro::Task<> handleRemoteChange(std::weak_ptr<Collection> weak);
    static QCoro::Task<> handleActivitiesChange(std::weak_ptr<Collection> weak);
    void refreshSelectedLockState();

    std::shared_ptr<VersioningService> m_versioningService;
    DocumentType m_documentType;
    QDateTime m_modificationDate;
    Published<QString> m_name{this, &Collection::nameChanged};
    QString m_icon;
    Published<QList<std::shared_ptr<Document>>> m_nestedItems{this, &Collection::nestedItemsChanged};
    std::weak_ptr<Document> m_selectedItem;
    Published<bool> m_isLoadingNestedItems{this, &Collection::isLoadingNestedItemsChanged, true};
    Cancellable m_cancelOnRemoteDatabaseChange;
    Cancellable m_cancelOnActivitiesChange;
};

} // namespace vantrel
