// The list of a chunked content's chunks: what a folder tree's file entry names when the file is
// stored in chunks (see engine/README.md, "Chunked contents").
#pragma once

#include "engine/storage/content_hash.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace vantrel {

class ContentStore;

// Binary, little-endian: the magic "VCHL", the format (u32, 1), the file's size (u64), the
// number of chunks (u32), then per chunk its SHA-256 (32 bytes) and size (u32). The list is
// stored as a content of its own, by the SHA-256 of these bytes.
struct ChunkList {
    struct Chunk {
        ContentHash hash;
        qint64 size = 0;
        friend bool operator==(const Chunk&, const Chunk&) = default;
    };

    static constexpr qint64 headerSize = 20;
    static constexpr qint64 entrySize = 36;

    QList<Chunk> chunks;

    qint64 totalSize() const;
    QByteArray encode() const;
    // The list in `bytes`, which must be one of a file of `fileSize` bytes: every field checked
    // against the bounds (readLimits::chunkList; every chunk but the last chunking::minSize to
    // chunking::maxSize, as the chunker cuts them) and the sizes adding up to `fileSize` before
    // anything is kept. Throws StorageError corrupt naming `path` otherwise.
    static ChunkList decode(QByteArrayView bytes, qint64 fileSize, const QString& path);
    // The list stored under `hash` for a file of `fileSize` bytes, read within its bound and
    // checked against its hash. A list that is missing is notFound, one that is damaged corrupt,
    // one that can't be read as the share fails (io): the tree naming it can't be written out.
    static ChunkList read(const ContentStore& store, const ContentHash& hash, qint64 fileSize);

    friend bool operator==(const ChunkList&, const ChunkList&) = default;
};

} // namespace vantrel
