#pragma once

#include <QList>
#include <QString>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace vantrel {

// The order in which lists show names: code-point order of the canonically composed text. It is
// case-sensitive and ignores the language, so "Zeta" comes before "alpha", and a name written with
// a combining accent sorts with the same name written precomposed.
class NameKey {
public:
    explicit NameKey(const QString& name);
    friend bool operator<(const NameKey& a, const NameKey& b) { return a.m_codePoints < b.m_codePoints; }
    friend bool operator==(const NameKey& a, const NameKey& b) { return a.m_codePoints == b.m_codePoints; }

private:
    QList<uint> m_codePoints;
};

bool precedesByName(const QString& a, const QString& b);

// Sorts `items` by the name `nameOf` gives each, keeping the given order of equal names.
template<typename T, typename NameOf>
QList<T> sortedByName(QList<T> items, NameOf nameOf)
{
    std::vector<std::pair<NameKey, qsizetype>> keys;
    keys.reserve(static_cast<size_t>(items.size()));
    for (qsizetype i = 0; i < items.size(); ++i)
        keys.emplace_back(NameKey(nameOf(items[i])), i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<T> sorted;
    sorted.reserve(items.size());
    for (const auto& key : keys)
        sorted.append(std::move(items[key.second]));
    return sorted;
}

// Items held by pointer, sorted by their name().
template<typename Item>
QList<std::shared_ptr<Item>> sortedByName(QList<std::shared_ptr<Item>> items)
{
    return sortedByName(std::move(items), [](const std::shared_ptr<Item>& item) { return item->name(); });
}

} // namespace vantrel
