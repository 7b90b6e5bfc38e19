#pragma once

#include "engine/storage/content_hash.h"
#include "engine/storage/folder_tree.h"

#include <QHash>

#include <list>
#include <memory>
#include <mutex>

namespace vantrel {

// Trees read or stored lately, parsed, by hash. A tree never changes under its hash, so one that
// was checked against its hash when it was read stays right whatever happens to the stored file
// afterwards; being here says nothing of whether it is still stored. Bounded by an estimate of
// the memory the trees hold: the trees used longest ago go first. Thread-safe.
class TreeCache {
public:
    explicit TreeCache(qint64 budgetBytes = defaultBudget);

    // Enough for every tree of a library of about 100,000 files.
    static constexpr qint64 defaultBudget = 24 * 1024 * 1024;

    std::shared_ptr<const FolderTree> find(const ContentHash& hash);
    // A tree larger than the whole budget is not kept.
    void insert(const ContentHash& hash, std::shared_ptr<const FolderTree> tree);

    qint64 heldBytes() const;
    // The memory a parsed tree holds, roughly.
    static qint64 estimatedBytes(const FolderTree& tree);

private:
    struct Held {
        ContentHash hash;
        std::shared_ptr<const FolderTree> tree;
        qint64 bytes = 0;
    };
    using Order = std::list<Held>; // used last first

    const qint64 m_budget;
    mutable std::mutex m_mutex;
    Order m_order;
    QHash<ContentHash, Order::iterator> m_byHash;
    qint64 m_held = 0;
};

} // namespace vantrel
