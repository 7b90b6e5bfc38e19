#pragma once

// How the add-existing picker finds and orders its candidates: a typed entry picks the bundles
// whose name, or the name of a container using them, holds the entry's characters in order.

#include "actions/indexing_options.h"
#include "engine/version_bundle.h"
#include "model/document_category.h"

#include <QHashFunctions>
#include <QList>
#include <QString>

#include <optional>

namespace vantrel {

// A candidate and how well it matches the search entry:
//   3  its own name and the name of one of its containers match
//   2  only its own name matches
//   1  only the name of one of its containers matches
//   0  there is no entry; every candidate is listed
struct RankedItem {
    VersionBundle::Summary item;
    int ranking = 0;

    // The same bundle with the same ranking.
    friend bool operator==(const RankedItem& a, const RankedItem& b)
    {
        return a.item.id() == b.item.id() && a.ranking == b.ranking;
    }
};

size_t qHash(const RankedItem& ranked, size_t seed = 0);

// The candidates shown under one heading.
struct CategorizedSearchResult {
    DocumentTypeCategory category;
    QList<RankedItem> items;
};

// The direction in which candidates of equal ranking are ordered by name.
enum class SortingOptions { ascending, descending };

// The stored form of a value: "ascending" or "descending".
QString toRawValue(SortingOptions options);

// The value stored as `raw`; absent for text that names none.
template<typename T>
std::optional<T> fromRawValue(const QString& raw);
template<>
std::optional<SortingOptions> fromRawValue<SortingOptions>(const QString& raw);

// Every value, in declaration order.
template<typename T>
QList<T> allCases();
template<>
QList<SortingOptions> allCases<SortingOptions>();

// Whether the characters of `entry` occur in `name` in the same order, ignoring case. Characters
// are what a reader sees as one (a letter with its accents, an emoji sequence) and are equal when
// canonically equivalent. An empty entry matches every name.
bool matches(const QString& entry, const QString& name);

// An entry taken apart once, for matching it against many names as matches() does.
class SearchPattern {
public:
    explicit SearchPattern(const QString& entry);
    bool isEmpty() const { return m_wanted.isEmpty(); }
    bool matches(const QString& name) const;

private:
    QStringList m_wanted;
};

// Whether `options` asks for the trash, and only for it.
bool isTrashMode(IndexingOptions options);

// The containers a search looks at for `summary`: every one in trash mode, else those not in the
// trash.
const QList<VersionBundle::Info>& searchedContainers(const VersionBundle::Summary& summary, IndexingOptions options);

// How well `summary` matches `searchEntry`; absent when neither its name nor the name of one of
// its containers does.
std::optional<RankedItem> rank(const VersionBundle::Summary& summary, const QString& searchEntry,
                               IndexingOptions options);
std::optional<RankedItem> rank(const VersionBundle::Summary& summary, const SearchPattern& searchEntry,
                               IndexingOptions options);

// The candidates matching `searchEntry`, in the order of `items`. Without any entry every item is
// listed, ranked 0.
QList<RankedItem> rankedItems(const QList<VersionBundle::Summary>& items, const QString& searchEntry,
                              IndexingOptions options);

// `ranked` grouped by the category of each item's type, the groups in category order. In a group
// higher rankings come first, then names in the `sorting` direction; equal ones keep their order.
QList<CategorizedSearchResult> categorizedResults(const QList<RankedItem>& ranked, SortingOptions sorting);

} // namespace vantrel
