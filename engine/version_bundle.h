#pragma once

#include "engine/document_type.h"
#include "engine/id_for.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <algorithm>
#include <iterator>
#include <optional>

namespace vantrel {

// A versioned bundle of the team bundle: a collection, a document or an event. This class
// only names the values that describe bundles in lists.
class VersionBundle {
public:
    // What lists show of a bundle.
    struct Info {
        IdFor<VersionBundle> id = IdFor<VersionBundle>(QUuid());
        QString name;
        DocumentType documentType = DocumentType::collection();
        QDateTime modificationDate;
        bool isTrashed = false;

        friend bool operator==(const Info&, const Info&) = default;
    };

    // A bundle in an index, with the containers it is used in.
    struct Summary {
        // The team bundle's folder (one string shared by every summary of an index); empty for
        // a stand-in.
        QString teamPath;
        Info info;
        QList<Info> activeContainers;               // every container using it, trashed ones included
        QList<Info> activeContainersExcludingTrash; // the containers that are not in the trash

        // A stand-in for a container that is missing from an index.
        static Summary placeholder(const Info& info) { return Summary{QString(), info, {}, {}}; }

        // Where the bundle is kept, for its icon; empty for a stand-in.
        QString url() const
        {
            return teamPath.isEmpty() ? QString() : teamPath + QStringLiteral("/bundles/") + info.id.toString();
        }
        const IdFor<VersionBundle>& id() const { return info.id; }
        const QString& name() const { return info.name; }
        const DocumentType& documentType() const { return info.documentType; }
        const QDateTime& modificationDate() const { return info.modificationDate; }
        bool isTrashed() const { return info.isTrashed; }

        friend bool operator==(const Summary&, const Summary&) = default;
        friend size_t qHash(const Summary& summary, size_t seed = 0) { return qHash(summary.info.id, seed); }
    };
};

// The summaries of one kind of an index, in the index's order: positions in the index's `all`,
// which the list shares rather than copying what it lists. Read-only; it stays as it is when the
// index's `all` is changed afterwards.
class SummaryList {
public:
    using value_type = VersionBundle::Summary;

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = VersionBundle::Summary;
        using difference_type = std::ptrdiff_t;
        using pointer = const VersionBundle::Summary*;
        using reference = const VersionBundle::Summary&;

        const_iterator() = default;
        reference operator*() const { return (*m_list)[m_at]; }
        pointer operator->() const { return &(*m_list)[m_at]; }
        const_iterator& operator++()
        {
            ++m_at;
            return *this;
        }
        const_iterator operator++(int)
        {
            auto before = *this;
            ++m_at;
            return before;
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.m_at == b.m_at; }

    private:
        friend class SummaryList;
        const_iterator(const SummaryList* list, qsizetype at) : m_list(list), m_at(at) {}
        const SummaryList* m_list = nullptr;
        qsizetype m_at = 0;
    };

    qsizetype size() const { return m_positions.size(); }
    qsizetype count() const { return size(); }
    bool isEmpty() const { return m_positions.isEmpty(); }
    const VersionBundle::Summary& at(qsizetype i) const { return m_all.at(m_positions.at(i)); }
    const VersionBundle::Summary& operator[](qsizetype i) const { return at(i); }
    const VersionBundle::Summary& first() const { return at(0); }
    const VersionBundle::Summary& last() const { return at(size() - 1); }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    QList<VersionBundle::Summary> toList() const { return QList<VersionBundle::Summary>(begin(), end()); }
    operator QList<VersionBundle::Summary>() const { return toList(); }

    friend bool operator==(const SummaryList& a, const SummaryList& b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }
    friend bool operator==(const SummaryList& a, const QList<VersionBundle::Summary>& b)
    {
        return std::equal(a.begin(), a.end(), b.cbegin(), b.cend());
    }

private:
    friend struct VersionBundlesIndex;
    QList<VersionBundle::Summary> m_all; // the index's `all` when the list was made
    QList<qsizetype> m_positions;
};

// The bundles of a team bundle by kind, each list in the engine's order (creation order).
// Looking a bundle up by id takes constant time.
struct VersionBundlesIndex {
    SummaryList collections;
    SummaryList documents;
    SummaryList events;
    QList<VersionBundle::Summary> all;

    static VersionBundlesIndex empty() { return {}; }
    VersionBundlesIndex& operator+=(const VersionBundlesIndex& other);

    std::optional<VersionBundle::Summary> summary(const IdFor<VersionBundle>& id) const;
    // The summaries of `ids` found in the index, in the order of `ids`.
    QList<VersionBundle::Summary> summaries(const QList<IdFor<VersionBundle>>& ids) const;
    void append(const VersionBundle::Summary& summary);

private:
    friend class VersionBundles;
    // The list of its kind that a bundle of `type` goes in (besides `all`).
    SummaryList& listOf(const DocumentType& type);
    // Whether the lists of kinds are positions in `all` as it is (it was not changed by hand).
    bool kindsMatchAll() const;
    // Lets go of `all` in the lists of kinds, so that changing it copies nothing they share.
    void releaseKinds();
    // Makes the lists of kinds share `all` again (after releaseKinds()).
    void shareKinds();
    // Lists anew which bundles of `all` are of each kind (after releaseKinds()).
    void sortOutKinds();

    // Where each bundle of `all` is; kept up to date by append(), operator+=() and the engine,
    // and checked on every look-up (`all` is public: a caller may have changed it).
    QHash<IdFor<VersionBundle>, qsizetype> m_positions;
};
} // namespace vantrel
