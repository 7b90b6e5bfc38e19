// Keeping the chunk cache within its bound: the oldest entries go first, listed in the background.

#include "engine/storage/chunks/chunk_cache.h"

#include "engine/storage/atomic_file.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel {

namespace {

// Temporary files older than this are left-overs of a process that ended while writing.
constexpr time_t abandonedSeconds = 3600;

bool isHexName(const char* name, size_t length)
{
    if (std::strlen(name) != length)
        return false;
    return std::all_of(name, name + length, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

struct Entry {
    QByteArray path;
    qint64 size = 0;
    timespec used{};
};

bool usedEarlier(const Entry& a, const Entry& b)
{
    return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec : a.used.tv_nsec < b.used.tv_nsec;
}

// The regular files named by a hash in the shard folders of `folder`. What else has a hash's name
// (a link, a folder) is damage and goes; so do temporary files abandoned long ago.
std::vector<Entry> listEntries(const QByteArray& folder)
{
    std::vector<Entry> entries;
    DIR* top = ::opendir(folder.constData());
    if (!top)
        return entries;
    const time_t now = ::time(nullptr);
    while (const dirent* shard = ::readdir(top)) {
        const bool isTemporaries = std::strcmp(shard->d_name, "tmp") == 0;
        if (!isTemporaries && !isHexName(shard->d_name, 2))
            continue;
        const QByteArray shardPath = folder + '/' + shard->d_name;
        DIR* inner = ::opendir(shardPath.constData());
        if (!inner)
            continue;
        ChunkCache::makePrivate(shardPath);
        while (const dirent* item = ::readdir(inner)) {
            if (item->d_name[0] == '.')
                continue;
            const QByteArray path = shardPath + '/' + item->d_name;
            struct stat status {};
            if (::lstat(path.constData(), &status) != 0)
                continue;
            if (isTemporaries) {
                if (now - status.st_mtim.tv_sec > abandonedSeconds)
                    posix::removeTreeQuietly(QFile::decodeName(path));
            } else if (isHexName(item->d_name, 64)) {
                if (S_ISREG(status.st_mode))
                    entries.push_back({path, qint64(status.st_size), status.st_mtim});
                else
                    posix::removeTreeQuietly(QFile::decodeName(path));
            }
        }
        ::closedir(inner);
    }
    ::closedir(top);
    return entries;
}

} // namespace

void ChunkCache::added(qint64 bytes)
{
    const std::lock_guard lock(m_mutex);
    if (m_trimming) {
        // It may or may not be in the listing: counted again once the trim is done, since
        // counting it twice only brings the next trim forward.
        m_keptDuringTrim += bytes;
        return;
    }
    if (m_estimate < 0)
        return; // the first listing, still to come, counts it
    m_estimate += bytes;
    if (m_estimate > m_threshold && !m_trimWanted) {
        m_trimWanted = true;
        m_wake.notify_one();
    }
}

void ChunkCache::waitUntilIdle()
{
    std::unique_lock lock(m_mutex);
    m_queueChanged.wait(lock, [this] { return m_queued.isEmpty(); });
    m_idle.wait(lock, [this] { return !m_trimWanted && !m_trimming; });
}

void ChunkCache::trimLoop()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_trimWanted || m_stopping; });
        if (m_stopping)
            break;
        m_trimWanted = false;
        m_trimming = true;
        m_keptDuringTrim = 0;
        lock.unlock();
        trim();
        lock.lock();
        m_trimming = false;
        m_estimate += m_keptDuringTrim;
        if (m_estimate > m_threshold)
            m_trimWanted = true;
        else
            m_idle.notify_all();
    }
    m_trimWanted = false;
    m_idle.notify_all();
}

void ChunkCache::trim()
{
    std::vector<Entry> entries = listEntries(QFile::encodeName(m_folder));
    qint64 total = 0;
    for (const Entry& entry : entries)
        total += entry.size;
    if (total > m_bound) {
        std::sort(entries.begin(), entries.end(), usedEarlier);
        const qint64 target = m_bound - m_bound / 10;
        for (const Entry& entry : entries) {
            if (total <= target)
                break;
            if (::unlink(entry.path.constData()) == 0 || errno == ENOENT)
                total -= entry.size;
        }
    }
    const std::lock_guard lock(m_mutex);
    m_estimate = total;
    // Entries that could not be removed are not listed again before a tenth of the bound more.
    m_threshold = std::max(m_bound, total + m_bound / 10);
}

} // namespace vantrel
