// The store's temporary files: named after the client and the process writing them, so that a
// client removes its own left-overs at once, never another's, nor one that is still being written.
// And the objects a failed change installed, which are its own to remove while nobody relies on
// them.

#include "engine/storage/content_store.h"
#include "engine/storage/content_store_temporary.h"

#include "engine/storage/atomic_file.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

using namespace posix;
using content_store::temporaryFolder;

namespace {

// Tells this process's temporary files from those of an earlier run of the same client. A client
// id is one process at a time, so every other process that wrote under it has ended.
const QString& processToken()
{
    static const QString token = randomToken();
    return token;
}

constexpr qsizetype tokenLength = 16;

// The objects of failed changes kept in memory for a later try while the share is away; what
// goes beyond is left to garbage collection.
constexpr size_t notedObjectsKept = 1 << 16;

// The state of the file opened by name at `path` (never through a link): a share may answer a
// name's attributes from a cache, but not an open. The errno on failure.
int statOpened(const QByteArray& path, struct stat& status)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int result = ::fstat(fd, &status) == 0 ? 0 : errno;
    ::close(fd);
    return result;
}

bool noHardLinks(int error)
{
    return error == EPERM || error == ENOSYS || error == EOPNOTSUPP || error == EMLINK || error == EXDEV;
}

