// Where chunks of stored files may be found on this computer before the store is asked.
#pragma once

#include "engine/storage/content_hash.h"

#include <QByteArray>

#include <optional>

namespace vantrel {

// A local place for chunks (a cache), consulted by every copy-out of a chunked content before
// the store on the share, and told of every chunk stored or read from the store. It is never
// needed for correctness: what take() gives is checked against the hash all the same, and a
// chunk it lacks or gives damaged is read from the store. Called from many threads at once.
class ChunkSource {
public:
    virtual ~ChunkSource() = default;

    // The chunk's `size` bytes, when held here.
    virtual std::optional<QByteArray> take(const ContentHash& hash, qint64 size) = 0;
    // A chunk that was just stored or read from the store (checked against `hash`), shared, not
    // copied: a source may hold on to it for a while.
    virtual void keep(const ContentHash& hash, const QByteArray& bytes) = 0;
};

} // namespace vantrel
