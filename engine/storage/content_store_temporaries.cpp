// The store's temporary files: named after the client and the process writing them, so that a
// client removes its own left-overs at once, never another's, nor one that is still being written.

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
        return removed;
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
