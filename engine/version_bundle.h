#pragma once

#include "engine/document_type.h"
#include "engine/id_for.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

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
        QString url; // where the bundle is kept, for its icon
        Info info;
        QList<Info> activeContainers;               // every container using it, trashed ones included
        QList<Info> activeContainersExcludingTrash; // the containers that are not in the trash

        // A stand-in for a container that is missing from an index.
        static Summary placeholder(const Info& info) { return Summary{QString(), info, {}, {}}; }

        const IdFor<VersionBundle>& id() const { return info.id; }
        const QString& name() const { return info.name; }
        const DocumentType& documentType() const { return info.documentType; }
        const QDateTime& modificationDate() const { return info.modificationDate; }
        bool isTrashed() const { return info.isTrashed; }

        friend bool operator==(const Summary&, const Summary&) = default;
        friend size_t qHash(const Summary& summary, size_t seed = 0) { return qHash(summary.info.id, seed); }
    };
};

// The bundles of a team bundle by kind, each list in the engine's order (creation order).
// Looking a bundle up by id takes constant time.
struct VersionBundlesIndex {
    QList<VersionBundle::Summary> collections;
    QList<VersionBundle::Summary> documents;
    QList<VersionBundle::Summary> events;
    QList<VersionBundle::Summary> all;

    static VersionBundlesIndex empty() { return {}; }
    VersionBundlesIndex& operator+=(const VersionBundlesIndex& other);

    std::optional<VersionBundle::Summary> summary(const IdFor<VersionBundle>& id) const;
    // The summaries of `ids` found in the index, in the order of `ids`.
    QList<VersionBundle::Summary> summaries(const QList<IdFor<VersionBundle>>& ids) const;
    void append(const VersionBundle::Summary& summary);
    // The list of its kind that a bundle of `type` goes in (besides `all`).
    QList<VersionBundle::Summary>& listOf(const DocumentType& type);

private:
    friend class VersionBundles;
    // Where each bundle of `all` is; kept up to date by append(), operator+=() and the engine,
    // and checked on every look-up (`all` is public: a caller may have changed it).
    QHash<IdFor<VersionBundle>, qsizetype> m_positions;
};
} // namespace vantrel
