// Garbage collection of the content store: contents no version refers to any more.

#include "engine/storage/content_store.h"
#include "engine/storage/chunks/chunk_pack.h"
#include "engine/storage/content_store_temporary.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/storage_error.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

using namespace posix;
using content_store::nanoseconds;
using content_store::temporaryFolder;

namespace {

bool isLowerHex(const char* name, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return name[length] == 0;
}

// A listing of an open folder, closed on destruction.
class Listing {
public:
    explicit Listing(int folderFd) : m_dir(folderFd >= 0 ? ::fdopendir(folderFd) : nullptr)
    {
        if (!m_dir && folderFd >= 0)
            ::close(folderFd);
    }
    ~Listing()
    {
        if (m_dir)
            ::closedir(m_dir);
    }
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    bool isOpen() const { return m_dir != nullptr; }
    int fd() const { return ::dirfd(m_dir); }
    const dirent* next() { return ::readdir(m_dir); }

private:
    DIR* m_dir;
};

// Removes the `.tmp-` files in the open folder `folder` older than `cutoff`: left by a writer
// that ended before moving them to their place.
void removeOldTemporaries(int folder, qint64 cutoff)
{
    Listing entries(::dup(folder));
    if (!entries.isOpen())
        return;
    while (const dirent* entry = entries.next()) {
        const char* name = entry->d_name;
        struct stat status {};
        if (QLatin1StringView(name).startsWith(content_store::shardTemporaryPrefix)
            && ::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)
            && nanoseconds(status.st_mtim) <= cutoff)
            ::unlinkat(folder, name, 0);
    }
}

// Removes the old `.tmp-` files in `folder` and in the folders right inside it, following no link.
void removeOldTemporariesWithin(const QString& folder, qint64 cutoff)
{
    // (Opened twice: a descriptor's duplicate shares its place in the listing.)
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    if (const UniqueFd top(::open(nativePath(folder).constData(), flags)); top.isOpen())
        removeOldTemporaries(top.get(), cutoff);
    Listing inside(::open(nativePath(folder).constData(), flags));
    if (!inside.isOpen())
        return;
    while (const dirent* entry = inside.next()) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        const UniqueFd sub(::openat(inside.fd(), name, flags));
        if (sub.isOpen())
            removeOldTemporaries(sub.get(), cutoff);
    }
}

