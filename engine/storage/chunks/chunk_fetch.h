// What the copy-outs of chunked contents share: fetching ahead of the writing, in order, and
// logging the repairs that failed.
#pragma once

#include "engine/storage/storage_error.h"

#include <QByteArray>

#include <functional>

namespace vantrel::chunk_fetch {

// Chunks fetched ahead of the one being written: on a share each read waits for the network.
constexpr qsizetype fetchWindow = 8;

// Runs fetch(0) ... fetch(count - 1) on threads of its own, at most `window` ahead of consume(),
// which gets the results in order on the calling thread. The first failure stops the fetching
// and is rethrown once every thread has ended.
void fetchInOrder(qsizetype count, const std::function<QByteArray(qsizetype)>& fetch,
                  const std::function<void(const QByteArray&)>& consume, qsizetype window = fetchWindow);

// At most a few lines per process: a share that refuses every write would log every chunk.
void logRepairFailure(const char* what, const StorageError& error);

} // namespace vantrel::chunk_fetch
