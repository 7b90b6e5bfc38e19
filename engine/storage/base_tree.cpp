#include "engine/storage/base_tree.h"

#include "foundation/error.h"

#include <algorithm>

namespace vantrel {

const FolderEntry* findEntry(const FolderTree& tree, const QString& name)
{
    const auto found =
        std::lower_bound(tree.entries.cbegin(), tree.entries.cend(), name,
                         [](const FolderEntry& entry, const QString& wanted) { return entry.name < wanted; });
    return found != tree.entries.cend() && found->name == name ? &*found : nullptr;
}

BaseTree::BaseTree(const ContentStore& store, std::optional<ContentHash> root)
    : m_reader(store, true, TreeReader::Recent::use),
      m_root(root)
{
    if (m_root)
        m_trees.insert(*m_root);
}

std::optional<ContentHash> BaseTree::folderHash(const QString& relativePath)
{
    if (relativePath.isEmpty())
        return m_root;
    const auto slash = relativePath.lastIndexOf(u'/');
    const FolderEntry* found = entry(slash < 0 ? QString() : relativePath.first(slash), relativePath.mid(slash + 1));
    if (!found || found->kind != FolderEntry::Kind::directory)
        return std::nullopt;
    return found->hash;
}

const FolderEntry* BaseTree::entry(const QString& folderPath, const QString& name)
{
    const FolderTree* tree = folder(folderPath);
    return tree && !tree->isFile ? findEntry(*tree, name) : nullptr;
}

const FolderTree* BaseTree::folder(const QString& relativePath)
{
    if (const auto known = m_folders.constFind(relativePath); known != m_folders.cend())
        return known->get();
    std::shared_ptr<const FolderTree> tree;
    if (relativePath.count(u'/') < treeLimits::maxDepth) {
        if (const auto hash = folderHash(relativePath)) {
            try {
                tree = m_reader.read(*hash);
            } catch (const Error&) {
                // Unreadable: the new version is made without this part of the base.
            }
        }
    }
    if (tree && tree->isFile && !relativePath.isEmpty())
        tree.reset();
    if (tree) {
        for (const FolderEntry& item : tree->entries) {
            if (item.kind == FolderEntry::Kind::file)
                m_contents.insert(item.hash);
            else if (item.kind == FolderEntry::Kind::directory)
                m_trees.insert(item.hash);
        }
    }
    m_folders.insert(relativePath, tree);
    return tree.get();
}

} // namespace vantrel