// Removes from the shard folders listed by `shards` the objects not referenced and not stamped
// after `cutoff`, and older temporary files; a pack's damage marker goes with it.
void collectShards(Listing& shards, int temporaryFd, const QSet<ContentHash>& referenced, qint64 cutoff,
                   int& removed)
{
    while (const dirent* shardEntry = shards.next()) {
        const char* shardName = shardEntry->d_name;
        if (!isLowerHex(shardName, 2))
            continue;
        Listing objects(::openat(shards.fd(), shardName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!objects.isOpen())
            continue;
        while (const dirent* objectEntry = objects.next()) {
            const char* name = objectEntry->d_name;
            if (QLatin1StringView(name).startsWith(content_store::shardTemporaryPrefix)) {
                // Left by a writer that ended before moving it to its place.
                struct stat status {};
                if (::fstatat(objects.fd(), name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)
                    && nanoseconds(status.st_mtim) <= cutoff)
                    ::unlinkat(objects.fd(), name, 0);
                continue;
            }
            if (!isLowerHex(name, 64) || name[0] != shardName[0] || name[1] != shardName[1])
                continue;
            const auto hash = ContentHash::fromHex(QString::fromLatin1(name));
            if (!hash || referenced.contains(*hash))
                continue;
            struct stat status {};
            if (::fstatat(objects.fd(), name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode)
                || nanoseconds(status.st_mtim) > cutoff)
                continue;
            // Move it aside first, then look again: a writer that refreshed it in between must
            // find it back in place, and one that refreshes it from now on finds it missing and
            // stores its own copy.
            const QByteArray doomed = (QStringLiteral(".collected-") + randomToken()).toLatin1();
            if (::renameat(objects.fd(), name, temporaryFd, doomed.constData()) != 0)
                continue;
            if (::fstatat(temporaryFd, doomed.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
                && nanoseconds(status.st_mtim) > cutoff) {
                if (::linkat(temporaryFd, doomed.constData(), objects.fd(), name, 0) == 0 || errno == EEXIST)
                    ::unlinkat(temporaryFd, doomed.constData(), 0);
                else
                    ::renameat(temporaryFd, doomed.constData(), objects.fd(), name);
                continue;
            }
            if (::unlinkat(temporaryFd, doomed.constData(), 0) == 0)
                ++removed;
            ::unlinkat(objects.fd(), (QByteArray(name) + chunk_pack::damagedSuffix.toLatin1()).constData(), 0);
        }
    }
}

} // namespace

int ContentStore::collectGarbage(const QSet<ContentHash>& referenced, std::chrono::seconds gracePeriod)
{
    return collectGarbage([&] { return std::optional<QSet<ContentHash>>(referenced); }, gracePeriod);
}

int ContentStore::collectGarbage(const std::function<std::optional<QSet<ContentHash>>()>& referencedNow,
                                 std::chrono::seconds gracePeriod, const QStringList& writersFolders)
{
    // Nothing is followed by a link here: the collection removes files.
    const QByteArray nativeFolder = nativePath(m_folder);
    Listing shards(::open(nativeFolder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!shards.isOpen()) {
        if (errno == ENOENT)
            return 0;
        throw StorageError::fromErrno(errno, m_folder, QStringLiteral("open"));
    }
    claimFolder(temporaryFolder(m_folder));
    const QByteArray nativeTemporaryFolder = nativePath(temporaryFolder(m_folder));
    UniqueFd temporaryFd(::open(nativeTemporaryFolder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!temporaryFd.isOpen())
        throw StorageError::fromErrno(errno, temporaryFolder(m_folder), QStringLiteral("open"));

    // Ages are the share's: it stamped every content when it was stored or refreshed, and this
    // computer's clock may be days off. "Now" is the stamp it gives a file of our own, flushed
    // and read through its descriptor, before anything is asked what is referenced: a change
    // published after it relies only on contents stamped within the grace period before it.
    qint64 now = 0;
    {
        Temporary clock = createTemporary();
        syncFile(clock.fd.get(), clock.path);
        struct stat status {};
        if (::fstat(clock.fd.get(), &status) != 0)
            throw StorageError::fromErrno(errno, clock.path, QStringLiteral("stat"));
        now = nanoseconds(status.st_mtim);
    }
    const std::optional<QSet<ContentHash>> found = referencedNow();
    if (!found)
        return 0;
    const QSet<ContentHash>& referenced = *found;
    // Stamped at the cutoff or before: unused for the whole grace period.
    const qint64 cutoff = now - qint64(gracePeriod.count()) * 1000000000;

    int removed = 0;
    collectShards(shards, temporaryFd.get(), referenced, cutoff, removed);
    // Packs are in shards of their own, their temporary files beside them (their name is known
    // only once they are written) and the marker of a damaged one beside it.
    // (Opened twice: a descriptor's duplicate shares its place in the listing.)
    const int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    Listing packShards(::openat(shards.fd(), "packs", folderFlags));
    if (packShards.isOpen()) {
        collectShards(packShards, temporaryFd.get(), referenced, cutoff, removed);
        const UniqueFd packs(::openat(shards.fd(), "packs", folderFlags));
        if (packs.isOpen())
            removeOldTemporaries(packs.get(), cutoff);
    }

    for (const QString& folder : writersFolders)
        removeOldTemporariesWithin(folder, cutoff);

    Listing temporaries(::dup(temporaryFd.get()));
    if (temporaries.isOpen()) {
        while (const dirent* entry = temporaries.next()) {
            const char* name = entry->d_name;
            struct stat status {};
            if (::fstatat(temporaries.fd(), name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)
                && nanoseconds(status.st_mtim) <= cutoff)
                ::unlinkat(temporaries.fd(), name, 0);
        }
    }
    return removed;
}

} // namespace vantrel
