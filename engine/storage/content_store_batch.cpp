// Storing many contents at once, waiting for the disk a few times instead of twice per content.

#include "engine/storage/atomic_file.h"
#include "engine/storage/content_store.h"
#include "engine/storage/content_store_temporary.h"
#include "engine/storage/parallel_jobs.h"
#include "engine/storage/storage_error.h"

#include <utility>

namespace vantrel {

using namespace posix;

namespace {

// Temporary files flushed and moved together. Each holds a descriptor until then, so this also
// bounds the descriptors a batch holds; by the time the last of a group is written, the first
// ones are mostly on disk.
constexpr size_t groupSize = 64;

// Files up to this size are read whole before anything is written: their hash is then known,
// so they are written beside their place (see createTemporaryFor()), and not at all when stored
// already.
constexpr qint64 readWhole = 4 * 1024 * 1024;

} // namespace

struct ContentStore::Batch::Pending {
    Temporary temporary;
    Stored stored;
};

ContentStore::Batch::Batch(ContentStore& store) : m_store(store) {}

ContentStore::Batch::~Batch() = default;

ContentStore::Stored ContentStore::Batch::storeFile(const QString& path)
{
    if (auto small = m_store.readSmallFile(path, readWhole)) {
        storeHashed(small->first.hash, small->second);
        return small->first;
    }
    Temporary temporary;
    const Stored stored = m_store.readIntoTemporary(path, temporary);
    {
        const std::lock_guard lock(m_mutex);
        if (m_accepted.contains(stored.hash))
            return stored; // the same content, stored through this batch already
    }
    if (m_store.reuseIntact(stored.hash, stored.size)) {
        keepName(stored.hash);
        return stored;
    }
    add(std::move(temporary), stored);
    return stored;
}

ContentHash ContentStore::Batch::storeBytes(QByteArrayView data)
{
    const ContentHash hash = hashBytes(data);
    storeHashed(hash, data);
    return hash;
}

bool ContentStore::Batch::storeHashed(const ContentHash& hash, QByteArrayView data)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_accepted.contains(hash))
            return false;
    }
    if (m_store.reuseIntactBytes(hash, data.size())) {
        keepName(hash);
        return false;
    }
    Temporary temporary = m_store.createTemporaryFor(hash);
    writeAll(temporary.fd.get(), data.data(), static_cast<size_t>(data.size()), m_store.folder());
    add(std::move(temporary), {hash, data.size()});
    return true;
}

void ContentStore::Batch::add(Temporary&& temporary, const Stored& stored)
{
    startWriteBack(temporary.fd.get());
    std::vector<Pending> full;
    {
        const std::lock_guard lock(m_mutex);
        m_accepted.insert(stored.hash);
        m_pending.push_back({std::move(temporary), stored});
        if (m_pending.size() < groupSize)
            return;
        full.swap(m_pending);
    }
    installAll(full);
}

void ContentStore::Batch::install(Pending& item)
{
    // Where the share refuses to replace a file in use, an existing object of the right size is
    // kept.
    try {
        m_store.place(item.temporary, item.stored.hash);
    } catch (const StorageError&) {
        if (!m_store.reuseExisting(item.stored.hash, item.stored.size))
            throw;
    }
    keepName(item.stored.hash);
}

void ContentStore::Batch::installAll(std::vector<Pending>& pending)
{
    for (Pending& item : pending)
        install(item);
}

// A content found stored is relied on as much as one written: its name is flushed too, in case
// whoever wrote it has not done so yet.
void ContentStore::Batch::keepName(const ContentHash& hash)
{
    const QString folder = parentPath(m_store.pathFor(hash));
    const std::lock_guard lock(m_mutex);
    m_folders.insert(folder);
}

void ContentStore::Batch::finish()
{
    std::vector<Pending> rest;
    {
        const std::lock_guard lock(m_mutex);
        rest.swap(m_pending);
    }
    // The last ones are flushed side by side: their waits for the disk overlap.
    runInParallel(
        qsizetype(rest.size()),
        [&](qsizetype index) {
            install(rest[size_t(index)]);
            return qint64(0);
        },
        0, {});
    QList<QString> folders;
    {
        const std::lock_guard lock(m_mutex);
        folders = m_folders.values();
        m_folders.clear();
    }
    runInParallel(
        folders.size(),
        [&](qsizetype index) {
            fsyncDirectory(folders.at(index));
            return qint64(0);
        },
        0, {});
}

} // namespace vantrel
