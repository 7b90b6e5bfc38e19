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

// Appending the fields of the store's binary formats (chunk lists, packs).
namespace little_endian {
void append32(QByteArray& out, quint32 value);
void append64(QByteArray& out, quint64 value);
} // namespace little_endian

// Binary, little-endian: the magic "VCHL", the format (u32), the file's size (u64), the number
// of chunks (u32). Format 1 then holds per chunk its SHA-256 (32 bytes) and size (u32). Format 2
// (chunks in packs, see chunk_pack.h) holds the number of packs (u32) and their names (32 bytes
// each), then per chunk its SHA-256, size (u32), pack (u32, an index into the names) and offset
// in the pack (u64). The list is stored as a content of its own, by the SHA-256 of these bytes.
struct ChunkList {
    struct Chunk {
        ContentHash hash;
        qint64 size = 0;
        // In format 2: where it lies (`pack` an index into `packs`); -1 in format 1.
        qint32 pack = -1;
        qint64 offset = 0;
        friend bool operator==(const Chunk&, const Chunk&) = default;
    };

    static constexpr qint64 headerSize = 20;
    static constexpr qint64 entrySize = 36;
    static constexpr qint64 packedHeaderSize = 24;
    static constexpr qint64 packNameSize = 32;
    static constexpr qint64 packedEntrySize = 48;

    QList<Chunk> chunks;
    // The packs the chunks lie in: empty in format 1.
    QList<ContentHash> packs;

    qint64 totalSize() const;
    bool packed() const { return !packs.isEmpty(); }
    // Format 2 when the chunks lie in packs, else format 1.
    QByteArray encode() const;
    // The list in format 1, whatever the chunks' places: its SHA-256 is a packed file's identity,
    // the same wherever its chunks lie, found without hashing the file a second time.
    QByteArray identityBytes() const;
    ContentHash identity() const;
    // The list in `bytes`, which must be one of a file of `fileSize` bytes: every field checked
    // against the bounds (readLimits::chunkList; every chunk but the last chunking::minSize to
    // chunking::maxSize, as the chunker cuts them; in format 2 every pack index within the names
    // and every chunk within chunking::largestPack) and the sizes adding up to `fileSize` before
    // anything is kept. Throws StorageError corrupt naming `path` otherwise.
    static ChunkList decode(QByteArrayView bytes, qint64 fileSize, const QString& path);
    // The list stored under `hash` for a file of `fileSize` bytes, read within its bound and
    // checked against its hash. A list that is missing is notFound, one that is damaged corrupt,
    // one that can't be read as the share fails (io): the tree naming it can't be written out.
    static ChunkList read(const ContentStore& store, const ContentHash& hash, qint64 fileSize);

    friend bool operator==(const ChunkList&, const ChunkList&) = default;
};

} // namespace vantrel
