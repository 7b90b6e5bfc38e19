#include "engine/storage/statcache.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/read_limits.h"

#include <QDataStream>
#include <QIODevice>
#include <QMutexLocker>

#include <algorithm>
#include <sys/stat.h>
#include <vector>

namespace vantrel {

namespace {

constexpr quint32 magic = 0x56545343; // "VTSC"
constexpr quint32 formatVersion = 1;

qint64 nanoseconds(const timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

StatCache::Entry StatCache::Entry::fromStat(const struct ::stat& status)
{
    Entry entry;
    entry.size = status.st_size;
    entry.modifiedNs = nanoseconds(status.st_mtim);
    entry.changedNs = nanoseconds(status.st_ctim);
    entry.inode = status.st_ino;
    entry.device = status.st_dev;
    return entry;
}

bool StatCache::Entry::sameState(const Entry& other) const
{
    return size == other.size && modifiedNs == other.modifiedNs && changedNs == other.changedNs && inode == other.inode
           && device == other.device;
}

StatCache::StatCache(QString filePath) : m_filePath(std::move(filePath)) {}

void StatCache::load()
{
    QByteArray data;
    try {
        data = readWholeFile(m_filePath, readLimits::statCache);
    } catch (const StorageError&) {
        data.clear();
    }
    QHash<QString, Entry> entries;
    QDataStream stream(data);
    stream.setVersion(QDataStream::Qt_6_4);
    quint32 fileMagic = 0;
    quint32 version = 0;
    qint64 count = 0;
    stream >> fileMagic >> version >> count;
    if (stream.status() == QDataStream::Ok && fileMagic == magic && version == formatVersion && count >= 0
        && count <= capacity) {
        entries.reserve(count);
        for (qint64 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
            QString path;
            Entry entry;
            QByteArray hash;
            stream >> path >> entry.size >> entry.modifiedNs >> entry.changedNs >> entry.inode >> entry.device >> hash
                >> entry.recordedNs;
            const auto parsed = ContentHash::fromBytes(hash);
            if (!parsed) {
                stream.setStatus(QDataStream::ReadCorruptData);
                break;
            }
            entry.hash = *parsed;
            entries.insert(path, entry);
        }
        if (stream.status() != QDataStream::Ok || !stream.atEnd())
            entries.clear();
    }
    QMutexLocker locker(&m_mutex);
    m_entries = std::move(entries);
}

void StatCache::save() const
{
    QByteArray data;
    {
        QMutexLocker locker(&m_mutex);
        std::vector<QHash<QString, Entry>::const_iterator> kept;
        kept.reserve(static_cast<size_t>(m_entries.size()));
        for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
            kept.push_back(it);
        if (kept.size() > static_cast<size_t>(capacity)) {
            std::nth_element(kept.begin(), kept.begin() + capacity, kept.end(),
                             [](const auto& a, const auto& b) { return a->recordedNs > b->recordedNs; });
            kept.resize(static_cast<size_t>(capacity));
        }
        QDataStream stream(&data, QIODevice::WriteOnly);
        stream.setVersion(QDataStream::Qt_6_4);
        stream << magic << formatVersion << qint64(kept.size());
        for (const auto& it : kept) {
            const Entry& entry = it.value();
            stream << it.key() << entry.size << entry.modifiedNs << entry.changedNs << entry.inode << entry.device
                   << entry.hash.bytes() << entry.recordedNs;
        }
    }
    ensureDirectory(posix::parentPath(m_filePath));
    writeFileAtomically(m_filePath, data, Durability::replaceable); // a lost cache is only a slower next snapshot
}

std::optional<StatCache::Entry> StatCache::lookup(const QString& absolutePath) const
{
    QMutexLocker locker(&m_mutex);
    const auto it = m_entries.constFind(absolutePath);
    if (it == m_entries.cend())
        return std::nullopt;
    return *it;
}

void StatCache::record(const QString& absolutePath, const Entry& entry)
{
    QMutexLocker locker(&m_mutex);
    m_entries.insert(absolutePath, entry);
}

void StatCache::forget(const QString& absolutePath)
{
    QMutexLocker locker(&m_mutex);
    m_entries.remove(absolutePath);
}

qsizetype StatCache::size() const
{
    QMutexLocker locker(&m_mutex);
    return m_entries.size();
}

std::optional<ContentHash> StatCache::unchangedHash(const QString& absolutePath, const Entry& current) const
{
    const auto recorded = lookup(absolutePath);
    if (!recorded || !recorded->sameState(current) || recorded->recordedNs - recorded->modifiedNs < settleTimeNs)
        return std::nullopt;
    return recorded->hash;
}

} // namespace vantrel
