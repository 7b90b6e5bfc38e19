// Cutting a large file into chunks at boundaries its own bytes decide, so that an edit moves only
// the boundaries near it and every other chunk of the file stays as it was stored.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtGlobal>

#include <cstdint>
#include <vector>

namespace vantrel {

namespace chunking {

// Files larger than this are stored as chunks; smaller ones whole, as one content each.
constexpr qint64 threshold = 4 * 1024 * 1024;
// No chunk is cut shorter than this, except the last of a file; none is longer than maxSize.
constexpr qint64 minSize = 128 * 1024;
// Boundaries are looked for more strictly before this length and more loosely after it, so
// that chunk sizes gather just above it (about 600 KiB on random bytes).
constexpr qint64 normalSize = 512 * 1024;
constexpr qint64 maxSize = 4 * 1024 * 1024;
// A pack (format 4) is closed once its chunks hold this much, so that it holds at most one chunk
// more: fewer, larger files on the share than one per chunk.
constexpr qint64 packSize = 32 * 1024 * 1024;
constexpr qint64 largestPack = packSize + maxSize;

} // namespace chunking

// A position of a block whose gear hash over the 64 bytes ending there (the byte at `position`
// included) passes the loose test, and whether it passes the strict one too.
struct GearCandidate {
    qsizetype position = 0;
    bool strict = false;
};

// A gear hash over the bytes since the start of the current chunk: each byte shifts the hash
// left by one and adds that byte's value from a fixed table, so the top bits depend on the last
// 64 bytes only. A boundary is where the top bits are all zero: 21 of them before normalSize,
// 17 after (the "normalized chunking" of FastCDC). The table and these rules decide where every
// client cuts: changing either makes new versions share no chunk with the ones stored before.
class Chunker {
public:
    // Where the current chunk ends in `block`, looking from `from` on: the offset in `block`
    // just past its last byte (the next chunk begins there), or -1 when the rest of `block`
    // belongs to it and it goes on. With `candidates` (the block's, in order of position), the
    // hash is computed here only for the first 64 bytes hashed in a chunk; from there on it is
    // the hash of the last 64 bytes, and the first candidate that qualifies ends the chunk: the
    // same boundaries. A chunker is given candidates for every block or for none.
    qsizetype cut(const char* block, qsizetype size, qsizetype from = 0,
                  const std::vector<GearCandidate>* candidates = nullptr);

private:
    std::uint64_t m_hash = 0;
    qint64 m_length = 0;
    qint64 m_hashed = 0; // bytes of the current chunk hashed
};

// The candidates of `block`, found on several threads. `before` holds the up to 63 bytes of the
// file just before it (fewer at the start of a file, where no chunk can end yet).
std::vector<GearCandidate> findGearCandidates(QByteArrayView before, QByteArrayView block);

// Cuts a file handed in block by block, finding the candidates of each block on several threads.
class BlockChunker {
public:
    // The offsets in `block` (the next bytes of the file) just past each chunk that ends in it.
    QList<qsizetype> cuts(QByteArrayView block);

private:
    Chunker m_chunker;
    QByteArray m_before;
};

} // namespace vantrel
