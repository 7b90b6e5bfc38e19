#pragma once

#include "actions/add_existing_search.h"
#include "actions/indexing_options.h"
#include "engine/document_type.h"
#include "engine/version_bundle.h"
#include "foundation/observable_object.h"
#include "model/versioned_item.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vantrel {

// How many bundles of one type a container takes: at most `limit`, of which it holds
// `currentItems` already.
struct ItemAcceptanceCriteria {
    int limit = 0;
    int currentItems = 0;

    friend bool operator==(const ItemAcceptanceCriteria&, const ItemAcceptanceCriteria&) = default;
};

// The picker that adds bundles already in the team bundle to a container: documents to a
// collection, events to a library. It lists the candidates of the index, finds them by name and
// adds the ones the user selects.
class AddExistingVersionBundle : public ObservableObject {
    Q_OBJECT
public:
    using Summary = VersionBundle::Summary;
    // Reads the team bundle's index for the given options; throws the engine's error.
    using IndexProvider = std::function<VersionBundlesIndex(IndexingOptions)>;
    // Which list of the index holds the candidates.
    using ItemsKeyPath = SummaryList VersionBundlesIndex::*;
    using AcceptanceCriteria = QHash<DocumentType, ItemAcceptanceCriteria>;

    // `itemsKeyPath` is &VersionBundlesIndex::events for a library document and
    // &VersionBundlesIndex::documents for a collection.
    AddExistingVersionBundle(std::shared_ptr<AnyContainerItem> container, IndexProvider versionBundlesIndex,
                             ItemsKeyPath itemsKeyPath, AcceptanceCriteria acceptanceCriteria,
                             QObject* parent = nullptr);
    ~AddExistingVersionBundle() override;

    // The container the picked bundles go to.
    const std::shared_ptr<AnyContainerItem>& container() const { return m_container; }
    // The index read by the last successful reload; empty before it.
    const VersionBundlesIndex& index() const { return m_index; }
    ItemsKeyPath itemsKeyPath() const { return m_itemsKeyPath; }
    const AcceptanceCriteria& acceptanceCriteria() const { return m_acceptanceCriteria; }

    IndexingOptions indexingOptions() const { return m_indexingOptions(); }
    void setIndexingOptions(IndexingOptions options) { m_indexingOptions = options; }
    QSet<Summary> selection() const { return m_selection(); }
    void setSelection(QSet<Summary> selection) { m_selection = std::move(selection); }
    // The candidates: the bundles of the index not yet in the container.
    QList<Summary> items() const { return m_items(); }
    void setItems(QList<Summary> items) { m_items = std::move(items); }
    SortingOptions sortingOptions() const { return m_sortingOptions(); }
    void setSortingOptions(SortingOptions options) { m_sortingOptions = options; }
    QString searchEntry() const { return m_searchEntry(); }
    void setSearchEntry(QString entry) { m_searchEntry = std::move(entry); }
    // Whether the candidates are being read; true until the first reload ends.
    bool loading() const { return m_loading(); }
    void setLoading(bool loading) { m_loading = loading; }

    // The candidates matching the search entry, in the order of items().
    QList<RankedItem> rankedItems() const;
    // The matching candidates under their headings, in the chosen order.
    QList<CategorizedSearchResult> categorizedResults() const;
    std::optional<RankedItem> rank(const Summary& summary) const;
    static bool matches(const QString& entry, const QString& name);

    // Reads the index again and lists its candidates, with nothing selected. When the index cannot
    // be read the error is rethrown and the candidates and the selection stay as they were.
    void reload();
    // How the picker reads the index; for reading it away from the interface thread.
    const IndexProvider& indexProvider() const { return m_versionBundlesIndex; }
    // What reload() does once `fresh` is read for the current options: lists its candidates,
    // selects nothing and ends the loading.
    void showIndex(VersionBundlesIndex fresh);

    // The selection in the order the list shows it: by categorizedResults(), then the selected
    // bundles the search entry hides, in the order of items().
    QList<Summary> selectionInDisplayOrder() const;

    // The containers already using the selected bundles, each once, sorted by name. A container
    // the index does not list is given as a placeholder.
    QList<Summary> selectedItems() const;

    // Appended to the picker's title: names the trash when the picker lists it.
    QString titleSuffix() const;
    // What the list shows when there is nothing in it.
    QString emptyMessage() const;

    // Whether the selection holds more bundles of `type` than the container takes.
    bool exceedsLimit(const DocumentType& type) const;
    // Whether any type of the selection exceeds its limit.
    bool exceedsAcceptanceLimit() const;
    // Names the first selected type that exceeds its limit; absent when none does.
    std::optional<QString> limitMessage() const;

    // Adds the selected bundles to the container one after the other, in display order. The first failure ends it;
    // the ones added before it stay.
    QCoro::Task<> add() const;

Q_SIGNALS:
    void indexingOptionsChanged();
    void selectionChanged();
    void itemsChanged();
    void sortingOptionsChanged();
    void searchEntryChanged();
    void loadingChanged();

private:
    const QList<VersionBundle::Info>& containersOf(const Summary& summary) const;

    const std::shared_ptr<AnyContainerItem> m_container;
    VersionBundlesIndex m_index;
    IndexProvider m_versionBundlesIndex;
    Published<IndexingOptions> m_indexingOptions{this, &AddExistingVersionBundle::indexingOptionsChanged,
                                                 IndexingOptions::all()};
    ItemsKeyPath m_itemsKeyPath;
    Published<QSet<Summary>> m_selection{this, &AddExistingVersionBundle::selectionChanged};
    Published<QList<Summary>> m_items{this, &AddExistingVersionBundle::itemsChanged};
    Published<SortingOptions> m_sortingOptions{this, &AddExistingVersionBundle::sortingOptionsChanged,
                                               SortingOptions::ascending};
    Published<QString> m_searchEntry{this, &AddExistingVersionBundle::searchEntryChanged};
    const AcceptanceCriteria m_acceptanceCriteria;
    Published<bool> m_loading{this, &AddExistingVersionBundle::loadingChanged, true};
};

} // namespace vantrel
