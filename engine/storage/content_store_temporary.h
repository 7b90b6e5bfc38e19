#pragma once

// What the content store's files share: the temporary file a content is written to before it is
// moved to its place, and small helpers.

#include "engine/storage/atomic_file.h"
#include "engine/storage/content_store.h"

#include <ctime>
#include <utility>

namespace vantrel {

namespace content_store {

inline QString temporaryFolder(const QString& storeFolder)
{
    return storeFolder + QStringLiteral("/tmp");
}

inline qint64 nanoseconds(const timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace content_store

struct ContentStore::Temporary {
    QString path;
    posix::UniqueFd fd;

    Temporary() = default;
    Temporary(QString path, posix::UniqueFd fd) : path(std::move(path)), fd(std::move(fd)) {}
    Temporary(Temporary&&) = default;
    Temporary& operator=(Temporary&& other) noexcept
    {
        if (this != &other) {
            discard();
            path = std::exchange(other.path, QString());
            fd = std::move(other.fd);
        }
        return *this;
    }
    ~Temporary() { discard(); }
    void discard() noexcept
    {
        fd = posix::UniqueFd();
        if (!path.isEmpty())
            posix::removeFileQuietly(std::exchange(path, QString()));
    }
    // The file is now somewhere else (or was dropped on purpose): don't remove it.
    void release() { path.clear(); }
};

} // namespace vantrel
