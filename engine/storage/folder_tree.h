#pragma once

#include "engine/storage/content_hash.h"
#include "engine/storage/manifest.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>

namespace vantrel {

class ContentStore;

// One item of a folder: a file, a link or a subfolder, by its name in the folder.
struct FolderEntry {
    using Kind = ManifestEntry::Kind;

    QString name;
    Kind kind = Kind::file;
    // Files: the stored content. Folders: the subfolder's own stored tree.
    ContentHash hash;
    // Files only.
    qint64 size = 0;
    bool executable = false;
    // Links only: the link's text, kept as it was.
    QString target;
    // Files stored in chunks only: their chunk list (chunk_list.h); `hash` stays the whole
    // file's. Written as the entry's "chunks" member, which only bundles of a format that
    // stores chunks hold.
    std::optional<ContentHash> chunks;

    friend bool operator==(const FolderEntry&, const FolderEntry&) = default;
};

// What one stored tree holds: the entries of one folder, sorted by name, each subfolder named by
// the hash of its own tree; or, as the root of a single-file version only, that one file (an
// entry without a name). A tree is stored once by hash in the content store, so versions and
// bundles that hold the same folder share it.
struct FolderTree {
    bool isFile = false;
    QList<FolderEntry> entries;

    // The one text of this tree, the same for the same entries (its hash names it).
    QByteArray toJson() const;
    // Throws DecodingError on anything malformed (see validate()).
    static FolderTree fromJson(const QByteArray& json);
    // Throws DecodingError unless the names are valid manifest names, strictly increasing (so
    // without repeats), links have a target, and a file root holds exactly one unnamed file.
    void validate() const;

    friend bool operator==(const FolderTree&, const FolderTree&) = default;
};

// How much of a version's tree is read, whatever the stored trees claim: hashes make cycles
// impossible, but a chain of folders, or folders naming the same subfolder many times, could
// still be made to take any amount of time and memory.
namespace treeLimits {
// Folders below the root, the root being depth 0.
constexpr int maxDepth = 255;
// Entries in all folders of one version, a subfolder counted each time it is named.
constexpr qint64 maxEntries = 8'000'000;
} // namespace treeLimits

// Reads stored trees, each at most once, checking each against its hash and validating it.
// Thread-safe.
class TreeReader {
public:
    // What the reader does with the store's recent trees (ContentStore::recentTrees()).
    enum class Recent {
        remember, // trees read are added, but every tree is read from the store: what is written
                  // out of a version is checked to be stored whole
        use,      // a tree found there is not read again
        ignore,   // for a caller that visits each tree once, which would only push out the others
    };

    // Without `keepTrees`, trees are read again when asked for again, and nothing is kept in
    // memory (for a caller that visits each tree once).
    explicit TreeReader(const ContentStore& store, bool keepTrees = true, Recent recent = Recent::remember)
        : m_store(store),
          m_keep(keepTrees),
          m_recent(keepTrees ? recent : Recent::ignore)
    {
    }

    // The tree stored under `hash`. Throws StorageError when it can't be read, DecodingError when
    // it is malformed.
    std::shared_ptr<const FolderTree> read(const ContentHash& hash);

private:
public:
    const ContentStore& store() const { return m_store; }

private:
    const ContentStore& m_store;
    const bool m_keep;
    const Recent m_recent;
    std::mutex m_mutex;
    QHash<ContentHash, std::shared_ptr<const FolderTree>> m_read;
};

// The whole tree of the version whose root tree is `root`, as one flat manifest. Throws
// StorageError when a tree can't be read, DecodingError when one is malformed, a subfolder is a
// file root, or the tree is deeper or larger than treeLimits allow.
Manifest readTree(const ContentStore& store, const ContentHash& root);
Manifest readTree(TreeReader& reader, const ContentHash& root);

// Stores the trees of `manifest` (whose contents must be stored already) and returns the hash of
// its root. Trees the store holds already are not written again. Throws StorageError, or
// DecodingError for a manifest that isn't valid.
ContentHash storeTree(ContentStore& store, const Manifest& manifest);

// Adds to `referenced` every tree and content that the version whose root tree is `root` uses,
// with the chunk lists of its chunked contents and their chunks (each list is read: one that
// can't be throws as a tree would). Trees and lists already in `visitedTrees` are not read again, so folders that versions share are read
// once. Throws as readTree() does.
void collectTreeReferences(TreeReader& reader, const ContentHash& root, QSet<ContentHash>& visitedTrees,
                           QSet<ContentHash>& referenced);

} // namespace vantrel
