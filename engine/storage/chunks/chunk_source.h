// Where chunks of stored files may be found on this computer before the store is asked.
#pragma once

#include "engine/storage/content_hash.h"

#include <QByteArray>

#include <optional>

namespace vantrel {

// A local place for chunks (a cache), consulted by every copy-out of a chunked content before
// the store on the share, and told of every chunk stored or read from the store. It is never
// needed for correctness: what take() gives is checked against the hash (by the source itself
// when it says so), and a chunk it lacks or gives damaged is read from the store. Called from many threads at once.
class ChunkSource {
public:
    virtual ~ChunkSource() = default;

    // The chunk's `size` bytes, when held here.
    virtual std::optional<QByteArray> take(const ContentHash& hash, qint64 size) = 0;
    // Whether take() gives only bytes it checked against the hash itself (as a cache that reads
    // them from the disk must, to drop a damaged entry): they are then not checked again.
    virtual bool checksTaken() const { return false; }
    // A chunk that was just stored or read from the store (checked against `hash`), shared, not
    // copied: a source may hold on to it for a while.
    virtual void keep(const ContentHash& hash, const QByteArray& bytes) = 0;
};

} // namespace vantrel
