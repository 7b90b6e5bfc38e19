#pragma once

#include "engine/storage/folder_tree.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

namespace vantrel {

// The version a new one builds on, read folder by folder as the new one needs it: only the
// folders on the paths asked for are read. What the base's trees that were read name is known to
// be in use by a version that garbage collection keeps. A part of the base that can't be read is
// as if the base had nothing there, so the new version then lists and stores it itself. Trees
// this process read or stored lately are taken from memory.
class BaseTree {
public:
    BaseTree(const ContentStore& store, std::optional<ContentHash> root);

    const std::optional<ContentHash>& rootHash() const { return m_root; }
    // The base's tree of the folder at `relativePath` ("" for the root); null when the base has
    // no such folder or it can't be read. The root may be a file root (FolderTree::isFile).
    const FolderTree* folder(const QString& relativePath);
    // The hash of the base's tree of the folder at `relativePath`, when the base has that folder.
    std::optional<ContentHash> folderHash(const QString& relativePath);
    // The entry `name` of the base's folder at `folderPath`, when there is one.
    const FolderEntry* entry(const QString& folderPath, const QString& name);

    // Whether the base is known to use this tree or content (from what was read of it so far).
    bool usesTree(const ContentHash& hash) const { return m_trees.contains(hash); }
    bool usesContent(const ContentHash& hash) const { return m_contents.contains(hash); }

private:
    TreeReader m_reader;
    std::optional<ContentHash> m_root;
    QHash<QString, std::shared_ptr<const FolderTree>> m_folders; // null: none there
    QSet<ContentHash> m_trees;
    QSet<ContentHash> m_contents;
};

// The entry `name` of `tree` (whose entries are sorted by name), or null.
const FolderEntry* findEntry(const FolderTree& tree, const QString& name);

} // namespace vantrel
