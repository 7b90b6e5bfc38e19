#pragma once

#include "engine/storage/content_store.h"
#include "engine/storage/manifest.h"
#include "engine/storage/parallel_jobs.h"
#include "engine/storage/statcache.h"

#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace vantrel {

// TreeProgress (parallel_jobs.h) is called on the calling thread as files are stored or
// written. The first call, (0, total), comes once the tree is listed and before any file is
// read. It may throw to stop the work; what was written by then is cleaned up as for any failure.

struct SnapshotOptions {
    // Folders (by path relative to the source) to leave out, with everything in them.
    std::function<bool(const QString& relativePath)> excludeDirectory;
    // Files found unchanged in the cache are not read again; the files read are recorded in it,
    // and the cache is saved after a snapshot that succeeds (a failure to save is ignored).
    StatCache* cache = nullptr;
    TreeProgress progress;
    // Whether the snapshot saves the cache itself; a caller taking several snapshots with one
    // cache saves it once, at the end.
    bool saveCache = true;
    // When set, sockets, pipes and devices inside a folder are left out and their relative paths
    // listed here, instead of failing the snapshot (keeping what can be kept of a working copy).
    QStringList* skippedSpecialFiles = nullptr;
    // When set: the folders (relative paths, "" for the root) outside of which nothing has
    // changed since the version `base` describes; every other folder is taken from `base`
    // without being listed. Unset: the whole tree is walked (with the stat cache).
    std::optional<QSet<QString>> changedFolders;
    // The root tree of the version the new one builds on (the current version of the bundle),
    // which must be a version garbage collection keeps. Folders and contents found as it has them
    // are taken from it: its trees are neither written again nor touched, nor are its contents;
    // a file whose size is the one it has there is hashed before anything of it is written.
    // Only the folders of the base on the paths to what changed are read.
    std::optional<ContentHash> base;
    // When set, what the snapshot installs new in the store is noted there, for the change it is
    // part of to remove should that fail before its record is published.
    ContentStore::Written* written = nullptr;
};

// Stores the regular file or the folder `source` (a symbolic link is refused) with its trees and
// returns the hash of its root tree (see folder_tree.h). Nothing is followed: links are kept as
// links, with their text, wherever they point. Empty folders and executable bits are kept.
// Sockets, pipes and devices are refused, as are names that a tree can't hold (see
// SnapshotOptions::skippedSpecialFiles) and folders nested deeper than a tree may be. Files are
// read in parallel. Nothing the store holds already is written again. Throws StorageError;
// contents stored before a failure stay in the store until garbage collection, unless they are
// noted in SnapshotOptions::written.
ContentHash snapshotTree(const QString& source, ContentStore& store, const SnapshotOptions& options = {});

// Writes the version whose root tree is `root` at `destination`, as writeTree() does; its trees
// are read and checked first (StorageError, or DecodingError for a malformed tree).
void writeStoredTree(const ContentStore& store, const ContentHash& root, const QString& destination,
                     const TreeProgress& progress = {});
void writeStoredTreeAtomically(const ContentStore& store, const ContentHash& root, const QString& destination,
                               const TreeProgress& progress = {});

// Writes the tree of `manifest` at `destination`, which must not exist (its folder must), in
// parallel, checking every content read from the store. On failure everything written is
// removed and the error is thrown (StorageError, or DecodingError for a malformed manifest).
void writeTree(const Manifest& manifest, const ContentStore& store, const QString& destination,
               const TreeProgress& progress = {});

// As writeTree(), but builds the tree in a hidden temporary sibling, flushes it to disk and
// renames it into place: `destination` appears complete or not at all.
void writeTreeAtomically(const Manifest& manifest, const ContentStore& store, const QString& destination,
                         const TreeProgress& progress = {});

// Waits until no parallel file lookup started by snapshotTree() runs any more (at exit).
void waitForFileLookups();

} // namespace vantrel
