#include "engine/storage/tree_cache.h"

namespace vantrel {

TreeCache::TreeCache(qint64 budgetBytes) : m_budget(budgetBytes) {}

qint64 TreeCache::estimatedBytes(const FolderTree& tree)
{
    // Each entry, its texts' storage (UTF-16 with a header), and the bookkeeping of a tree.
    qint64 bytes = qint64(sizeof(FolderTree)) + 128;
    for (const FolderEntry& entry : tree.entries)
        bytes += qint64(sizeof(FolderEntry)) + 2 * (entry.name.size() + entry.target.size()) + 48;
    return bytes;
}

std::shared_ptr<const FolderTree> TreeCache::find(const ContentHash& hash)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_byHash.constFind(hash);
    if (found == m_byHash.cend())
        return nullptr;
    m_order.splice(m_order.begin(), m_order, *found);
    return m_order.front().tree;
}

void TreeCache::insert(const ContentHash& hash, std::shared_ptr<const FolderTree> tree)
{
    if (!tree)
        return;
    const qint64 bytes = estimatedBytes(*tree);
    if (bytes > m_budget)
        return;
    const std::lock_guard lock(m_mutex);
    if (const auto found = m_byHash.constFind(hash); found != m_byHash.cend()) {
        m_order.splice(m_order.begin(), m_order, *found);
        return;
    }
    m_order.push_front(Held{hash, std::move(tree), bytes});
    m_byHash.insert(hash, m_order.begin());
    m_held += bytes;
    while (m_held > m_budget) {
        const Held& oldest = m_order.back();
        m_held -= oldest.bytes;
        m_byHash.remove(oldest.hash);
        m_order.pop_back();
    }
}

qint64 TreeCache::heldBytes() const
{
    const std::lock_guard lock(m_mutex);
    return m_held;
}

} // namespace vantrel
