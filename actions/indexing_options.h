#pragma once

#include <QHashFunctions>

#include <initializer_list>

namespace vantrel {

// Which bundles an index lists: a set of option bits.
class IndexingOptions {
public:
    constexpr IndexingOptions() = default;
    constexpr explicit IndexingOptions(int rawValue) : m_rawValue(rawValue) {}
    constexpr IndexingOptions(std::initializer_list<IndexingOptions> options)
    {
        for (const auto option : options)
            m_rawValue |= option.m_rawValue;
    }

    // The bundles that are not in the trash.
    static constexpr IndexingOptions all() { return IndexingOptions(1); }
    // The bundles in the trash.
    static constexpr IndexingOptions trash() { return IndexingOptions(2); }

    constexpr int rawValue() const { return m_rawValue; }
    constexpr bool isEmpty() const { return m_rawValue == 0; }
    constexpr bool contains(IndexingOptions member) const
    {
        return (m_rawValue & member.m_rawValue) == member.m_rawValue;
    }
    constexpr bool isSubset(IndexingOptions of) const { return of.contains(*this); }
    constexpr bool isSuperset(IndexingOptions of) const { return contains(of); }
    constexpr bool isDisjoint(IndexingOptions with) const { return (m_rawValue & with.m_rawValue) == 0; }

    constexpr IndexingOptions united(IndexingOptions other) const
    {
        return IndexingOptions(m_rawValue | other.m_rawValue);
    }
    constexpr IndexingOptions intersected(IndexingOptions other) const
    {
        return IndexingOptions(m_rawValue & other.m_rawValue);
    }
    constexpr IndexingOptions symmetricDifference(IndexingOptions other) const
    {
        return IndexingOptions(m_rawValue ^ other.m_rawValue);
    }
    constexpr IndexingOptions subtracting(IndexingOptions other) const
    {
        return IndexingOptions(m_rawValue & ~other.m_rawValue);
    }
    constexpr void insert(IndexingOptions member) { m_rawValue |= member.m_rawValue; }
    constexpr void remove(IndexingOptions member) { m_rawValue &= ~member.m_rawValue; }

    friend constexpr bool operator==(IndexingOptions a, IndexingOptions b) { return a.m_rawValue == b.m_rawValue; }

private:
    int m_rawValue = 0;
};

inline size_t qHash(IndexingOptions options, size_t seed = 0)
{
    return ::qHash(options.rawValue(), seed);
}

} // namespace vantrel
