#pragma once

#include <QtGlobal>

#include <functional>

namespace vantrel {

// Called on the calling thread as work progresses: bytes done so far and in all. It may throw to
// stop the work.
using TreeProgress = std::function<void(qint64 doneBytes, qint64 totalBytes)>;

// Storage is mostly waiting on disks and networks: a few threads even on a small machine.
int storageWorkerCount();

// Runs job(0) ... job(count - 1) on a thread pool of its own (a caller on a pool thread can't
// starve it) and reports the bytes the jobs return on the calling thread, starting with
// (doneBefore, totalBytes). The first failure, of a job or of `progress`, stops the jobs not yet
// started and is rethrown once the running ones have ended.
void runInParallel(qsizetype count, const std::function<qint64(qsizetype)>& job, qint64 totalBytes,
                   const TreeProgress& progress, qint64 doneBefore = 0);

} // namespace vantrel
