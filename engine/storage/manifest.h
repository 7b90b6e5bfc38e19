#pragma once

#include "engine/storage/content_hash.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringView>

#include <optional>

namespace vantrel {

// One item of a version's tree.
struct ManifestEntry {
    enum class Kind { file, directory, symlink };

    // Relative to the root, '/'-separated; empty only for the root of a single-file version.
    QString path;
    Kind kind = Kind::file;
    // Files only: the stored content, its size and whether it is executable.
    ContentHash hash;
    qint64 size = 0;
    bool executable = false;
    // Symbolic links only: the link's text, kept as it was (it may point anywhere).
    QString target;
    // Files stored in chunks only: their chunk list (see FolderEntry::chunks).
    std::optional<ContentHash> chunks;

    friend bool operator==(const ManifestEntry&, const ManifestEntry&) = default;
};

// The tree of one version as one flat list: what writing it back restores. It is stored as a
// tree of folder trees (see folder_tree.h), never as one list.
struct Manifest {
    enum class RootKind { file, directory };

    RootKind rootKind = RootKind::directory;
    // For a folder: every item below the root (not the root itself), sorted by path, each
    // folder before what it holds, empty folders included. For a single file: exactly one file
    // entry with an empty path.
    QList<ManifestEntry> entries;

    // Throws DecodingError unless the entries form a tree that can be written safely: for a
    // folder, paths that are relative and hold no "", "." or ".." components nor control
    // characters, sorted without repeats, each below a listed folder; for a single file, one
    // unnamed file entry. Links must have a target.
    void validate() const;

    // The sum of the file sizes.
    qint64 totalSize() const;
    QSet<ContentHash> contentHashes() const;

    friend bool operator==(const Manifest&, const Manifest&) = default;
};

// Whether `name` can be one component of a manifest path: not empty, not "." or "..", and
// without '/', NUL or other control characters.
bool isValidManifestName(QStringView name);
// Whether `path` is a valid non-empty relative manifest path.
bool isValidManifestPath(QStringView path);

} // namespace vantrel
