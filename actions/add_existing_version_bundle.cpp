#include "actions/add_existing_version_bundle.h"

#include "model/name_order.h"
#include "model/strings.h"
#include "model/text_format.h"

#include <algorithm>
#include <utility>

namespace vantrel {

namespace {

// Runs on its own copies, so the picker may go away while bundles are being added.
QCoro::Task<> addEach(std::shared_ptr<AnyContainerItem> container, QList<IdFor<VersionBundle>> ids)
{
    for (const auto& id : ids)
        co_await container->addExistingNestedItem(id);
}

} // namespace

AddExistingVersionBundle::AddExistingVersionBundle(std::shared_ptr<AnyContainerItem> container,
                                                   IndexProvider versionBundlesIndex, ItemsKeyPath itemsKeyPath,
                                                   AcceptanceCriteria acceptanceCriteria, QObject* parent)
    : ObservableObject(parent),
      m_container(std::move(container)),
      m_versionBundlesIndex(std::move(versionBundlesIndex)),
      m_itemsKeyPath(itemsKeyPath),
      m_acceptanceCriteria(std::move(acceptanceCriteria))
{
}

AddExistingVersionBundle::~AddExistingVersionBundle() = default;

const QList<VersionBundle::Info>& AddExistingVersionBundle::containersOf(const Summary& summary) const
{
    return searchedContainers(summary, indexingOptions());
}

QList<RankedItem> AddExistingVersionBundle::rankedItems() const
{
    return vantrel::rankedItems(items(), searchEntry(), indexingOptions());
}

QList<CategorizedSearchResult> AddExistingVersionBundle::categorizedResults() const
{
    return vantrel::categorizedResults(rankedItems(), sortingOptions());
}

std::optional<RankedItem> AddExistingVersionBundle::rank(const Summary& summary) const
{
    return vantrel::rank(summary, searchEntry(), indexingOptions());
}

bool AddExistingVersionBundle::matches(const QString& entry, const QString& name)
{
    return vantrel::matches(entry, name);
}

void AddExistingVersionBundle::reload()
{
    setLoading(true);
    VersionBundlesIndex fresh;
    try {
        fresh = m_versionBundlesIndex(indexingOptions());
    } catch (...) {
        setLoading(false);
        throw;
    }
    showIndex(std::move(fresh));
}

void AddExistingVersionBundle::showIndex(VersionBundlesIndex fresh)
{
    m_index = std::move(fresh);

    // Bundles the container already uses are no candidates.
    const auto containerID = m_container->id();
    QList<Summary> candidates;
    for (const auto& summary : m_index.*m_itemsKeyPath) {
        const auto& containers = containersOf(summary);
        const bool inContainer = std::any_of(containers.begin(), containers.end(),
                                             [&](const VersionBundle::Info& info) { return info.id == containerID; });
        if (!inContainer)
            candidates.append(summary);
    }
    setItems(std::move(candidates));
    setSelection({});
    setLoading(false);
}

QList<VersionBundle::Summary> AddExistingVersionBundle::selectionInDisplayOrder() const
{
    QSet<Summary> remaining = selection();
    QList<Summary> ordered;
    const auto take = [&](const Summary& summary) {
        if (remaining.remove(summary))
            ordered.append(summary);
    };
    for (const auto& section : categorizedResults())
        for (const auto& ranked : section.items)
            take(ranked.item);
    for (const auto& summary : items())
        take(summary);
    // Selected bundles no longer listed at all, in a fixed order.
    QList<Summary> rest(remaining.begin(), remaining.end());
    std::ranges::sort(rest, [](const Summary& a, const Summary& b) { return a.id() < b.id(); });
    ordered.append(rest);
    return ordered;
}

QList<VersionBundle::Summary> AddExistingVersionBundle::selectedItems() const
{
    QList<Summary> containers;
    QSet<IdFor<VersionBundle>> seen;
    for (const auto& selected : selection()) {
        const auto found = m_index.summary(selected.id());
        if (!found)
            continue;
        for (const auto& info : containersOf(*found)) {
            if (seen.contains(info.id))
                continue;
            seen.insert(info.id);
            containers.append(m_index.summary(info.id).value_or(Summary::placeholder(info)));
        }
    }
    return sortedByName(std::move(containers), [](const Summary& summary) { return summary.name(); });
}

QString AddExistingVersionBundle::titleSuffix() const
{
    if (isTrashMode(indexingOptions()))
        return QStringLiteral(" (") + Strings::trashTitle() + QStringLiteral(")");
    return QString();
}

QString AddExistingVersionBundle::emptyMessage() const
{
    return isTrashMode(indexingOptions()) ? Strings::emptyTitle() : Strings::nothingFound();
}

bool AddExistingVersionBundle::exceedsLimit(const DocumentType& type) const
{
    const auto criteria = m_acceptanceCriteria.constFind(type);
    if (criteria == m_acceptanceCriteria.cend())
        return false;
    const QSet<Summary> selected = selection();
    const auto count = std::count_if(selected.begin(), selected.end(),
                                     [&](const Summary& summary) { return summary.documentType() == type; });
    return criteria->limit < count + criteria->currentItems;
}

bool AddExistingVersionBundle::exceedsAcceptanceLimit() const
{
    const QSet<Summary> selected = selection();
    return std::any_of(selected.begin(), selected.end(),
                       [this](const Summary& summary) { return exceedsLimit(summary.documentType()); });
}

std::optional<QString> AddExistingVersionBundle::limitMessage() const
{
    for (const auto& summary : selection()) {
        if (exceedsLimit(summary.documentType()))
            return formatText(Strings::maximumReachedMessage(), summary.documentType().description());
    }
    return std::nullopt;
}

QCoro::Task<> AddExistingVersionBundle::add() const
{
    QList<IdFor<VersionBundle>> ids;
    for (const auto& summary : selectionInDisplayOrder())
        ids.append(summary.id());
    return addEach(m_container, std::move(ids));
}

} // namespace vantrel
