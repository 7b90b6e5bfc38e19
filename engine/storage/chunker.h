// Cutting a large file into chunks at boundaries its own bytes decide, so that an edit moves only
// the boundaries near it and every other chunk of the file stays as it was stored.
#pragma once

#include <QtGlobal>

#include <cstdint>

namespace vantrel {

namespace chunking {

// Files larger than this are stored as chunks; smaller ones whole, as one content each.
constexpr qint64 threshold = 4 * 1024 * 1024;
// No chunk is cut shorter than this, except the last of a file; none is longer than maxSize.
constexpr qint64 minSize = 256 * 1024;
// Boundaries are looked for more strictly before this length and more loosely after it, so
// that chunk sizes gather around it (about 1.1 MiB on random bytes).
constexpr qint64 normalSize = 1024 * 1024;
constexpr qint64 maxSize = 4 * 1024 * 1024;

} // namespace chunking

// A gear hash over the bytes since the start of the current chunk: each byte shifts the hash
// left by one and adds that byte's value from a fixed table, so the top bits depend on the last
// 64 bytes only. A boundary is where the top bits are all zero: 22 of them before normalSize,
// 18 after (the "normalized chunking" of FastCDC). The table and these rules decide where every
// client cuts: changing either makes new versions share no chunk with the ones stored before.
class Chunker {
public:
    // How many bytes of `data` complete the current chunk, which then ends there and the next
    // begins; -1 when all of `data` belongs to the current chunk and it goes on.
    qsizetype cut(const char* data, qsizetype size);

    // The bytes of the current chunk passed so far.
    qint64 pending() const { return m_length; }

private:
    std::uint64_t m_hash = 0;
    qint64 m_length = 0;
};

} // namespace vantrel
