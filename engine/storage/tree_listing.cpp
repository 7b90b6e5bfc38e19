#include "engine/storage/tree_listing.h"

#include "engine/storage/folder_tree.h"
#include "engine/storage/parallel_jobs.h"

#include <QFile>
#include <QThreadPool>

#include <condition_variable>
#include <mutex>

namespace vantrel::listing {

namespace {

// Threads that only wait for the disk's metadata, kept between walks: starting threads for each
// level of folders would cost more than the listings themselves on a warm cache.
QThreadPool& listingPool()
{
    static QThreadPool* pool = [] {
        auto* created = new QThreadPool();
        created->setMaxThreadCount(storageWorkerCount());
        return created;
    }();
    return *pool;
}

// Each folder is one job, which starts the jobs of its subfolders as soon as it has looked at
// them: no level waits for the slowest folder of the one above.
class AheadListing {
public:
    AheadListing(const std::function<bool(const QString&)>& excludeDirectory, Source source)
        : m_excludeDirectory(excludeDirectory),
          m_source(source)
    {
    }

    QHash<QString, Listed> run(const QString& source)
    {
        std::unique_lock lock(m_mutex);
        startLocked(source, QString(), 0);
        m_idle.wait(lock, [this] { return m_pending == 0; });
        return std::move(m_listed);
    }

private:
    void startLocked(const QString& path, const QString& relativePath, int depth)
    {
        ++m_pending;
        listingPool().start([this, path, relativePath, depth] { list(path, relativePath, depth); });
    }

    void list(const QString& path, const QString& relativePath, int depth)
    {
        Listed listed;
        bool ok = true;
        try {
            listed.names = listFolder(path, m_source);
            listed.looked = lookAll(path, listed.names, m_source);
        } catch (const StorageError&) {
            ok = false; // left to the walk, which fails there as it would have
        }
        const std::lock_guard lock(m_mutex);
        if (ok) {
            m_entries += listed.names.size();
            for (qsizetype item = 0; item < listed.names.size(); ++item) {
                const Looked& looked = listed.looked[size_t(item)];
                if (looked.error != 0 || !S_ISDIR(looked.status.st_mode) || depth >= treeLimits::maxDepth
                    || m_entries > treeLimits::maxEntries)
                    continue;
                const QByteArray& raw = listed.names.at(item);
                const QString name = QFile::decodeName(raw);
                const QString child = relativePath.isEmpty() ? name : relativePath + u'/' + name;
                if (QFile::encodeName(name) != raw || (m_excludeDirectory && m_excludeDirectory(child)))
                    continue;
                startLocked(path + u'/' + name, child, depth + 1);
            }
            m_listed.insert(path, std::move(listed));
        }
        if (--m_pending == 0)
            m_idle.notify_all();
    }

    const std::function<bool(const QString&)>& m_excludeDirectory;
    const Source m_source;
    std::mutex m_mutex;
    std::condition_variable m_idle;
    qsizetype m_pending = 0;
    qint64 m_entries = 0;
    QHash<QString, Listed> m_listed;
};

} // namespace

QHash<QString, Listed> listTreeAhead(const QString& source,
                                     const std::function<bool(const QString& relativePath)>& excludeDirectory,
                                     Source on)
{
    AheadListing listing(excludeDirectory, on);
    return listing.run(source);
}

} // namespace vantrel::listing
