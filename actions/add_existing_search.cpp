#include "actions/add_existing_search.h"

#include "model/name_order.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace vantrel {

namespace {

// The user-perceived characters of `text`, each in its composed form so that canonically
// equivalent characters compare equal.
QStringList characters(const QString& text)
{
    QStringList result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        if (end > start)
            result.append(text.mid(start, end - start).normalized(QString::NormalizationForm_C));
        start = end;
    }
    return result;
}

// ASCII without a carriage return, which would join a following line feed into one character.
bool isPlainAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80 || c == u'\r')
            return false;
    }
    return true;
}

QChar asciiLower(QChar c)
{
    return c >= u'A' && c <= u'Z' ? QChar(c.unicode() + (u'a' - u'A')) : c;
}

} // namespace

size_t qHash(const RankedItem& ranked, size_t seed)
{
    return qHashMulti(seed, ranked.item.id(), ranked.ranking);
}

QString toRawValue(SortingOptions options)
{
    switch (options) {
    case SortingOptions::ascending:
        return QStringLiteral("ascending");
    case SortingOptions::descending:
        return QStringLiteral("descending");
    }
    return {};
}

template<>
std::optional<SortingOptions> fromRawValue<SortingOptions>(const QString& raw)
{
    for (const SortingOptions options : allCases<SortingOptions>()) {
        if (toRawValue(options) == raw)
            return options;
    }
    return std::nullopt;
}

template<>
QList<SortingOptions> allCases<SortingOptions>()
{
    return {SortingOptions::ascending, SortingOptions::descending};
}

bool matches(const QString& entry, const QString& name)
{
    return SearchPattern(entry).matches(name);
}

SearchPattern::SearchPattern(const QString& entry) : m_wanted(characters(entry.toLower())) {}

bool SearchPattern::matches(const QString& name) const
{
    if (m_wanted.isEmpty())
        return true;
    qsizetype cursor = 0;
    // Greedy: each character of the name is compared with the first entry character not yet found.
    if (isPlainAscii(name)) {
        // Most names: each character stands alone and is its own composed form, so the
        // characters need not be taken apart.
        for (const QChar c : name) {
            const QString& next = m_wanted[cursor];
            if (next.size() == 1 && next.front() == asciiLower(c) && ++cursor == m_wanted.size())
                return true;
        }
        return false;
    }
    for (const QString& character : characters(name.toLower())) {
        if (character == m_wanted[cursor] && ++cursor == m_wanted.size())
            return true;
    }
    return false;
}

bool isTrashMode(IndexingOptions options)
{
    return options.rawValue() == IndexingOptions::trash().rawValue();
}

const QList<VersionBundle::Info>& searchedContainers(const VersionBundle::Summary& summary, IndexingOptions options)
{
    return isTrashMode(options) ? summary.activeContainers : summary.activeContainersExcludingTrash;
}

std::optional<RankedItem> rank(const VersionBundle::Summary& summary, const QString& searchEntry,
                               IndexingOptions options)
{
    return rank(summary, SearchPattern(searchEntry), options);
}

std::optional<RankedItem> rank(const VersionBundle::Summary& summary, const SearchPattern& searchEntry,
                               IndexingOptions options)
{
    const bool ownNameMatches = searchEntry.matches(summary.name());
    for (const auto& container : searchedContainers(summary, options)) {
        if (searchEntry.matches(container.name))
            return RankedItem{summary, ownNameMatches ? 3 : 1};
    }
    if (ownNameMatches)
        return RankedItem{summary, 2};
    return std::nullopt;
}

QList<RankedItem> rankedItems(const QList<VersionBundle::Summary>& items, const QString& searchEntry,
                              IndexingOptions options)
{
    QList<RankedItem> ranked;
    if (searchEntry.isEmpty()) {
        for (const auto& item : items)
            ranked.append(RankedItem{item, 0});
        return ranked;
    }
    const SearchPattern pattern(searchEntry);
    for (const auto& item : items) {
        if (auto hit = rank(item, pattern, options))
            ranked.append(std::move(*hit));
    }
    return ranked;
}

QList<CategorizedSearchResult> categorizedResults(const QList<RankedItem>& ranked, SortingOptions sorting)
{
    // The map keeps the groups in category order; each group keeps the order of `ranked`.
    std::map<DocumentTypeCategory, std::vector<std::pair<NameKey, RankedItem>>> groups;
    for (const auto& item : ranked)
        groups[category(item.item.documentType())].emplace_back(NameKey(item.item.name()), item);

    const bool ascending = sorting == SortingOptions::ascending;
    const auto before = [ascending](const std::pair<NameKey, RankedItem>& a, const std::pair<NameKey, RankedItem>& b) {
        if (a.second.ranking != b.second.ranking)
            return a.second.ranking > b.second.ranking;
        return ascending ? a.first < b.first : b.first < a.first;
    };

    QList<CategorizedSearchResult> results;
    for (auto& [group, entries] : groups) {
        std::stable_sort(entries.begin(), entries.end(), before);
        CategorizedSearchResult result{group, {}};
        result.items.reserve(static_cast<qsizetype>(entries.size()));
        for (auto& entry : entries)
            result.items.append(std::move(entry.second));
        results.append(std::move(result));
    }
    return results;
}

} // namespace vantrel