bool isToken(const char* text)
{
    for (qsizetype i = 0; i < tokenLength; ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace

ContentStore::Written::~Written()
{
    std::vector<OwnObject> objects;
    {
        std::lock_guard lock(m_mutex);
        if (m_kept)
            return;
        objects.swap(m_objects);
    }
    if (!objects.empty())
        m_store.removeOwnObjects(std::move(objects));
}

void ContentStore::Written::add(OwnObject object)
{
    std::lock_guard lock(m_mutex);
    Leftovers& leftovers = *m_store.m_leftovers;
    {
        std::lock_guard registry(leftovers.mutex);
        auto& holders = leftovers.removable[object.hash];
        if (holders++ == 0)
            leftovers.removableCount.fetch_add(1, std::memory_order_relaxed);
    }
    m_objects.push_back(std::move(object));
}

void ContentStore::Written::keep()
{
    std::lock_guard lock(m_mutex);
    m_kept = true;
    Leftovers& leftovers = *m_store.m_leftovers;
    std::lock_guard registry(leftovers.mutex);
    for (const OwnObject& object : m_objects)
        leftovers.settle(object.hash);
    m_objects.clear();
}

bool ContentStore::Written::kept() const
{
    std::lock_guard lock(m_mutex);
    return m_kept;
}

// An object of a failed change is removed only while it is as this client installed it: a
// teammate (or this process) that found it stored since has touched it (utimensat) or renamed a
// copy of its own over it, and relies on it. It is looked at by name, renamed aside into the
// temporary folder (where no reader looks and no teammate touches it any more: one who looks for
// it now finds it absent and stores its own copy), looked at there again, and removed only when
// its device, inode, size and modification time are still those noted right after its rename
// into place (and its change time too before the rename aside, which changes it on a local file
// system); otherwise it goes back to its name, unless another copy is there by then.
//
// What remains: a share that keeps times to the second (sshfs, whose inodes number paths, not
// files) does not show a teammate's touch, nor a copy a teammate renamed over it, within the
// same second as the time noted, so such an object is removed although the teammate relies on
// it; touches by this process are seen (Leftovers::reused) whatever the times say. Between the
// rename aside and the way back, a teammate's read of it fails once. A process that ends in
// between leaves it aside, where its next run (or garbage collection) removes it.
void ContentStore::removeOwnObjects(std::vector<OwnObject> objects) noexcept
{
    try {
        std::vector<NotedObject> later;
        for (OwnObject& object : objects) {
            NotedObject entry{std::move(object)};
            if (!removeOwnObject(entry, false))
                later.push_back(std::move(entry));
        }
        keepForLater(later);
    } catch (...) {
        // Only allocation can fail: what is left goes at garbage collection.
    }
}

int ContentStore::removeNotedObjects() noexcept
{
    try {
        std::vector<NotedObject> noted;
        {
            std::lock_guard lock(m_leftovers->mutex);
            noted.swap(m_leftovers->objects);
        }
        int removed = 0;
        std::vector<NotedObject> later;
        for (NotedObject& entry : noted) {
            if (!removeOwnObject(entry, true))
                later.push_back(std::move(entry));
            else if (entry.removed)
                ++removed;
        }
        keepForLater(later);
        return removed;
    } catch (...) {
        return 0;
    }
}

void ContentStore::keepForLater(std::vector<NotedObject>& later)
{
    std::lock_guard lock(m_leftovers->mutex);
    for (NotedObject& entry : later) {
        if (m_leftovers->objects.size() < notedObjectsKept || !entry.aside.isEmpty())
            m_leftovers->objects.push_back(std::move(entry));
        else
            m_leftovers->settle(entry.object.hash);
    }
}

// One step after the other, as far as the share lets it; whether the object is settled (removed,
// or left to whoever relies on it), else it is tried again later. `reached`: the share was just
// seen to be there, so an object not found is gone (otherwise an unmounted share, which shows its
// empty mount point, may be all that was found).
bool ContentStore::removeOwnObject(NotedObject& entry, bool reached) noexcept
{
    try {
        const OwnObject& object = entry.object;
        const auto sameObject = [&object](const struct stat& status, bool withChange) {
            return S_ISREG(status.st_mode) && quint64(status.st_dev) == object.device
                   && quint64(status.st_ino) == object.inode && status.st_size == object.size
                   && content_store::nanoseconds(status.st_mtim) == object.modifiedNs
                   && (!withChange || content_store::nanoseconds(status.st_ctim) == object.changedNs);
        };
        const QByteArray target = nativePath(pathOf(object));
        const auto reused = [this, &object] {
            std::lock_guard lock(m_leftovers->mutex);
            return m_leftovers->reused.contains(object.hash);
        };
        const auto settle = [this, &object] {
            std::lock_guard lock(m_leftovers->mutex);
            m_leftovers->settle(object.hash);
            return true;
        };
        const auto notThere = [&](int error) { return error == ENOENT && reached && settle(); };
        struct stat status {};
        if (entry.aside.isEmpty()) {
            if (reused())
                return settle();
            if (const int error = statOpened(target, status))
                return notThere(error);
            if (!sameObject(status, true))
                return settle();
            const QString folder = temporaryFolder(m_folder);
            claimFolder(folder);
            const QString aside = folder + u'/' + temporaryName();
            if (::rename(target.constData(), nativePath(aside).constData()) != 0)
                return errno == EBUSY ? settle() : notThere(errno); // in use elsewhere: it stays
            entry.aside = aside;
        }
        const QByteArray aside = nativePath(entry.aside);
        if (!entry.putBack) {
            if (const int error = statOpened(aside, status))
                return notThere(error);
            // A touch by this process is noted before it is made: one that came before the
            // rename is seen now.
            if (sameObject(status, false) && !reused()) {
                if (::unlink(aside.constData()) != 0 && errno != ENOENT)
                    return false;
                entry.removed = true;
                return settle();
            }
            entry.putBack = true;
        }
        // Linked back, so that a copy stored there meanwhile is never replaced (it holds the same
        // bytes); renamed back only where the share has no hard links and the name is free.
        if (::link(aside.constData(), target.constData()) != 0) {
            const int error = errno;
            if (error != EEXIST && !noHardLinks(error))
                return false;
            if (error != EEXIST && ::lstat(target.constData(), &status) != 0) {
                if (errno != ENOENT)
                    return false;
                return ::rename(aside.constData(), target.constData()) == 0 ? settle() : false;
            }
        }
        if (::unlink(aside.constData()) != 0 && errno != ENOENT)
            m_leftovers->note(entry.aside);
        return settle();
    } catch (...) {
        return false;
    }
}

QString ContentStore::temporaryName() const
{
    if (m_owner.isEmpty())
        return randomToken();
    return m_owner + u'.' + processToken() + u'.' + randomToken();
}

int ContentStore::removeOwnTemporaries() noexcept
{
    try {
        QStringList noted;
        bool firstCall = false;
        {
            std::lock_guard lock(m_leftovers->mutex);
            noted.swap(m_leftovers->paths);
            firstCall = !std::exchange(m_leftovers->earlierRunsRemoved, true);
        }
        int removed = 0;
        QStringList kept;
        for (const QString& path : std::as_const(noted)) {
            if (::unlink(nativePath(path).constData()) == 0)
                ++removed;
            else if (errno != ENOENT)
                kept << path;
        }
        if (!kept.isEmpty()) {
            std::lock_guard lock(m_leftovers->mutex);
            m_leftovers->paths += kept;
        }
        if (firstCall && !m_owner.isEmpty())
            removed += removeEarlierRuns();
        return removed + removeNotedObjects();
    } catch (...) {
        return 0; // only allocation can fail: tried again at the next start
    }
}

// `<owner>.<process>.<random>`, of another process than this one: a crash, or a share that was
// gone when the file was to be removed.
int ContentStore::removeEarlierRuns()
{
    const QByteArray folder = nativePath(temporaryFolder(m_folder));
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0;
    DIR* entries = ::fdopendir(fd);
    if (!entries) {
        ::close(fd);
        return 0;
    }
    const QByteArray owner = nativePath(m_owner) + '.';
    const QByteArray ours = owner + nativePath(processToken()) + '.';
    int removed = 0;
    while (const dirent* entry = ::readdir(entries)) {
        const QByteArrayView name(entry->d_name);
        if (name.size() != owner.size() + 2 * tokenLength + 1 || !name.startsWith(owner) || name.startsWith(ours)
            || !isToken(entry->d_name + owner.size()) || name[owner.size() + tokenLength] != '.'
            || !isToken(entry->d_name + owner.size() + tokenLength + 1))
            continue;
        struct stat status {};
        if (::fstatat(::dirfd(entries), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)
            && ::unlinkat(::dirfd(entries), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(entries);
    return removed;
}

} // namespace vantrel
